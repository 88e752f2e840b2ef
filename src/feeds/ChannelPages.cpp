#include "feeds/ChannelPages.h"

#include "feeds/HTMLSanitizer.h"
#include "feeds/HTMLTemplateParser.h"
#include "feeds/Uri.h"
#include "shell/ReaderBranding.h"
#include "store/QuillmarDocCore.h"

#include <QFile>
#include <QSaveFile>
#include <algorithm>

const QString ActiveContentRemoved = QStringLiteral("[Active content removed]");
const QByteArray ChannelHasNoTopics =
    QByteArrayLiteral("<div class='topic'>Channel has no topics</div>");
const QByteArray ClickOnChannelToView =
    QByteArrayLiteral("<div class='topic'>Click on a channel to view feeds</div>");
const QString VendorAboutAddress = QStringLiteral("https://vantrell.example/about");

namespace {

const QByteArray Visible = QByteArrayLiteral("visible");
const QByteArray Hidden = QByteArrayLiteral("none");
const QByteArray Utf8ByteOrderMark = QByteArrayLiteral("\xEF\xBB\xBF");

const TChannel* AsChannel(const TFolder* folder) {
    return folder && folder->IsChannel() ? static_cast<const TChannel*>(folder) : nullptr;
}

// The address ready for an href: safe, or "#", and escaped for the attribute.
QString LinkValue(const QString& address, const QString& base) {
    const QString safe = SafeLinkAddress(address, TLinkUse::Link, base);
    return EscapeHtml(safe.isEmpty() ? QStringLiteral("#") : safe);
}

// The address a topic's relative links are read against: its own link when it is a web
// address, else its channel's site.
QString TopicBase(const QuillmarDocCore::TTopic& topic) {
    const TChannel* channel = AsChannel(topic.Owner);
    const QString channelSite =
        channel ? SafeLinkAddress(channel->Link, TLinkUse::Link, channel->Url()) : QString();
    const QString own = SafeLinkAddress(topic.Link, TLinkUse::Link, channelSite);
    if (own.startsWith(u"http", Qt::CaseInsensitive))
        return own;
    return channelSite;
}

// The channel a topic page is headed by: the item the topic came from when its entry
// names one the document still has, else the item holding it.
const TFolder* HeadingFolderOf(const QuillmarDocCore::TTopic& topic) {
    if (topic.Index && !topic.Index->Origin.isEmpty() && topic.Owner && topic.Owner->Store()) {
        if (const TFolder* origin = topic.Owner->Store()->FolderByStorageName(topic.Index->Origin))
            return origin;
    }
    return topic.Owner;
}

// A template saved with a byte-order mark brings one along with every topic it renders;
// only the page's first byte may carry it.
void AppendWithoutByteOrderMark(QByteArray& target, const QByteArray& piece) {
    if (piece.startsWith(Utf8ByteOrderMark))
        target.append(piece.constData() + Utf8ByteOrderMark.size(),
                      piece.size() - Utf8ByteOrderMark.size());
    else
        target.append(piece);
}

void UseTemplate(TTemplateParser& parser, const TPageTemplate& page) {
    if (page.FromFile)
        parser.SetFileName(page.Name);
    else
        parser.SetResourceName(page.Name);
}

void WritePage(const QByteArray& page, const QString& fileName) {
    if (page.isEmpty())
        throw EPageError(QStringLiteral("The page is empty; %1 was not written").arg(fileName));
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        throw EPageError(QStringLiteral("Cannot create %1: %2").arg(fileName, file.errorString()));
    if (file.write(page) != page.size() || !file.commit())
        throw EPageError(QStringLiteral("Cannot write %1: %2").arg(fileName, file.errorString()));
}

// The element names whose tags RemoveActiveContent turns into comments, in its order.
struct TActiveElement {
    QLatin1String Name;
    bool Marked; // a visible line stands in its place
};
constexpr TActiveElement ActiveElements[] = {{QLatin1String("script"), false},
                                             {QLatin1String("embed"), true},
                                             {QLatin1String("object"), true}};

bool MatchesAt(QStringView text, qsizetype at, QLatin1String word) {
    return at + word.size() <= text.size() &&
           text.mid(at, word.size()).compare(word, Qt::CaseInsensitive) == 0;
}

// A comment opened for an element is meant to end with the element's end tag
// ("/embed-->"). When the next "-->" is something else (an <embed> has no end tag, and a
// later comment of the description would close it), the comment would swallow the text
// up to there: it is closed right after the tag it turned into a comment instead.
// openers holds where each "<!--name" begins, in order.
QString CloseOpenComments(QString text, const QList<std::pair<qsizetype, QLatin1String>>& openers) {
    static const QLatin1String closer("-->");
    qsizetype from = 0;
    qsizetype shift = 0; // characters inserted before the openers still to come
    for (const auto& [position, name] : openers) {
        const qsizetype opened = position + shift;
        if (opened < from)
            continue; // inside a comment closed further on
        const qsizetype nameEnd = opened + 4 + name.size();
        const qsizetype closed = text.indexOf(closer, nameEnd);
        if (closed >= nameEnd + name.size() + 1 && text.at(closed - name.size() - 1) == u'/' &&
            MatchesAt(text, closed - name.size(), name)) {
            from = closed + closer.size();
            continue;
        }
        const qsizetype tagEnd = text.indexOf(u'>', nameEnd);
        const qsizetype insertAt = tagEnd >= 0 ? tagEnd + 1 : text.size();
        text.insert(insertAt, closer);
        shift += closer.size();
        from = insertAt + closer.size();
    }
    return text;
}

} // namespace

TChannelPageTemplates ChannelPageTemplates(const TFolder& folder, const TBranding& branding) {
    if (!folder.Protected() && branding.StandardTemplatesPresent)
        return {{branding.ChannelTemplatePath, true}, {branding.ChannelTopicTemplatePath, true}};
    if (folder.Protected() && branding.BrandedTemplatesPresent)
        return {{branding.BrandedChannelTemplatePath, true},
                {branding.BrandedChannelTopicTemplatePath, true}};
    return {{QStringLiteral("channel"), false}, {QStringLiteral("channel_topic"), false}};
}

TPageTemplate TopicPageTemplate(const TFolder* topicFolder, const TBranding& branding) {
    if (!branding.TopicTemplatePresent)
        return {QStringLiteral("topic"), false};
    if (topicFolder && topicFolder->Protected())
        return {branding.BrandedTopicTemplatePath, true};
    return {branding.TopicTemplatePath, true};
}

TChannelPageTemplates ExportChannelTemplates() {
    return {{QStringLiteral("export_channel"), false},
            {QStringLiteral("export_channel_topic"), false}};
}

TPageTemplate ExportTopicTemplate() {
    return {QStringLiteral("export_topic"), false};
}

void FillChannelValues(TTemplateParser& parser, const TFolder* folder) {
    const TChannel* channel = AsChannel(folder);
    TImageData image;
    QByteArray copyrightVisible = Hidden;
    QString site;
    if (channel) {
        image = channel->Image;
        site = SafeLinkAddress(channel->Link, TLinkUse::Link, channel->Url());
        parser.SetWideValue("channel_url", LinkValue(channel->Link, channel->Url()));
        if (!channel->Copyright().isEmpty()) {
            parser.SetWideValue("channel_copyright", EscapeHtml(channel->Copyright()));
            copyrightVisible = Visible;
        }
    } else {
        // A folder has no site; its title links nowhere.
        parser.SetValue("channel_url", "#");
    }
    parser.SetValue("copyright_visible", copyrightVisible);

    const QString author = channel ? channel->Author() : QString();
    if (!author.isEmpty()) {
        parser.SetWideValue("channel_author", EscapeHtml(author));
        parser.SetValue("channel_author_visible", Visible);
    } else {
        parser.SetValue("channel_author_visible", Hidden);
    }

    // A logo whose addresses are not safe is treated as no logo at all.
    const QString logoSrc = SafeLinkAddress(image.Src, TLinkUse::Image, site);
    const QString logoLink = SafeLinkAddress(image.Link, TLinkUse::Link, site);
    if (!image.Link.isEmpty() && !image.Src.isEmpty() && !logoSrc.isEmpty() &&
        !logoLink.isEmpty()) {
        parser.SetValue("logo_visible", Visible);
        parser.SetWideValue("logo_src", EscapeHtml(logoSrc));
        parser.SetWideValue("logo_link", EscapeHtml(logoLink));
        parser.SetWideValue("logo_title", EscapeHtml(image.Title));
    } else {
        parser.SetValue("logo_visible", Hidden);
    }

    parser.SetWideValue("channel_title", EscapeHtml(folder ? folder->Title() : QString()));
}

void FillTopicValues(TTemplateParser& parser, const QuillmarDocCore::TTopic& topic) {
    const QString base = TopicBase(topic);
    parser.SetWideValue("topic", EscapeHtml(topic.Title()));
    parser.SetWideValue("topic_descr",
                        SanitizeHtml(RemoveActiveContent(topic.Description()), base));
    if (!topic.Author.isEmpty()) {
        parser.SetWideValue("topic_author", EscapeHtml(topic.Author));
        parser.SetValue("topic_author_visible", Visible);
    } else {
        parser.SetValue("topic_author_visible", Hidden);
    }
    QString link = topic.Link;
    const TChannel* channel = AsChannel(topic.Owner);
    if (link.isEmpty() && channel)
        link = channel->Link;
    // UTF-8, so that a link with letters beyond ASCII keeps them.
    parser.SetWideValue("topic_link", LinkValue(link, base));
}

QString RemoveActiveContent(const QString& description) {
    // One pass does what the six replacements in a row do: no replacement's text
    // contains another one's pattern, and no two patterns can overlap.
    const QStringView text(description);
    QString result;
    result.reserve(description.size() + description.size() / 16);
    QList<std::pair<qsizetype, QLatin1String>> openers;
    qsizetype copied = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c != u'<' && c != u'/')
            continue;
        for (const TActiveElement& element : ActiveElements) {
            if (!MatchesAt(text, i + 1, element.Name))
                continue;
            const qsizetype end = i + 1 + element.Name.size();
            if (c == u'/' && (end >= text.size() || text.at(end) != u'>'))
                continue;
            result.append(text.mid(copied, i - copied));
            if (c == u'<') {
                if (element.Marked)
                    result.append(ActiveContentRemoved + QLatin1String("<br />"));
                openers.append({result.size(), element.Name});
                result.append(QLatin1String("<!--") + element.Name);
                copied = end;
            } else {
                result.append(u'/' + element.Name + QLatin1String("-->"));
                copied = end + 1;
            }
            i = copied - 1;
            break;
        }
    }
    if (openers.isEmpty() && copied == 0)
        return description;
    result.append(text.mid(copied));
    return CloseOpenComments(result, openers);
}

std::optional<QByteArray> BuildChannelPage(TFolder& folder, const QList<TTopicIndex*>& topics,
                                           const TChannelPageTemplates& templates,
                                           const TTopicLoader& loadTopic) {
    QByteArray topicsPage;
    TTemplateParser topicParser;
    UseTemplate(topicParser, templates.Topic);
    // One parser for every topic: a value one topic does not set keeps the previous
    // topic's, which is why the visibility flags are always set.
    int rendered = 0;
    QByteArray piece;
    for (TTopicIndex* entry : topics) {
        QuillmarDocCore::TTopic* topic = entry ? loadTopic(*entry) : nullptr;
        if (!topic)
            throw EPageError(QStringLiteral("No topic available"));
        FillTopicValues(topicParser, *topic);
        piece.clear();
        if (!topicParser.Render(piece))
            throw EPageError(
                QStringLiteral("Cannot read the page template %1").arg(templates.Topic.Name));
        AppendWithoutByteOrderMark(topicsPage, piece);
        ++rendered;
    }

    try {
        TTemplateParser frameParser;
        UseTemplate(frameParser, templates.Frame);
        FillChannelValues(frameParser, &folder);
        if (rendered > 0)
            frameParser.SetStream("channel_topics", topicsPage);
        else
            frameParser.SetValue("channel_topics",
                                 folder.IsChannel() ? ChannelHasNoTopics : ClickOnChannelToView);
        QByteArray page;
        if (!frameParser.Render(page))
            return std::nullopt;
        return page;
    } catch (const std::exception&) {
        // The caller keeps what it showed before; the page simply is not there.
        return std::nullopt;
    }
}

QByteArray BuildTopicPage(const QuillmarDocCore::TTopic& topic, const TPageTemplate& page) {
    TTemplateParser parser;
    UseTemplate(parser, page);
    FillChannelValues(parser, HeadingFolderOf(topic));
    FillTopicValues(parser, topic);
    QByteArray result;
    if (!parser.Render(result))
        throw EPageError(QStringLiteral("Cannot read the page template %1").arg(page.Name));
    return result;
}

void ExportChannelPage(TFolder& folder, const QList<TTopicIndex*>& topics,
                       const TTopicLoader& loadTopic, const QString& fileName) {
    const std::optional<QByteArray> page =
        BuildChannelPage(folder, topics, ExportChannelTemplates(), loadTopic);
    if (!page)
        throw EPageError(QStringLiteral("The channel page cannot be built"));
    WritePage(*page, fileName);
}

void ExportTopicPage(const QuillmarDocCore::TTopic& topic, const QString& fileName) {
    WritePage(BuildTopicPage(topic, ExportTopicTemplate()), fileName);
}

QList<TTopicIndex*> TopicsInListOrder(TFolder& folder, int sortOrder, bool inverted) {
    QList<TTopicIndex*> entries;
    entries.reserve(folder.TopicIndexCount());
    folder.RestartTopics();
    TTopicIndex* entry = nullptr;
    while (folder.NextTopic(entry))
        entries.append(entry);

    // Titles and authors are read once, not at every comparison.
    struct TRow {
        TTopicIndex* Entry;
        QString Text;
    };
    QList<TRow> rows;
    rows.reserve(entries.size());
    for (TTopicIndex* e : entries)
        rows.append({e, sortOrder == 0 ? e->Title() : sortOrder == 2 ? e->Author() : QString()});
    const auto less = [sortOrder](const TRow& a, const TRow& b) {
        if (sortOrder == 1)
            return a.Entry->Date < b.Entry->Date;
        if (sortOrder == 0 || sortOrder == 2)
            return a.Text < b.Text;
        return false;
    };
    if (inverted)
        std::stable_sort(rows.begin(), rows.end(),
                         [&less](const TRow& a, const TRow& b) { return less(b, a); });
    else
        std::stable_sort(rows.begin(), rows.end(), less);

    QList<TTopicIndex*> ordered;
    ordered.reserve(rows.size());
    for (const TRow& row : rows)
        ordered.append(row.Entry);
    return ordered;
}

QString BannerFileName(TBannerPosition position, bool online) {
    const QString name = position == TBannerPosition::Top ? QStringLiteral("top_banner")
                                                          : QStringLiteral("bottom_banner");
    return name + (online ? QStringLiteral(".html") : QStringLiteral("_offline.html"));
}

std::optional<QByteArray> BuildBannerPage(const QString& webFolder, TBannerPosition position,
                                          bool online, const TFolder* selected) {
    const QString path = webFolder + BannerFileName(position, online);
    if (!QFile::exists(path))
        return std::nullopt;
    TTemplateParser parser;
    parser.SetFileName(path);
    parser.SetWideValue("web", EscapeHtml(webFolder));
    const TChannel* channel = AsChannel(selected);
    // Form-encoding leaves only letters, digits, "+" and "%": safe in any context.
    parser.SetValue("channel_feed",
                    channel ? TUri::PercentEncode(channel->Url().toUtf8()) : QByteArray());
    QByteArray page;
    parser.Render(page);
    return page;
}

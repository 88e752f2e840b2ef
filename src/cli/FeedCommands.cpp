// "parse" and "convert": read a feed file the way a channel refresh reads a download,
// and show the model or write it back in another format.
#include "CliCommand.h"
#include "feeds/ChannelLoader.h"
#include "feeds/FeedDoc.h"
#include "feeds/Formatters.h"
#include "shell/Clock.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <cstdio>

namespace {

// --- Input ---

QByteArray ReadInput(const QString& name) {
    QFile file;
    bool opened = false;
    if (name == QLatin1String("-"))
        opened = file.open(stdin, QIODevice::ReadOnly);
    else {
        file.setFileName(name);
        opened = file.open(QIODevice::ReadOnly);
    }
    if (!opened)
        throw CliError(QStringLiteral("cannot read %1: %2").arg(name, file.errorString()), 2);
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw CliError(QStringLiteral("cannot read %1: %2").arg(name, file.errorString()), 2);
    return bytes;
}

void LoadOrFail(const QString& name, TFeed& feed) {
    QString failure;
    if (!TChannelLoader::LoadFeed(ReadInput(name), feed, &failure))
        throw CliError(
            QStringLiteral("%1: %2").arg(
                name == QLatin1String("-") ? QStringLiteral("standard input") : name, failure),
            2);
}

// --- The model as JSON ---

// Local date-time to the second, without a zone.
QString DateText(double days) {
    QDate date;
    QTime time;
    DecodeDays(days, &date, &time);
    return date.toString(Qt::ISODate) + u'T' + time.toString(QStringLiteral("HH:mm:ss"));
}

QJsonObject ITunesJson(const TiTunesCommonInformation& info) {
    QJsonArray categories;
    for (const TiTunesCategory* category : info.Categories)
        categories.append(category->Name);
    return {{QStringLiteral("Author"), info.Author},
            {QStringLiteral("Block"), info.Block},
            {QStringLiteral("Categories"), categories},
            {QStringLiteral("Explicit"), int(info.Explicit)},
            {QStringLiteral("Keywords"), info.Keywords},
            {QStringLiteral("Subtitle"), info.Subtitle},
            {QStringLiteral("Summary"), info.Summary}};
}

template <class T> QJsonObject PictureJson(const T& picture) {
    return {{QStringLiteral("Url"), picture.Url},
            {QStringLiteral("Height"), picture.Height},
            {QStringLiteral("Width"), picture.Width}};
}

QJsonObject MediaInformationJson(const TMediaInformation& info) {
    QJsonArray categories;
    for (const auto& category : info.Categories)
        categories.append(QJsonObject{{QStringLiteral("Scheme"), category->Scheme},
                                      {QStringLiteral("Label"), category->Label},
                                      {QStringLiteral("Text"), category->Text}});
    QJsonArray credits;
    for (const auto& credit : info.Credits)
        credits.append(QJsonObject{{QStringLiteral("Role"), credit->Role},
                                   {QStringLiteral("Text"), credit->Text}});
    QJsonArray texts;
    for (const auto& text : info.Texts)
        texts.append(QJsonObject{{QStringLiteral("Text"), text->Text},
                                 {QStringLiteral("IsHtml"), text->IsHtml}});
    return {{QStringLiteral("Adult"), info.Adult},
            {QStringLiteral("Title"), info.Title},
            {QStringLiteral("Thumbnail"), PictureJson(info.Thumbnail)},
            {QStringLiteral("Player"), PictureJson(info.Player)},
            {QStringLiteral("Hash"), info.Hash},
            {QStringLiteral("Categories"), categories},
            {QStringLiteral("Credits"), credits},
            {QStringLiteral("Texts"), texts}};
}

// The media information is shown only where something was read into it: most feeds
// have none, and a page of empty objects hides what matters.
void AddMediaInformation(QJsonObject& object, const QString& name, const TMediaInformation& info) {
    if (!info.IsEmpty())
        object.insert(name, MediaInformationJson(info));
}

QJsonObject MediaContentJson(const TEnclosure& content) {
    QJsonObject object{{QStringLiteral("Kind"), QStringLiteral("content")},
                       {QStringLiteral("Url"), content.Url},
                       {QStringLiteral("ContentType"), content.ContentType},
                       {QStringLiteral("Length"), content.Length},
                       {QStringLiteral("IsDefault"), content.IsDefault},
                       {QStringLiteral("Expression"), int(content.Expression)},
                       {QStringLiteral("Bitrate"), content.Bitrate},
                       {QStringLiteral("Framerate"), content.Framerate},
                       {QStringLiteral("Duration"), content.Duration},
                       {QStringLiteral("Height"), content.Height},
                       {QStringLiteral("Width"), content.Width}};
    AddMediaInformation(object, QStringLiteral("Information"), content.Information);
    return object;
}

QJsonObject MediaItemJson(const TMediaItem& item) {
    if (const auto* group = dynamic_cast<const TMediaGroup*>(&item)) {
        QJsonArray items;
        for (const auto& content : group->Items)
            items.append(MediaItemJson(*content));
        QJsonObject object{{QStringLiteral("Kind"), QStringLiteral("group")},
                           {QStringLiteral("Items"), items}};
        AddMediaInformation(object, QStringLiteral("Information"), group->Information);
        return object;
    }
    return MediaContentJson(static_cast<const TEnclosure&>(item));
}

QJsonObject TopicJson(const FeedDoc::TTopic& topic) {
    QJsonArray categories;
    for (const auto& category : topic.Categories)
        categories.append(QJsonObject{{QStringLiteral("Name"), category->Name},
                                      {QStringLiteral("Domain"), category->Domain}});
    QJsonArray media;
    for (const auto& item : topic.MediaItems)
        media.append(MediaItemJson(*item));
    QJsonObject object{{QStringLiteral("Id"), QString::fromUtf8(topic.Id)},
                       {QStringLiteral("Title"), topic.Title},
                       {QStringLiteral("Description"), topic.Description},
                       {QStringLiteral("Link"), topic.Link},
                       {QStringLiteral("Author"), topic.Author},
                       {QStringLiteral("Date"), DateText(topic.Date)},
                       {QStringLiteral("Categories"), categories},
                       {QStringLiteral("Enclosure"),
                        QJsonObject{{QStringLiteral("Url"), topic.Enclosure.Url},
                                    {QStringLiteral("ContentType"), topic.Enclosure.ContentType},
                                    {QStringLiteral("Length"), topic.Enclosure.Length}}},
                       {QStringLiteral("MediaItems"), media},
                       {QStringLiteral("ITunes"), ITunesJson(topic.ITunes)},
                       {QStringLiteral("ITunesTopic"),
                        QJsonObject{{QStringLiteral("Duration"), topic.ITunesTopic.Duration}}}};
    AddMediaInformation(object, QStringLiteral("MediaInformation"), topic.MediaInformation);
    return object;
}

QJsonObject FeedJson(const TFeed& feed, const QByteArray& formatName) {
    const TChannelInfo& channel = feed.Channel;
    const QJsonObject channelObject{
        {QStringLiteral("Id"), QString::fromUtf8(channel.Id)},
        {QStringLiteral("Title"), channel.Title},
        {QStringLiteral("Description"), channel.Description},
        {QStringLiteral("Link"), channel.Link},
        {QStringLiteral("SelfLink"), channel.SelfLink},
        {QStringLiteral("Language"), channel.Language},
        {QStringLiteral("Author"), channel.Author},
        {QStringLiteral("Rights"), channel.Rights},
        {QStringLiteral("Date"), DateText(channel.Date)},
        {QStringLiteral("ImageUrl"), channel.ImageUrl},
        {QStringLiteral("ImageTitle"), channel.ImageTitle},
        {QStringLiteral("ImageLink"), channel.ImageLink},
        {QStringLiteral("ITunes"), ITunesJson(channel.ITunes)},
        {QStringLiteral("ITunesFeed"),
         QJsonObject{{QStringLiteral("NewFeedUrl"), channel.ITunesFeed.NewFeedUrl},
                     {QStringLiteral("Owner"), channel.ITunesFeed.Owner}}}};
    QJsonArray topics;
    for (const auto& topic : feed.Topics)
        topics.append(TopicJson(*topic));
    return {{QStringLiteral("format"), QString::fromLatin1(formatName)},
            {QStringLiteral("formatter"), QString::fromLatin1(feed.FormatterClass->ClassName)},
            {QStringLiteral("channel"), channelObject},
            {QStringLiteral("topics"), topics}};
}

// --- The summary ---

// One line of text: feeds put line breaks and tabs into titles.
QString OneLine(const QString& text) {
    return text.simplified();
}

void PrintSummary(const TFeed& feed, const QByteArray& formatName) {
    const TChannelInfo& channel = feed.Channel;
    QTextStream& out = Out();
    out << "Format:    " << formatName << " (" << feed.FormatterClass->ClassName << ")\n";
    out << "Title:     " << OneLine(channel.Title) << '\n';
    out << "Link:      " << OneLine(channel.Link) << '\n';
    if (!channel.SelfLink.isEmpty())
        out << "Feed:      " << OneLine(channel.SelfLink) << '\n';
    out << "Language:  " << channel.Language << '\n';
    if (!channel.Author.isEmpty())
        out << "Author:    " << OneLine(channel.Author) << '\n';
    out << "Date:      " << DateText(channel.Date) << '\n';
    out << "Topics:    " << feed.Topics.size() << '\n';
    for (const auto& topic : feed.Topics) {
        out << "  " << DateText(topic->Date) << "  " << OneLine(topic->Title);
        if (!topic->Enclosure.Url.isEmpty())
            out << "  [" << OneLine(topic->Enclosure.Url) << ']';
        out << '\n';
    }
}

QByteArray FormatNameOf(const TFeed& feed) {
    return feed.FormatterClass->Create()->FormatName();
}

int RunParse(CliArgs& args) {
    const bool json = args.Flag(QStringLiteral("--json"));
    const QString name = args.Positional(1, 1).at(0);
    TFeed feed;
    LoadOrFail(name, feed);
    const QByteArray formatName = FormatNameOf(feed);
    if (json)
        PrintJson(QJsonDocument(FeedJson(feed, formatName)));
    else
        PrintSummary(feed, formatName);
    return 0;
}

// --- Converting ---

struct TargetFormat {
    const char* option;
    const char* className;
    const char* description;
};

constexpr TargetFormat kTargets[] = {
    {"rss", "TRSSFormatter", "RSS 2.0"},
    {"atom", "TAtom10Formatter", "Atom 1.0"},
    {"atom03", "TAtomFormatter", "Atom 0.3"},
};

int RunConvert(CliArgs& args) {
    const std::optional<QString> to = args.Option(QStringLiteral("--to"));
    const QString name = args.Positional(1, 1).at(0);
    if (!to)
        throw CliError(QStringLiteral("convert needs --to rss, atom or atom03"), 2);
    const TargetFormat* target = nullptr;
    for (const TargetFormat& candidate : kTargets) {
        if (*to == QLatin1String(candidate.option))
            target = &candidate;
    }
    if (!target)
        throw CliError(QStringLiteral("unknown format \"%1\" (use rss, atom or atom03)").arg(*to),
                       2);
    const TFeedFormatterClass* formatterClass = FindFeedFormatterClass(target->className);
    if (!formatterClass)
        throw CliError(
            QStringLiteral("this build cannot write %1 feeds (no %2)")
                .arg(QLatin1String(target->description), QLatin1String(target->className)));

    TFeed feed;
    LoadOrFail(name, feed);
    const QByteArray bytes = formatterClass->Create()->SaveToBytes(feed, 0);
    Out().flush();
    if (std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout) != size_t(bytes.size()) ||
        std::fflush(stdout) != 0)
        throw CliError(QStringLiteral("cannot write the converted feed"));
    return 0;
}

const CliRegistration parseRegistration{
    {QStringLiteral("parse"), QStringLiteral("[--json] FILE|-"),
     QStringLiteral("Read a feed and show what the program makes of it"),
     QStringLiteral("Reads an RSS or Atom feed from FILE (or standard input for \"-\") the way a\n"
                    "channel refresh reads a download, and prints a summary, or with --json the\n"
                    "whole feed model as one JSON object. Dates are local time. Exits with 2 and\n"
                    "one line on standard error when the input cannot be read or is not a feed."),
     &RunParse}};

const CliRegistration convertRegistration{
    {QStringLiteral("convert"), QStringLiteral("--to rss|atom|atom03 FILE|-"),
     QStringLiteral("Read a feed and write it back as RSS 2.0, Atom 1.0 or Atom 0.3"),
     QStringLiteral("Reads a feed like \"parse\" and writes the model to standard output in\n"
                    "the format named by --to, with the elements the program does not\n"
                    "understand carried over. Exits with 2 when the input is not a feed."),
     &RunConvert}};

} // namespace

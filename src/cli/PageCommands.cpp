// "render" and "export": the pages of the browser pane and the exported HTML files,
// built by the same core functions the main window uses.
#include "CliCommand.h"
#include "StoreAddress.h"
#include "feeds/ChannelPages.h"
#include "shell/ReaderBranding.h"
#include "shell/ReaderConfig.h"

#include <QFile>
#include <QSaveFile>

namespace {

// The topic an address names when it names no folder or channel.
TopicRef TopicOrFail(TQuillmarDoc& doc, const QString& address) {
    const TopicRef ref = TryFindTopic(doc, address);
    if (!ref.entry)
        throw CliError(QStringLiteral("no folder, channel or topic \"%1\"").arg(address), NotFound);
    return ref;
}

// A folder or channel whose page the browser pane shows: the top node shows the home
// page and search results show a blank page instead.
bool HasChannelPage(TQuillmarDoc& doc, const TFolder& item) {
    return &item != doc.Root() && !dynamic_cast<const TSearchFolder*>(&item) &&
           !dynamic_cast<const TSearchChannel*>(&item);
}

// The topics as the topic list shows them, in the user's sort order.
QList<TTopicIndex*> ListedTopics(TQuillmarDoc& doc, TFolder& item) {
    TConfiguration config;
    config.Load();
    doc.EnsureIndexLoaded(item);
    return TopicsInListOrder(item, config.TopicsSortOrder, config.TopicsInvertedOrder);
}

TTopicLoader LoaderOf(TQuillmarDoc& doc) {
    return [&doc](TTopicIndex& entry) { return doc.LoadTopic(entry); };
}

void WriteOutput(const QByteArray& page, const std::optional<QString>& fileName) {
    if (fileName) {
        QSaveFile file(*fileName);
        if (!file.open(QIODevice::WriteOnly) || file.write(page) != page.size() || !file.commit())
            throw CliError(
                QStringLiteral("cannot write %1: %2").arg(*fileName, file.errorString()));
        return;
    }
    QFile out;
    if (!out.open(stdout, QIODevice::WriteOnly) || out.write(page) != page.size() || !out.flush())
        throw CliError(QStringLiteral("cannot write the page to standard output"));
}

int Render(CliArgs& args) {
    const std::optional<QString> output = args.Option(QStringLiteral("-o"));
    const std::optional<QString> programFolder = args.Option(QStringLiteral("--program"));
    const QString address = args.Positional(1, 1).first();
    TBranding& branding = TBranding::Instance();
    branding.Load(programFolder.value_or(QString()));
    TQuillmarDoc& doc = Document();

    QByteArray page;
    doc.Operation([&] {
        if (TFolder* item = TryFindItem(doc, address)) {
            if (!HasChannelPage(doc, *item))
                throw CliError(QStringLiteral("the browser pane shows no channel page for \"%1\"")
                                   .arg(address));
            const std::optional<QByteArray> built =
                BuildChannelPage(*item, ListedTopics(doc, *item),
                                 ChannelPageTemplates(*item, branding), LoaderOf(doc));
            if (!built)
                throw CliError(QStringLiteral("the channel page of \"%1\" cannot be built: its "
                                              "page template cannot be read")
                                   .arg(address));
            page = *built;
            return;
        }
        const TopicRef ref = TopicOrFail(doc, address);
        const QuillmarDocCore::TTopic* topic = doc.LoadTopic(*ref.entry);
        page = BuildTopicPage(*topic, TopicPageTemplate(topic->Owner, branding));
    });
    WriteOutput(page, output);
    return 0;
}

int Export(CliArgs& args) {
    const QStringList p = args.Positional(2, 2);
    TQuillmarDoc& doc = Document();
    doc.Operation([&] {
        if (TFolder* item = TryFindItem(doc, p[0])) {
            if (item == doc.Root())
                throw CliError(QStringLiteral("the top of the tree cannot be exported"));
            ExportChannelPage(*item, ListedTopics(doc, *item), LoaderOf(doc), p[1]);
            return;
        }
        const TopicRef ref = TopicOrFail(doc, p[0]);
        ExportTopicPage(*doc.LoadTopic(*ref.entry), p[1]);
    });
    return 0;
}

const CliRegistration regRender{
    {QStringLiteral("render"), QStringLiteral("ITEM|TOPIC [-o FILE] [--program DIR]"),
     QStringLiteral("Write the page the browser pane shows for a channel, folder or topic"),
     QStringLiteral(
         "The channel page lists the topics in the topic list's order (the\n"
         "\"TopicsSortOrder\" and \"TopicsInvertedOrder\" settings). Templates come from the\n"
         "\"web\" folder of the program's folder when the branding finds them there\n"
         "(--program DIR reads another program folder), else the built-in ones. The page\n"
         "is UTF-8 HTML, written to FILE or to standard output.\n") +
         ItemHelp() + QStringLiteral("\n") + TopicHelp(),
     &Render}};
const CliRegistration regExport{
    {QStringLiteral("export"), QStringLiteral("ITEM|TOPIC FILE"),
     QStringLiteral("Export a channel, folder or topic as an HTML page"),
     QStringLiteral(
         "Writes the exported page (built-in export templates, no scripts allowed) to\n"
         "FILE, replacing it only once the whole page is written; a page that cannot be\n"
         "built leaves FILE as it was.\n") +
         ItemHelp() + QStringLiteral("\n") + TopicHelp(),
     &Export}};

} // namespace

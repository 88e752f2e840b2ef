// The channel update commands of quillmar-cli: subscribing a channel, merging a feed
// file into it the way a refresh merges a download, deleting old topics, and listing
// the attachment records the imports made.
#include "CliCommand.h"
#include "StoreAddress.h"
#include "feeds/ChannelLoader.h"
#include "shell/Clock.h"
#include "shell/ReaderConfig.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonObject>

namespace {

constexpr int UnreadableInput = 2;

// How items are named; a text of its own, since the store commands' help text lives in
// another file whose static values may not be made yet when these are.
const QString AddressHelp = QStringLiteral(
    "ITEM, CHANNEL and FOLDER are title paths from the top of the tree (\"News/Example\")\n"
    "or storage paths as \"tree --json\" shows them; \"/\" is the top of the tree.");

QString DateText(double days) {
    return DaysToDateTime(days).toString(Qt::ISODate);
}

TConfiguration& Configuration() {
    TConfiguration& configuration = TConfiguration::Instance();
    configuration.Load();
    return configuration;
}

TChannel& FindChannel(TQuillmarDoc& doc, const QString& address) {
    TFolder* item = FindItem(doc, address);
    auto* channel = dynamic_cast<TChannel*>(item);
    if (!channel || dynamic_cast<TSearchChannel*>(item))
        throw CliError(QStringLiteral("\"%1\" is not a channel").arg(address));
    return *channel;
}

QByteArray ReadFile(const QString& name) {
    QFile file;
    const bool opened = name == QLatin1String("-")
                            ? file.open(stdin, QIODevice::ReadOnly)
                            : (file.setFileName(name), file.open(QIODevice::ReadOnly));
    if (!opened)
        throw CliError(QStringLiteral("cannot read %1: %2").arg(name, file.errorString()),
                       UnreadableInput);
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw CliError(QStringLiteral("cannot read %1: %2").arg(name, file.errorString()),
                       UnreadableInput);
    return bytes;
}

// --- add-channel ------------------------------------------------------------------

int AddChannel(CliArgs& args) {
    const std::optional<QString> title = args.Option(QStringLiteral("--title"));
    const QStringList p = args.Positional(2, 2);
    const QString url = p[1].trimmed();
    if (url.isEmpty())
        throw CliError(QStringLiteral("the channel needs an address"), 2);
    TQuillmarDoc& doc = Document();
    TFolder* folder = FindTargetFolder(doc, p[0]);
    if (const TChannel* existing = doc.ChannelByUrl(url))
        throw CliError(QStringLiteral("the channel \"%1\" (%2) has this address already")
                           .arg(existing->Title(), QString::fromUtf8(existing->Path())));
    TChannel* channel = doc.Operation([&] {
        TChannel* made = doc.CreateChannel(folder == doc.Root() ? nullptr : folder);
        made->SetUrl(url);
        made->SetTitle(title && !title->trimmed().isEmpty() ? *title : url);
        doc.SaveChannel(*made);
        return made;
    });
    Out() << QString::fromUtf8(channel->Path()) << '\n';
    return 0;
}

// --- import-feed ------------------------------------------------------------------

int ImportFeed(CliArgs& args) {
    const QStringList p = args.Positional(2, 2);
    const QByteArray bytes = ReadFile(p[1]);
    TConfiguration& configuration = Configuration();
    TQuillmarDoc& doc = Document();
    TChannel& channel = FindChannel(doc, p[0]);
    int stored = 0;
    QString failure;
    const bool read = doc.Operation([&] {
        // As a refresh does it: old topics go first when the settings ask for it.
        doc.EnsureIndexLoaded(channel);
        if (configuration.AutoDelete)
            doc.AutoDeleteOld(channel, configuration.AutoDeletePeriod);
        return TChannelLoader::ImportChannel(bytes, doc, channel, stored, &failure);
    });
    if (!read)
        throw CliError(QStringLiteral("%1: %2").arg(p[1], failure), UnreadableInput);
    Out() << stored << '\n';
    return 0;
}

// --- autodelete -------------------------------------------------------------------

int AutoDelete(CliArgs& args) {
    const QStringList p = args.Positional(2, 2);
    bool number = false;
    const int days = p[1].toInt(&number);
    if (!number || days < 1)
        throw CliError(QStringLiteral("DAYS is a whole number of at least 1"), 2);
    TQuillmarDoc& doc = Document();
    TFolder* item = FindItem(doc, p[0]);
    if (item == doc.Root() || dynamic_cast<TSearchFolder*>(item))
        throw CliError(QStringLiteral("\"%1\" holds no topics of its own").arg(p[0]));
    const int deleted = doc.Operation([&] {
        doc.EnsureIndexLoaded(*item);
        const int before = item->TopicIndexCount();
        doc.AutoDeleteOld(*item, days);
        return before - item->TopicIndexCount();
    });
    Out() << deleted << " deleted, " << item->UnreadCount() << " unread\n";
    return 0;
}

// --- attachments ------------------------------------------------------------------

QJsonObject AttachmentJson(const TAttachment& a, TConfiguration& configuration) {
    return QJsonObject{
        {QStringLiteral("Key"), QString::fromUtf8(a.Key)},
        {QStringLiteral("Url"), a.Url},
        {QStringLiteral("MimeType"), a.MimeType},
        {QStringLiteral("FileName"), a.FileName()},
        {QStringLiteral("Directory"), a.DirectoryText()},
        {QStringLiteral("TargetPath"), a.FullPath(configuration)},
        {QStringLiteral("State"), int(a.State())},
        {QStringLiteral("StateText"), a.StateText()},
        {QStringLiteral("Priority"), int(a.Priority)},
        {QStringLiteral("PriorityText"), a.PriorityText()},
        {QStringLiteral("Kind"), int(a.Kind)},
        {QStringLiteral("Size"), double(a.Size)},
        {QStringLiteral("Downloaded"), double(a.Downloaded)},
        {QStringLiteral("Comment"), a.Comment},
        {QStringLiteral("Added"), DateText(a.Added)},
        {QStringLiteral("Completed"),
         a.Completed == NotDownloadedDate() ? QJsonValue() : QJsonValue(DateText(a.Completed))},
        {QStringLiteral("ErrorMessage"), a.ErrorMessage},
    };
}

int Attachments(CliArgs& args) {
    const bool json = args.Flag(QStringLiteral("--json"));
    args.Positional(0, 0);
    TConfiguration& configuration = Configuration();
    TQuillmarDoc& doc = Document();
    doc.EnsureAttachmentsLoaded();
    const TOrderedAttachmentsList& records = doc.AttachmentRecords().AttachmentOrder();
    if (json) {
        QJsonArray list;
        for (const TAttachment* a : records)
            list.append(AttachmentJson(*a, configuration));
        PrintJson(QJsonDocument(list));
        return 0;
    }
    for (const TAttachment* a : records) {
        Out() << a->StateText() << '\t' << a->PriorityText() << '\t' << a->FullPath(configuration)
              << '\t' << a->Url << '\n';
    }
    return 0;
}

const CliRegistration regAddChannel{
    {QStringLiteral("add-channel"), QStringLiteral("FOLDER URL [--title T]"),
     QStringLiteral("Subscribe a channel without fetching it"),
     QStringLiteral("Creates a channel for the feed address in FOLDER (\"/\" for the top) and\n"
                    "prints its storage path. The title is the address unless --title gives\n"
                    "one; the first import replaces it with the feed's own title.\n") +
         AddressHelp,
     &AddChannel}};
const CliRegistration regImportFeed{
    {QStringLiteral("import-feed"), QStringLiteral("CHANNEL FILE"),
     QStringLiteral("Merge a feed file into a channel as a refresh would"),
     QStringLiteral("Reads FILE (\"-\" for standard input) as RSS or Atom, deletes old topics\n"
                    "first when AutoDelete is set, copies the channel's properties, stores the\n"
                    "topics that are new for the channel with attachment records for their\n"
                    "enclosures, and prints how many topics were new. A file that is not a\n"
                    "readable feed fails with exit code 2 and changes nothing.\n") +
         AddressHelp,
     &ImportFeed}};
const CliRegistration regAutoDelete{
    {QStringLiteral("autodelete"), QStringLiteral("ITEM DAYS"),
     QStringLiteral("Delete the topics received at least DAYS days ago"),
     QStringLiteral("Prints how many topics were deleted and the unread count left. Deleted\n"
                    "topics do not come back with the next import while the feed still\n"
                    "carries them.\n") +
         AddressHelp,
     &AutoDelete}};
const CliRegistration regAttachments{
    {QStringLiteral("attachments"), QStringLiteral("[--json]"),
     QStringLiteral("List the attachment records"),
     QStringLiteral("One line per record in the order the records were made: state, priority,\n"
                    "the file's target path and its address, separated by tabs. With --json\n"
                    "every field of the record, with \"TargetPath\" and the list texts."),
     &Attachments}};

} // namespace

// The store commands of quillmar-cli: the folder tree, folders and channels, topics and
// their read states and flags, over the same document file the program uses.
//
// An item is named by its title path from the top of the tree ("News/Tech/Example"; the
// search tree by its own title, "Search Results/...") or by its storage path in the file
// (the "f..." names joined by backslashes, as "tree --json" shows them). "/" is the top.
// A topic is named by its item and its key ("News/Example#KEY") or by the storage path
// of its body stream (the item's storage path, a backslash and the "t..." name).
#include "CliCommand.h"
#include "StoreAddress.h"
#include "shell/Clock.h"
#include "store/QuillmarDoc.h"

#include <QJsonArray>
#include <QJsonObject>
#include <algorithm>

namespace {

QString Kind(const TFolder& item) {
    if (dynamic_cast<const TSearchChannel*>(&item))
        return QStringLiteral("searchchannel");
    if (dynamic_cast<const TSearchFolder*>(&item))
        return QStringLiteral("searchfolder");
    if (item.IsChannel())
        return QStringLiteral("channel");
    return QStringLiteral("folder");
}

QString DateText(double days) {
    return DaysToDateTime(days).toString(Qt::ISODate);
}

QList<TTopicIndex*> Entries(TFolder& item) {
    QList<TTopicIndex*> entries;
    TTopicIndex* entry = nullptr;
    item.RestartTopics();
    while (item.NextTopic(entry))
        entries.append(entry);
    // Newest first, then by key, so the output does not depend on the table's order.
    std::sort(entries.begin(), entries.end(), [](const TTopicIndex* a, const TTopicIndex* b) {
        return a->Date != b->Date ? a->Date > b->Date : a->Key < b->Key;
    });
    return entries;
}

// --- tree -------------------------------------------------------------------------

// The tree is at most MaxItemDepth deep (the document loads and makes nothing deeper),
// which bounds this recursion.
QJsonObject ItemJson(const TFolder& item) {
    QJsonObject o{
        {QStringLiteral("Title"), item.Title()},
        {QStringLiteral("Kind"), Kind(item)},
        {QStringLiteral("StorageName"), QString::fromUtf8(item.StorageName())},
        {QStringLiteral("Path"), QString::fromUtf8(item.Path())},
        {QStringLiteral("UnreadCount"), item.UnreadCount()},
        {QStringLiteral("TopicCount"), item.TopicCount},
        {QStringLiteral("Protected"), item.Protected()},
        {QStringLiteral("Deleted"), item.Deleted},
    };
    if (const auto* channel = dynamic_cast<const TChannel*>(&item)) {
        o.insert(QStringLiteral("Url"), channel->Url());
        o.insert(QStringLiteral("Status"), int(channel->Status));
    }
    if (const auto* search = dynamic_cast<const TSearchChannel*>(&item)) {
        o.insert(QStringLiteral("SearchText"), search->Options.Text);
        o.insert(QStringLiteral("Persistent"), search->Options.Persistent);
    }
    QJsonArray children;
    for (const TFolder* child : Children(item))
        children.append(ItemJson(*child));
    o.insert(QStringLiteral("Children"), children);
    return o;
}

void PrintTree(const TFolder& item, int depth) {
    Out() << QString(depth * 2, u' ') << item.Title();
    if (item.IsChannel())
        Out() << " (" << Kind(item) << ")";
    Out() << " [" << item.UnreadCount() << '/' << item.TopicCount << ']';
    if (item.Deleted)
        Out() << " (deleted)";
    Out() << '\n';
    for (const TFolder* child : Children(item))
        PrintTree(*child, depth + 1);
}

int Tree(CliArgs& args) {
    const bool json = args.Flag(QStringLiteral("--json"));
    args.Positional(0, 0);
    TQuillmarDoc& doc = Document();
    if (json) {
        QJsonObject root = ItemJson(*doc.Root());
        QJsonArray children = root.value(QStringLiteral("Children")).toArray();
        children.append(ItemJson(*doc.SearchRoot()));
        root.insert(QStringLiteral("Children"), children);
        PrintJson(QJsonDocument(root));
        return 0;
    }
    for (const TFolder* child : Children(*doc.Root()))
        PrintTree(*child, 0);
    PrintTree(*doc.SearchRoot(), 0);
    return 0;
}

// --- folders and channels ---------------------------------------------------------

// A title as given, refused when blank: an item without a title cannot be told apart in
// the tree nor named by a title path.
QString GivenTitle(const QString& title) {
    if (title.trimmed().isEmpty())
        throw CliError(QStringLiteral("a title cannot be empty"), 2);
    return title;
}

int MakeFolder(CliArgs& args) {
    const std::optional<QString> parentAddress = args.Option(QStringLiteral("--parent"));
    const QString title = GivenTitle(args.Positional(1, 1).first());
    TQuillmarDoc& doc = Document();
    TFolder* parent = parentAddress ? FindTargetFolder(doc, *parentAddress) : doc.Root();
    TFolder* folder = doc.Operation([&] {
        TFolder* made = doc.CreateFolder(parent == doc.Root() ? nullptr : parent);
        made->SetTitle(title);
        doc.SaveFolder(*made);
        return made;
    });
    Out() << QString::fromUtf8(folder->Path()) << '\n';
    return 0;
}

int Rename(CliArgs& args) {
    const QStringList p = args.Positional(2, 2);
    const QString title = GivenTitle(p[1]);
    TQuillmarDoc& doc = Document();
    TFolder* item = FindItem(doc, p[0]);
    if (item == doc.Root())
        throw CliError(QStringLiteral("the top of the tree has no title"));
    item->SetTitle(title);
    doc.SaveFolder(*item);
    return 0;
}

int Move(CliArgs& args) {
    const QStringList p = args.Positional(2, 2);
    TQuillmarDoc& doc = Document();
    TFolder* item = FindItem(doc, p[0]);
    TFolder* target = FindTargetFolder(doc, p[1]);
    doc.MoveFolder(*item, target == doc.Root() ? nullptr : target);
    Out() << QString::fromUtf8(item->Path()) << '\n';
    return 0;
}

int Remove(CliArgs& args) {
    const QString address = args.Positional(1, 1).first();
    TQuillmarDoc& doc = Document();
    TFolder* item = FindItem(doc, address);
    if (item == doc.Root() || item == doc.SearchRoot())
        throw CliError(QStringLiteral("the top of a tree cannot be removed"));
    if (item->Protected())
        throw CliError(QStringLiteral("\"%1\" is protected").arg(address));
    const bool hidden = item->FromSubscription;
    doc.DeleteItem(*item);
    if (hidden)
        Out() << "hidden: it came from a subscription list, which would bring it back\n";
    return 0;
}

// --- topics -----------------------------------------------------------------------

QJsonObject EntryJson(const TTopicIndex& e) {
    return QJsonObject{
        {QStringLiteral("Key"), QString::fromUtf8(e.Key)},
        {QStringLiteral("Title"), e.Title()},
        {QStringLiteral("Author"), e.Author()},
        {QStringLiteral("Date"), DateText(e.Date)},
        {QStringLiteral("Received"), DateText(e.Received)},
        {QStringLiteral("Read"), e.Read},
        {QStringLiteral("Flag"), int(e.Flag)},
        {QStringLiteral("StreamName"), QString::fromUtf8(e.StreamName)},
        {QStringLiteral("Origin"), QString::fromUtf8(e.Origin)},
        {QStringLiteral("HasAttachments"), e.HasAttachments},
        {QStringLiteral("ContentHash"), QString::fromUtf8(e.ContentHash)},
    };
}

int Topics(CliArgs& args) {
    const bool json = args.Flag(QStringLiteral("--json"));
    const QString address = args.Positional(1, 1).first();
    TQuillmarDoc& doc = Document();
    TFolder* item = FindItem(doc, address);
    doc.EnsureIndexLoaded(*item);
    const QList<TTopicIndex*> entries = Entries(*item);
    if (json) {
        QJsonArray list;
        for (const TTopicIndex* e : entries)
            list.append(EntryJson(*e));
        PrintJson(QJsonDocument(list));
        return 0;
    }
    for (const TTopicIndex* e : entries) {
        Out() << (e->Read ? ' ' : '*') << ' ' << DateText(e->Date) << "  " << e->Title();
        if (e->Flag != TTopicIndex::FlagNone)
            Out() << "  [flag " << e->Flag << ']';
        Out() << "  #" << QString::fromUtf8(e->Key) << '\n';
    }
    return 0;
}

int Show(CliArgs& args) {
    const bool json = args.Flag(QStringLiteral("--json"));
    const QString address = args.Positional(1, 1).first();
    TQuillmarDoc& doc = Document();
    const TopicRef ref = FindTopic(doc, address);
    const QuillmarDocCore::TTopic* topic = doc.LoadTopic(*ref.entry);
    const bool missing = topic->NeedsLoading; // no body stream to read
    if (json) {
        QJsonObject o = EntryJson(*ref.entry);
        QJsonArray attachments;
        for (const QByteArray& key : topic->Attachments)
            attachments.append(QString::fromUtf8(key));
        o.insert(QStringLiteral("Item"), QString::fromUtf8(ref.item->Path()));
        o.insert(QStringLiteral("Title"), topic->Title());
        o.insert(QStringLiteral("Link"), topic->Link);
        o.insert(QStringLiteral("Author"), topic->Author);
        o.insert(QStringLiteral("Date"), DateText(topic->Date));
        o.insert(QStringLiteral("Guid"), topic->Guid());
        o.insert(QStringLiteral("Description"), topic->Description());
        o.insert(QStringLiteral("Attachments"), attachments);
        o.insert(QStringLiteral("BodyMissing"), missing);
        PrintJson(QJsonDocument(o));
        return 0;
    }
    if (missing)
        Out() << "(the topic's body is missing from the document)\n";
    Out() << "Title: " << topic->Title() << "\nLink: " << topic->Link
          << "\nAuthor: " << topic->Author << "\nDate: " << DateText(topic->Date)
          << "\nGuid: " << topic->Guid() << '\n';
    for (const QByteArray& key : topic->Attachments)
        Out() << "Attachment: " << QString::fromUtf8(key) << '\n';
    Out() << '\n' << topic->Description() << '\n';
    return 0;
}

int Mark(CliArgs& args) {
    const QStringList p = args.Positional(2, 2);
    const QString state = p[1].toLower();
    if (state != QStringLiteral("read") && state != QStringLiteral("unread"))
        throw CliError(QStringLiteral("the state is \"read\" or \"unread\""), 2);
    const bool read = state == QStringLiteral("read");
    TQuillmarDoc& doc = Document();
    TFolder* item = TryFindItem(doc, p[0]);
    if (item && item != doc.Root()) {
        doc.Operation([&] {
            doc.EnsureIndexLoaded(*item);
            doc.MarkTopics(*item, Entries(*item), read);
        });
    } else {
        const TopicRef ref = FindTopic(doc, p[0]);
        item = ref.item;
        doc.MarkTopics(*item, {ref.entry}, read);
    }
    Out() << item->Title() << ": " << item->UnreadCount() << " unread\n";
    return 0;
}

int Flag(CliArgs& args) {
    const QStringList p = args.Positional(2, 2);
    static const QStringList names{QStringLiteral("none"),  QStringLiteral("red"),
                                   QStringLiteral("blue"),  QStringLiteral("yellow"),
                                   QStringLiteral("green"), QStringLiteral("orange"),
                                   QStringLiteral("purple")};
    bool number = false;
    int flag = p[1].toInt(&number);
    if (!number) {
        const qsizetype named = names.indexOf(p[1].toLower());
        flag = named < 0 ? -1 : int(named) + TTopicIndex::FlagNone;
    }
    if (flag < TTopicIndex::FlagNone || flag > TTopicIndex::FlagPurple)
        throw CliError(
            QStringLiteral("a flag is 2 (none) to 8, or one of: %1").arg(names.join(u' ')), 2);
    TQuillmarDoc& doc = Document();
    const TopicRef ref = FindTopic(doc, p[0]);
    doc.SetTopicFlag(*ref.item, *ref.entry, quint8(flag));
    return 0;
}

const CliRegistration regTree{
    {QStringLiteral("tree"), QStringLiteral("[--json]"),
     QStringLiteral("Show the folders, channels and searches with their counts"),
     QStringLiteral("Prints every item with its unread and topic counts. With --json the top\n"
                    "item is printed as an object with \"Title\", \"Kind\" (folder, channel,\n"
                    "searchfolder, searchchannel), \"StorageName\", \"Path\", \"UnreadCount\",\n"
                    "\"TopicCount\" and \"Children\"; channels also have \"Url\" and \"Status\".\n"
                    "The search tree is the last child of the top item."),
     &Tree}};
const CliRegistration regMkfolder{
    {QStringLiteral("mkfolder"), QStringLiteral("TITLE [--parent ITEM]"),
     QStringLiteral("Create a folder"),
     QStringLiteral("Prints the new folder's storage path.\n") + ItemHelp(), &MakeFolder}};
const CliRegistration regRename{{QStringLiteral("rename"), QStringLiteral("ITEM TITLE"),
                                 QStringLiteral("Rename a folder or channel"), ItemHelp(),
                                 &Rename}};
const CliRegistration regMove{{QStringLiteral("move"), QStringLiteral("ITEM FOLDER"),
                               QStringLiteral("Move a folder or channel into a folder"),
                               QStringLiteral("Prints the item's new storage path.\n") + ItemHelp(),
                               &Move}};
const CliRegistration regRm{
    {QStringLiteral("rm"), QStringLiteral("ITEM"),
     QStringLiteral("Delete a folder or channel with everything in it"),
     QStringLiteral("An item that came from a subscription list is hidden instead, so that\n"
                    "the next import of the list does not bring it back.\n") +
         ItemHelp(),
     &Remove}};
const CliRegistration regTopics{{QStringLiteral("topics"), QStringLiteral("ITEM [--json]"),
                                 QStringLiteral("List the topics of a folder or channel"),
                                 QStringLiteral("Newest first; unread topics are marked with "
                                                "\"*\".\n") +
                                     ItemHelp(),
                                 &Topics}};
const CliRegistration regShow{{QStringLiteral("show"), QStringLiteral("TOPIC [--json]"),
                               QStringLiteral("Show a topic as stored"), TopicHelp(), &Show}};
const CliRegistration regMark{
    {QStringLiteral("mark"), QStringLiteral("ITEM|TOPIC read|unread"),
     QStringLiteral("Mark every topic of an item, or one topic, read or unread"),
     QStringLiteral("A search result is marked in its own channel too.\n") + ItemHelp() +
         QStringLiteral("\n") + TopicHelp(),
     &Mark}};
const CliRegistration regFlag{
    {QStringLiteral("flag"), QStringLiteral("TOPIC N"), QStringLiteral("Flag a topic"),
     QStringLiteral("N is 2 (no flag), 3 red, 4 blue, 5 yellow, 6 green, 7 orange or 8\n"
                    "purple, or the colour's name.\n") +
         TopicHelp(),
     &Flag}};

} // namespace

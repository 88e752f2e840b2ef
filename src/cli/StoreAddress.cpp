#include "StoreAddress.h"

#include <vector>

TQuillmarDoc& Document() {
    TQuillmarDoc& doc = TQuillmarDoc::Instance();
    doc.OpenDocument();
    return doc;
}

// Every item of both trees, parents before children.
QList<TFolder*> AllItems(TQuillmarDoc& doc) {
    QList<TFolder*> items;
    std::vector<TFolder*> pending{doc.SearchRoot(), doc.Root()};
    while (!pending.empty()) {
        TFolder* item = pending.back();
        pending.pop_back();
        items.append(item);
        for (int i = item->ChannelCount() - 1; i >= 0; --i)
            pending.push_back(item->Channels(i));
        for (int i = item->FolderCount() - 1; i >= 0; --i)
            pending.push_back(item->Folders(i));
    }
    return items;
}

QList<TFolder*> Children(const TFolder& item) {
    QList<TFolder*> children;
    for (int i = 0; i < item.FolderCount(); ++i)
        children.append(item.Folders(i));
    for (int i = 0; i < item.ChannelCount(); ++i)
        children.append(item.Channels(i));
    return children;
}

// The item an address names, or null; raises when a title path is ambiguous.
TFolder* TryFindItem(TQuillmarDoc& doc, const QString& address) {
    if (address.isEmpty() || address == QStringLiteral("/"))
        return doc.Root();
    const QByteArray path = address.toUtf8();
    for (TFolder* item : AllItems(doc)) {
        if (!item->Path().isEmpty() && item->Path().compare(path, Qt::CaseInsensitive) == 0)
            return item;
    }
    QStringList parts = address.split(u'/', Qt::SkipEmptyParts);
    if (parts.isEmpty())
        return nullptr;
    TFolder* at = doc.Root();
    for (qsizetype i = 0; i < parts.size(); ++i) {
        QList<TFolder*> matches;
        for (TFolder* child : Children(*at)) {
            if (child->Title() == parts[i])
                matches.append(child);
        }
        if (i == 0 && matches.isEmpty() &&
            (parts[0] == doc.SearchRoot()->Title() || parts[0] == QStringLiteral(".search")))
            matches.append(doc.SearchRoot());
        if (matches.size() > 1)
            throw CliError(QStringLiteral("\"%1\" names %2 items; use a storage path (see tree "
                                          "--json)")
                               .arg(parts.mid(0, i + 1).join(u'/'))
                               .arg(matches.size()));
        if (matches.isEmpty())
            return nullptr;
        at = matches.first();
    }
    return at;
}

TFolder* FindItem(TQuillmarDoc& doc, const QString& address) {
    if (TFolder* item = TryFindItem(doc, address))
        return item;
    throw CliError(QStringLiteral("no folder or channel \"%1\"").arg(address), NotFound);
}

TFolder* FindTargetFolder(TQuillmarDoc& doc, const QString& address) {
    TFolder* folder = FindItem(doc, address);
    if (folder->IsChannel() || dynamic_cast<TSearchFolder*>(folder))
        throw CliError(QStringLiteral("\"%1\" is not a folder").arg(address));
    return folder;
}

TopicRef TryFindTopic(TQuillmarDoc& doc, const QString& address) {
    // ITEM#KEY: keys may hold "#" themselves, so every split is tried from the left.
    for (qsizetype at = address.indexOf(u'#'); at >= 0; at = address.indexOf(u'#', at + 1)) {
        TFolder* item = TryFindItem(doc, address.left(at));
        if (!item || item == doc.Root())
            continue;
        doc.EnsureIndexLoaded(*item);
        if (TTopicIndex* entry = item->FindTopic(address.mid(at + 1).toUtf8()))
            return {item, entry};
    }
    // The storage path of a body stream.
    const qsizetype slash = address.lastIndexOf(u'\\');
    if (slash > 0) {
        TFolder* item = TryFindItem(doc, address.left(slash));
        const QByteArray stream = address.mid(slash + 1).toUtf8();
        if (item && item != doc.Root() && !stream.isEmpty()) {
            doc.EnsureIndexLoaded(*item);
            TTopicIndex* entry = nullptr;
            item->RestartTopics();
            while (item->NextTopic(entry)) {
                if (entry->StreamName.compare(stream, Qt::CaseInsensitive) == 0)
                    return {item, entry};
            }
        }
    }
    return {};
}

TopicRef FindTopic(TQuillmarDoc& doc, const QString& address) {
    const TopicRef ref = TryFindTopic(doc, address);
    if (!ref.entry)
        throw CliError(QStringLiteral("no topic \"%1\"").arg(address), NotFound);
    return ref;
}

QString ItemHelp() {
    return QStringLiteral(
        "ITEM is a title path from the top of the tree (\"News/Tech/Example\"; the search\n"
        "tree as \"Search Results/...\") or a storage path as \"tree --json\" shows it.\n"
        "\"/\" is the top of the tree.");
}
QString TopicHelp() {
    return QStringLiteral(
        "TOPIC is ITEM#KEY (the key as \"topics\" shows it) or the storage path of the\n"
        "topic's body stream (the item's storage path, a backslash and the stream name).");
}

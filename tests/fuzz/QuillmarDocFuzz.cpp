// Opens arbitrary bytes as the document file, reads every index and every topic, follows
// every search result to its origin, changes the tree and saves, then opens the result
// again: damage must end in an exception the program reports, never in a crash, a hang
// or an allocation the input does not justify.
//
// The corpus in corpus/QuillmarDoc holds small documents written by the store (a folder,
// a channel with topics, a kept search) and damaged copies of them: search results whose
// origins point at each other, an index that ends inside an entry, a record with a wrong
// tag, a header behind the names in the file, a body with impossible string lengths,
// folders nested past the depth limit, attachment records with duplicate keys, wrong
// tags and impossible lengths.
#include "store/QuillmarDoc.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstddef>
#include <cstdint>

namespace {

QList<TFolder*> Items(TQuillmarDoc& doc) {
    QList<TFolder*> items;
    std::vector<TFolder*> pending{doc.Root(), doc.SearchRoot()};
    while (!pending.empty()) {
        TFolder* item = pending.back();
        pending.pop_back();
        items.append(item);
        for (int i = 0; i < item->FolderCount(); ++i)
            pending.push_back(item->Folders(i));
        for (int i = 0; i < item->ChannelCount(); ++i)
            pending.push_back(item->Channels(i));
    }
    return items;
}

void ReadEverything(TQuillmarDoc& doc) {
    try {
        doc.EnsureAttachmentsLoaded();
    } catch (const Exception&) {
    }
    for (TFolder* item : Items(doc)) {
        try {
            doc.EnsureIndexLoaded(*item);
        } catch (const Exception&) {
        }
        QList<TTopicIndex*> entries;
        TTopicIndex* entry = nullptr;
        item->RestartTopics();
        while (item->NextTopic(entry))
            entries.append(entry);
        for (TTopicIndex* e : entries) {
            try {
                e->GetTopic();
                doc.LoadTopic(*e);
            } catch (const Exception&) {
            }
        }
    }
}

void ChangeSomething(TQuillmarDoc& doc) {
    const QList<TFolder*> items = Items(doc);
    for (TFolder* item : items) {
        if (item->TopicIndexCount() == 0 || item == doc.Root())
            continue;
        try {
            TTopicIndex* entry = nullptr;
            item->RestartTopics();
            item->NextTopic(entry);
            doc.MarkTopics(*item, {entry}, !entry->Read);
        } catch (const Exception&) {
        }
        break;
    }
    try {
        TFolder* made = doc.CreateFolder(nullptr);
        if (doc.Root()->FolderCount() > 1)
            doc.MoveFolder(*doc.Root()->Folders(0), made);
    } catch (const Exception&) {
    }
    try {
        if (doc.Root()->ChannelCount() > 0)
            doc.DeleteItem(*doc.Root()->Channels(0));
        doc.SaveSearchTree();
    } catch (const Exception&) {
    }
    try {
        doc.SaveAttachments();
    } catch (const Exception&) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    QTemporaryDir dir;
    {
        QFile file(dir.filePath(QStringLiteral("Reader.bin")));
        if (!file.open(QIODevice::WriteOnly))
            return 0;
        file.write(reinterpret_cast<const char*>(data), qint64(size));
    }
    try {
        TQuillmarDoc doc(dir.path());
        doc.OpenDocument();
        ReadEverything(doc);
        ChangeSomething(doc);
    } catch (const Exception&) {
        return 0;
    }
    try {
        TQuillmarDoc again(dir.path());
        again.OpenDocument();
        ReadEverything(again);
    } catch (const Exception&) {
    }
    return 0;
}

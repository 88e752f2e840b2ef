#pragma once
// The in-memory model of the store: a tree of folders whose leaves are channels, each
// item holding an index of its topics; topic bodies loaded on demand; a parallel tree of
// search results. The document (QuillmarDoc) owns the trees and keeps them in the file;
// this unit knows nothing of the file except what an index entry needs to find the
// topic it was copied from (TTopicStore).
//
// Texts the user reads are QString; keys, storage paths and stream names are 8-bit
// (UTF-8 in memory). Dates are days since 1899-12-30, local time.

#include "store/Hashes.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <memory>
#include <vector>

class TFolder;
class TChannel;
class TSearchChannel;
class TTopicIndex;

namespace QuillmarDocCore {
class TTopic;
}

// 1980-06-01 00:00, the date of a channel that has never been merged.
double NeverUpdatedDate();

// Something that shows an item, such as a node of the folder tree; it is repainted when
// the item's unread count or title changes. A view that throws from Repaint is taken to
// be gone and the item forgets it.
class TItemView {
public:
    virtual ~TItemView() = default;
    virtual void Repaint(TFolder& item) = 0;
};

// What an index entry needs from the document to reach the topic of the entry it was
// copied from, and to load a body.
class TTopicStore {
public:
    virtual ~TTopicStore() = default;
    virtual TFolder* FolderByStorageName(const QByteArray& name) = 0;
    virtual void EnsureIndexLoaded(TFolder& item) = 0;
    // Reads the body of the entry's topic from the file when it still needs loading.
    virtual void ReadTopic(TTopicIndex& entry) = 0;
};

// A list that owns its items and keeps them in insertion order.
template <class T> class TOwnedList {
public:
    int Count() const { return int(m_items.size()); }
    T* Items(int i) const { return m_items.at(size_t(i)).get(); }
    T* Add(std::unique_ptr<T> item) {
        m_items.push_back(std::move(item));
        return m_items.back().get();
    }
    int IndexOf(const T* item) const {
        for (size_t i = 0; i < m_items.size(); ++i) {
            if (m_items[i].get() == item)
                return int(i);
        }
        return -1;
    }
    // Takes the item out without freeing it; null when it is not in the list.
    std::unique_ptr<T> Extract(const T* item) {
        const int i = IndexOf(item);
        if (i < 0)
            return nullptr;
        std::unique_ptr<T> taken = std::move(m_items[size_t(i)]);
        m_items.erase(m_items.begin() + i);
        return taken;
    }
    // Hands every item over, leaving the list empty.
    std::vector<std::unique_ptr<T>> TakeAll() { return std::exchange(m_items, {}); }

private:
    std::vector<std::unique_ptr<T>> m_items;
};

using TFoldersList = TOwnedList<TFolder>;
using TChannelsList = TOwnedList<TChannel>;

// A topic index: key to entry, owning the entries. Walking it follows the table's fixed
// order, which is the order the entries are written to the file in.
class TTopicsIndex : public TObjectHash<TTopicIndex> {
public:
    TTopicsIndex() : TObjectHash<TTopicIndex>(true) {}
};

// The channel logo.
class TImageData {
public:
    QString Title;
    QString Link;
    QString Src; // the image's address
};

// What a search looks for and where.
class TSearchOptions {
public:
    // Storage names (the last element of an item's path) of the items to search in.
    QList<QByteArray> Folders;
    bool Persistent = false; // kept in the file, receives matching new topics
    QString Text;
    bool MatchCase = false;
    bool MatchWholeWords = false;

    void AddFolder(const TFolder& item);
    void SelectOnly(const TFolder& item);
    void Assign(const TSearchOptions& other) { *this = other; }
};

// A folder of the tree; also the base of channels and of the search-result tree.
class TFolder {
public:
    explicit TFolder(TFolder* parent = nullptr);
    virtual ~TFolder();
    TFolder(const TFolder&) = delete;
    TFolder& operator=(const TFolder&) = delete;

    // Publishers double-encode titles; the setter decodes once and the getter once more.
    QString Title() const;
    void SetTitle(const QString& title);

    TFolder* Parent() const { return m_parent; }
    bool Protected() const { return m_protected; }
    // The item takes value or'ed with its sub-folders' flags, and hands the result to
    // its parent (overwriting, not or-ing, the parent's flag).
    void SetProtected(bool value);

    // Makes a new, unattached item whose parent is this folder.
    virtual std::unique_ptr<TFolder> CreateFolderObject();
    virtual std::unique_ptr<TChannel> CreateChannelObject();
    TFolder* AddFolder();
    TChannel* AddChannel();
    int FolderCount() const { return m_folders.Count(); }
    TFolder* Folders(int i) const { return m_folders.Items(i); }
    int ChannelCount() const { return m_channels.Count(); }
    TChannel* Channels(int i) const { return m_channels.Items(i); }
    void RemoveFolder(TFolder* folder);
    void RemoveChannel(TChannel* channel);
    // Takes this item from its parent's list into the new parent's and recomputes the
    // paths below it. Moving an item into itself or below itself is refused.
    virtual void MoveTo(TFolder* newParent);
    // True when this item is the other one or one of its ancestors.
    bool Contains(const TFolder* other) const;
    // Channels are not folders for the tree's purposes; TChannel says so.
    virtual bool IsChannel() const { return false; }

    // The topic index.
    TTopicsIndex& Topics() { return m_topics; }
    const TTopicsIndex& Topics() const { return m_topics; }
    // Stores a new entry under the key (replacing and freeing one already there); the
    // entry takes its texts from the topic when one is given, and owns it.
    virtual TTopicIndex* AddTopicIndex(const QByteArray& key,
                                       std::unique_ptr<QuillmarDocCore::TTopic> topic = nullptr);
    // Stores an entry made elsewhere under the key, as AddTopicIndex does (replacing and
    // freeing one already there).
    TTopicIndex* StoreTopicIndex(const QByteArray& key, std::unique_ptr<TTopicIndex> entry);
    // Empties the index and marks it not loaded, so the document reads it again when it
    // is next needed. With resetUnread (a clear) the unread and topic counts go to 0;
    // without it (an index released from memory) they stay.
    virtual void ClearTopics(bool resetUnread);
    void RestartTopics();
    bool NextTopic(TTopicIndex*& entry);
    TTopicIndex* FindTopic(const QByteArray& key) const;
    // Deletes and frees the entry; an absent key changes nothing.
    void DeleteTopicIndex(const QByteArray& key);
    // Stores an entry made elsewhere unless the key is taken, in which case the entry is
    // freed, the one in place stays and the result is null.
    TTopicIndex* AttachTopicIndex(const QByteArray& key, std::unique_ptr<TTopicIndex> entry);
    int TopicIndexCount() const { return m_topics.ItemCount(); }

    int UnreadCount() const { return m_unreadCount; }
    // Never negative; the views are repainted only when the count changes.
    void SetUnreadCount(int count);
    // Sets the count as read from the file or reset by a clear, without repainting.
    void ResetUnreadCount(int count) { m_unreadCount = count < 0 ? 0 : count; }

    void AddTreeNode(TItemView* view);
    void RemoveTreeNode(TItemView* view);
    const QList<TItemView*>& TreeNodes() const { return m_treeNodes; }

    // The storage path in the document file: ancestors' storage names and this item's,
    // joined by backslashes. Empty for the root.
    const QByteArray& Path() const { return m_path; }
    void SetPath(const QByteArray& path) { m_path = path; }
    // The last element of the path.
    QByteArray StorageName() const;
    // Recomputes the path of this item and of everything below it from the parent's.
    void UpdatePath();

    // The document this item belongs to; inherited by the items made below it.
    TTopicStore* Store() const { return m_store; }
    void SetStore(TTopicStore* store) { m_store = store; }

    // Number of entries added minus entries deleted since the last clear; kept in the
    // item record, so it may differ from TopicIndexCount while the index is not loaded.
    qint32 TopicCount = 0;
    bool FromSubscription = false; // made by a subscription import
    // The user deleted an item that came from a subscription: it stays in the model and
    // the file, hidden, so the next import does not bring it back.
    bool Deleted = false;
    // The index has not been read from the file yet.
    bool IndexNotLoaded = true;
    // The index was read only in part (the file is damaged); it must not be saved over
    // the stored one until it is cleared or read again in full.
    bool IndexReadInPart = false;

protected:
    // Repaints every view from the last to the first, forgetting the ones that fail.
    void RepaintTreeNodes();

private:
    friend class TChannel;

    QString m_title;
    TFolder* m_parent = nullptr;
    bool m_protected = false;
    TFoldersList m_folders;
    TChannelsList m_channels;
    TTopicsIndex m_topics;
    QList<TItemView*> m_treeNodes;
    int m_unreadCount = 0;
    QByteArray m_path;
    TTopicStore* m_store = nullptr;
};

// A subscribed feed.
class TChannel : public TFolder {
public:
    explicit TChannel(TFolder* parent = nullptr);

    bool IsChannel() const override { return true; }
    void MoveTo(TFolder* newParent) override;
    void ClearTopics(bool resetUnread) override;

    QString Copyright() const { return m_copyright; }
    void SetCopyright(const QString& text);
    QString Description() const { return m_description; }
    void SetDescription(const QString& text);
    QString Url() const { return m_url; }
    // Also decides UrlHasCredentials.
    void SetUrl(const QString& url);
    // The address carries both a non-blank user name and a non-blank password.
    bool UrlHasCredentials() const { return m_urlHasCredentials; }
    // The feed's author, the default author of topics that have none.
    QString Author() const;
    void SetAuthor(const QString& author) { m_author = author; }
    // Chooses the tree icon.
    bool RequiresAuthentication() const { return m_urlHasCredentials || UseAccountCredentials; }

    // Result of the last download.
    enum : quint8 { StatusOk = 1, StatusNeedsCredentials = 2, StatusFailed = 3 };

    QString Link; // the site's address
    double Date;  // the feed's date, or the time a merge last stored topics
    TImageData Image;
    quint8 Status = StatusOk;
    bool UseAccountCredentials = false;
    // The topic keys a merge treats as already delivered (value always 1).
    TIntegerHash KnownKeys;

private:
    QString m_copyright;
    QString m_description;
    QString m_url;
    bool m_urlHasCredentials = false;
    QString m_author;
};

// The root of the search-result tree; the items made below it are search folders and
// search channels.
class TSearchFolder : public TFolder {
public:
    explicit TSearchFolder(TFolder* parent = nullptr);
    std::unique_ptr<TFolder> CreateFolderObject() override;
    std::unique_ptr<TChannel> CreateChannelObject() override;
};

// One saved or current search; its index holds copies of the matching entries while the
// topics stay in their channels (see TTopicIndex::Origin).
class TSearchChannel : public TChannel {
public:
    explicit TSearchChannel(TFolder* parent = nullptr) : TChannel(parent) {}
    TSearchOptions Options;
};

namespace QuillmarDocCore {

// A topic body, loaded on demand.
class TTopic {
public:
    explicit TTopic(TFolder* owner);
    // A copy for another owner; the content hash comes along (computed if needed).
    TTopic(TFolder* owner, TTopic& source);
    TTopic(const TTopic&) = delete;
    TTopic& operator=(const TTopic&) = delete;

    QString Title() const;
    void SetTitle(const QString& title) { m_title = title; }
    QString Description() const { return m_description; }
    void SetDescription(const QString& description);
    QString Guid() const { return m_guid; }
    // Characters of code 32 or below around the identifier are dropped.
    void SetGuid(const QString& guid);

    // The topic's identity: the guid when there is one, else the MD5 digest of the
    // title (as the getter gives it) followed by the link.
    QByteArray Key() const;
    // The digest of the title and the description's text with white space and markup
    // brackets removed; cached until the description changes.
    QByteArray ContentHash();

    void AddAttachment(const QByteArray& key) { Attachments.append(key); }

    TFolder* Owner = nullptr;
    TTopicIndex* Index = nullptr;
    QList<QByteArray> Attachments; // attachment keys (their addresses)
    QString Link;
    QString Author;
    double Date;
    bool NeedsLoading = true; // the body has not been read from its stream yet

private:
    QString m_title;
    QString m_description;
    QString m_guid;
    QByteArray m_contentHash;
};

} // namespace QuillmarDocCore

// One entry of a topic index; kept in memory for every topic of every loaded index.
class TTopicIndex {
public:
    enum : quint8 {
        FlagNone = 2,
        FlagRed = 3,
        FlagBlue = 4,
        FlagYellow = 5,
        FlagGreen = 6,
        FlagOrange = 7,
        FlagPurple = 8
    };

    TTopicIndex();
    // A new entry made at the given time (a whole index read at once shares one).
    explicit TTopicIndex(double now);
    // A copy of the source for another owner; it remembers the source's item as its
    // origin and gets a copy of the source's topic unless it is a search result.
    TTopicIndex(TFolder* newOwner, TTopicIndex& source);
    ~TTopicIndex();
    TTopicIndex(const TTopicIndex&) = delete;
    TTopicIndex& operator=(const TTopicIndex&) = delete;

    QString Author() const;
    void SetAuthor(const QString& author) { m_author = author; }
    QString Title() const;
    void SetTitle(const QString& title) { m_title = title; }

    // The topic held by this entry itself, loaded or not; null when it has none.
    QuillmarDocCore::TTopic* Topic() const { return m_topic.get(); }
    void AttachTopic(std::unique_ptr<QuillmarDocCore::TTopic> topic);
    void SetOrigin(const TFolder* item);
    // The entry's topic: its own, or the one of the entry it was copied from (following
    // Origin through the document, loading that entry's body). Null when there is none,
    // also when the Origin chain leads back to an entry already passed.
    QuillmarDocCore::TTopic* GetTopic();

    // Storage name of the item the topic came from; empty when it is the owner's own.
    QByteArray Origin;
    QByteArray Key;
    double Date;     // publication date
    double Received; // when the entry was made; auto-delete by age uses it
    QByteArray StreamName;
    bool Read = false;
    quint8 Flag = FlagNone;
    QByteArray ContentHash;
    bool HasAttachments = false;
    TFolder* Owner = nullptr;

private:
    QString m_author;
    QString m_title;
    std::unique_ptr<QuillmarDocCore::TTopic> m_topic;
};

#pragma once
// The document: the folder tree, the search tree and their topics, kept in one compound
// file. Every item is a storage named "f" and a counter, holding its records as streams
// of tagged values (".folder", ".channel", ".searchinfo", ".index") and one stream per
// topic body ("t" and a counter). Reading is lazy: opening reads the tree and the item
// records; an index is read when it is first needed, a body when it is shown.
//
// The file is open only while an operation runs. Every public operation opens it through
// the watchdog and closes it at its end; operations called inside another share the open
// file, and only the outermost one commits. Callers that make several changes for one
// command wrap them in Operation() so that the command is one commit.

#include "store/Attachments.h"
#include "store/QuillmarDocCore.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <type_traits>
#include <vector>

class TStorage;
class TRootStorageWatchdog;
class TValueReader;
class TValueWriter;

// A store operation that cannot be done on the file (a storage that should be there
// cannot be opened, a request the tree does not allow).
QUILLMAR_DECLARE_EXCEPTION(EDocumentError, Exception)
// The document file exists but cannot be opened or read; the message is the one the
// user sees (SCannotOpenDocumentFile), the cause what went wrong. The file is left as
// it is.
class ECannotOpenDocument : public EDocumentError {
public:
    explicit ECannotOpenDocument(const QString& message, QString cause = {})
        : EDocumentError(message), m_cause(std::move(cause)) {}
    const QString& Cause() const { return m_cause; }

private:
    QString m_cause;
};
// An entry has no topic to read or write ("No topic available").
QUILLMAR_DECLARE_EXCEPTION(ENoTopicAvailable, EDocumentError)
// The bytes of a download are not a readable feed; carries no message.
QUILLMAR_DECLARE_EXCEPTION(ECannotParseFeed, Exception)

// A banner stream: an image kind, a link text and, when asked for, the image bytes.
struct TBanner {
    enum : qint32 { Gif = 1, Jpeg = 2, Bitmap = 3, NoImage = 4 };
    qint32 Kind = NoImage;
    QByteArray Link;
    QByteArray Image; // the encoded image, as stored
};

// Opened storages along a path, released innermost first.
class TStoragePath {
public:
    TStoragePath() = default;
    TStoragePath(TStoragePath&&) noexcept;
    TStoragePath& operator=(TStoragePath&&) noexcept;
    ~TStoragePath();

    // The innermost storage (the root storage for an empty path); null when not open.
    TStorage* Storage() const { return m_last; }
    explicit operator bool() const { return m_last != nullptr; }

private:
    friend class TQuillmarDoc;
    std::vector<std::unique_ptr<TStorage>> m_opened;
    TStorage* m_last = nullptr;
};

// The topic keys that this run's imports met, kept per channel: a channel update makes
// them the channel's known keys. Keeping them per channel means a channel learns only
// what its own feed delivered, and no list grows with every channel of the document.
class TSessionKeys {
public:
    void Add(const TChannel& channel, const QByteArray& key);
    // Distinct, in the order first met.
    QList<QByteArray> Keys(const TChannel& channel) const;
    void Forget(const TChannel& channel);

private:
    struct TMet {
        QList<QByteArray> Order;
        QSet<QByteArray> Seen;
    };
    static QByteArray ChannelName(const TChannel& channel);
    QHash<QByteArray, TMet> m_met;
};

// The playlists a finished music file can be added to.
enum class TPlaylist { MediaPlayer, ITunes, WinAmp };

class TQuillmarDoc : public TTopicStore {
public:
    // Record versions written; older ones are read.
    static constexpr qint32 HeaderVersion = 20;
    static constexpr qint32 ItemRecordVersion = 50;
    static constexpr qint32 ChannelRecordVersion = 50;
    static constexpr qint32 SearchRecordVersion = 20;
    static constexpr qint32 IndexVersion = 100;
    static constexpr qint32 TopicVersion = 50;
    // Items nested deeper than this are neither loaded nor created: a damaged file could
    // otherwise nest storages without end.
    static constexpr int MaxItemDepth = 100;

    // The one document of the process, at the program's location (created on first use).
    static TQuillmarDoc& Instance();
    // Frees it (at program end, or when a tool has changed the location).
    static void ReleaseInstance();

    // The document file in folder, or at the program's location when folder is empty
    // (that folder is created).
    explicit TQuillmarDoc(const QString& folder = {});
    ~TQuillmarDoc() override;
    TQuillmarDoc(const TQuillmarDoc&) = delete;
    TQuillmarDoc& operator=(const TQuillmarDoc&) = delete;

    const QString& FileName() const { return m_fileName; }
    TFolder* Root() const { return m_root.get(); }
    TSearchFolder* SearchRoot() const { return m_searchRoot.get(); }
    TSearchOptions& SearchOptions() { return m_searchOptions; }
    // Opened successfully: nothing touches the file before that.
    bool IsOpen() const { return m_opened; }

    // Runs work as one operation: the file is opened (unless an enclosing operation holds
    // it) and committed when the outermost operation ends, also when work fails.
    template <class F> decltype(auto) Operation(F&& work) {
        OpenFile();
        try {
            if constexpr (std::is_void_v<decltype(work())>) {
                work();
                CloseFile();
            } else {
                decltype(auto) result = work();
                CloseFile();
                return result;
            }
        } catch (...) {
            CloseFileAfterFailure();
            throw;
        }
    }

    // --- the document ---
    // Reads the tree of an existing file, or creates a new file with a header and the
    // search storage. A file that exists but cannot be opened or read raises
    // ECannotOpenDocument and is never replaced.
    void OpenDocument();
    void ReadHeader();
    void WriteHeader();
    void LoadSearchTree();
    // Saves the search root and every persistent search; storages of searches that are
    // no longer persistent are removed.
    void SaveSearchTree();
    void LoadCustomization();
    // The banner stream of that name; nothing when it is missing or names no known kind.
    std::optional<TBanner> ReadBanner(const QByteArray& name, bool withImage);

    quint32 NextFolderNumber = 1;
    quint32 NextTopicNumber = 1;
    // Keys met by imports during this run, per channel.
    TSessionKeys SessionKeys;
    // The start page address.
    QByteArray HomePage;

    // --- items ---
    // A new folder or channel below parent (the root when null), with its storage; in the
    // search tree a search channel. Raises when the storage cannot be made.
    TFolder* CreateFolder(TFolder* parent);
    TChannel* CreateChannel(TFolder* parent);
    void SaveFolder(TFolder& item);
    void SaveChannel(TChannel& channel);
    void SaveSearchInfo(TSearchChannel& channel);
    void SaveFolderAndChannel(TChannel& channel);
    void Register(TFolder& item);
    // Forgets the item and everything below it.
    void Unregister(TFolder& item);
    TFolder* FolderByStorageName(const QByteArray& name) override;
    TChannel* ChannelByUrl(const QString& url) const;
    bool StoragePathExists(const QByteArray& path);
    // Moves the item's storage below the new parent (the root when null). Moving a folder
    // into itself or below itself is refused.
    void MoveFolder(TFolder& item, TFolder* newParent);
    // Removes the item with its storage, or only hides it when it came from a
    // subscription.
    void DeleteItem(TFolder& item);
    // Destroys every topic of the item and empties its index and known keys.
    void ClearChannel(TFolder& item);

    // --- indexes and topics ---
    void LoadIndex(TFolder& item);
    void EnsureIndexLoaded(TFolder& item) override;
    void SaveIndex(TFolder& item);
    QuillmarDocCore::TTopic* LoadTopic(TTopicIndex& entry);
    void ReadTopic(TTopicIndex& entry) override;
    void WriteTopic(TTopicIndex& entry);
    void MoveTopic(TFolder& from, TFolder& to, bool copyOnly, TTopicIndex& entry);
    // Destroys the body stream and removes the entry; the caller adjusts the unread
    // count and saves the index.
    void DeleteTopic(TFolder& item, TTopicIndex& entry);
    // Gives the entries of folder's index the read state, keeps the unread counts of the
    // folder and of the items search results came from, and saves the changed indexes.
    void MarkTopics(TFolder& folder, const QList<TTopicIndex*>& entries, bool read);
    // Flags one entry (2 = no flag .. 8) and saves its index.
    void SetTopicFlag(TFolder& folder, TTopicIndex& entry, quint8 flag);

    // Names for new elements: unused in the file, from the header's counters.
    QByteArray NewFolderName(TStorage& parent);
    QByteArray NewTopicName(TFolder& owner);
    // "f" or "t" and the number in upper-case hexadecimal, right-aligned in 28 places.
    static QByteArray ElementName(char letter, quint32 number);
    // The number in such a name, or nothing.
    static std::optional<quint32> ElementNumber(char letter, const QByteArray& name);

    // --- attachments ---
    // Reads ".attachments" unless that was done.
    void EnsureAttachmentsLoaded();
    // Adds the stored records to those in memory (a key already there keeps its record).
    // A read error passes on; the records read before it stay, and the list counts as
    // loaded, so that the next save keeps them and new ones.
    void LoadAttachments();
    // Writes every record in the order added (loading first when needed).
    void SaveAttachments();
    TAttachment* FindAttachment(const QByteArray& key);
    // Offers a record (with Url, MimeType and perhaps Size set) for a topic about to be
    // stored. A record for an address already known is refused and freed (false);
    // otherwise it gets its key, file name, comment and priority, the topic lists it,
    // and the document keeps it.
    bool CreateAttachmentFor(std::unique_ptr<TAttachment> record, QuillmarDocCore::TTopic& topic);
    // Null when the key is empty or taken (the record is then freed).
    TAttachment* AddAttachment(std::unique_ptr<TAttachment> record);
    void AssignPriority(TAttachment& record);
    bool SetAttachmentPriority(TAttachment& record, quint8 priority);
    bool HasQueuedAttachments();
    // A download finished: complete, and music goes to the configured playlists; when
    // one of them fails the record is complete with a playlist failure.
    void AttachmentCompleted(TAttachment& record);
    void ClearAttachmentsInStates(const QSet<quint8>& states);
    // The records and their lists, as loaded so far.
    const TAttachmentRecords& AttachmentRecords() const { return m_attachments; }
    bool AttachmentsLoaded() const { return m_attachmentsLoaded; }
    // Adds a file to a playlist; false when that failed. Supplied by the playlists; while
    // it is missing, a playlist the configuration asks for counts as failed.
    std::function<bool(TPlaylist playlist, const QString& fullPath)> AddToPlaylist;

    // --- channel update ---
    // The topic was delivered before: its key is among the channel's known keys, or an
    // entry of the channel's index holds it already. A known key joins the session keys.
    bool IsKnownTopic(TChannel& channel, QuillmarDocCore::TTopic& topic);
    // Stores a topic that is new for the channel: an index entry and a body stream (the
    // index itself is written by RecordChannelUpdate). False, storing nothing, for a
    // known topic. Either way the key joins the session keys.
    bool MergeTopic(TChannel& channel, std::unique_ptr<QuillmarDocCore::TTopic> topic);
    // After an import that stored topics: the channel's date, known keys, index, record,
    // the attachment list and the header, in one commit.
    void RecordChannelUpdate(TChannel& channel);
    // Deletes the item's topics received at least days whole days ago, lowering the
    // unread count for unread ones; true when something was deleted (and the index
    // saved).
    bool AutoDeleteOld(TFolder& item, int days);
    // Told of every topic a merge stored, so that saved searches can take it.
    std::function<void(TChannel& channel, TTopicIndex& entry)> OfferToSearches;

    // --- storage helpers, inside an operation ---
    // Opens the storages along the path (the last one created when create is set); an
    // empty path gives the root storage. Returns a closed path on failure.
    TStoragePath OpenStoragePath(const QByteArray& path, int access, bool create);
    // The item's storage for reading; closed when the item has none.
    TStoragePath OpenItemForReading(const TFolder& item);
    // The item's storage for writing; raises when it cannot be opened. An item without a
    // storage of its own (a search that is not saved) gives a closed path.
    TStoragePath OpenItemForWriting(const TFolder& item);

private:
    void OpenFile(bool create = false);
    void CloseFile();
    void CloseFileAfterFailure() noexcept;
    void RequireOpen() const;
    TStorage& RootStorage() const;

    bool IsSearchItem(const TFolder& item) const;
    int DepthOf(const TFolder& item) const;
    template <class T> T* CreateItem(TFolder* parent, T* (TFolder::*add)());
    void LoadTree(TStorage& storage, TFolder& item);
    void ReadItemRecord(TStorage& storage, TFolder& item);
    void ReadChannelRecord(TStorage& storage, TChannel& channel);
    void ReadSearchRecord(TStorage& storage, TSearchChannel& channel);
    void WriteItemRecord(TStorage& storage, TFolder& item);
    void WriteChannelRecord(TStorage& storage, TChannel& channel);
    void WriteSearchRecord(TStorage& storage, TSearchChannel& channel);
    void ReadIndexRecord(TValueReader& reader, TFolder& item);
    void NoteFolderName(const QByteArray& name);
    void NoteTopicName(const QByteArray& name);

    QString m_fileName;
    std::unique_ptr<TFolder> m_root;
    std::unique_ptr<TRootStorageWatchdog> m_watchdog;
    TObjectHash<TFolder> m_foldersByName{false};
    TObjectHash<TChannel> m_channelsByUrl{false};
    // The address each channel was registered under, to forget it when it changes.
    QHash<const TChannel*, QByteArray> m_urlOfChannel;
    std::unique_ptr<TSearchFolder> m_searchRoot;
    TSearchOptions m_searchOptions;
    qint32 m_headerReserved = 1;
    TAttachmentRecords m_attachments;
    bool m_attachmentsLoaded = false;
    bool m_opened = false;
    bool m_opening = false;
};

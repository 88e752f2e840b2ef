#include "QuillmarDoc.h"

#include "shell/Clock.h"
#include "shell/ReaderBranding.h"
#include "shell/SystemCodePage.h"
#include "shell/UIUtils.h"
#include "store/CompDoc.h"
#include "store/DocumentLocation.h"
#include "store/ValueStream.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

namespace {

const QByteArray HeaderStream = QByteArrayLiteral(".quillmar");
const QByteArray ItemStream = QByteArrayLiteral(".folder");
const QByteArray ChannelStream = QByteArrayLiteral(".channel");
const QByteArray SearchInfoStream = QByteArrayLiteral(".searchinfo");
const QByteArray IndexStream = QByteArrayLiteral(".index");
const QByteArray CustomizeStream = QByteArrayLiteral(".customize");
const QByteArray SearchStorage = QByteArrayLiteral(".search");

std::unique_ptr<TQuillmarDoc> g_instance;

// Element names compare case-insensitively in the file.
bool SameElementName(const QByteArray& a, const QByteArray& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

QByteArray LowerAscii(QByteArray text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    }
    return text;
}

QByteArray UrlKey(const QString& url) {
    return LowerAscii(ToSystemCodePage(url));
}

// A text field that older records kept as an 8-bit string. The reader converts between
// the two kinds either way; the distinction is kept so each field reads as it was written.
QString ReadText(TValueReader& reader, bool wide) {
    return wide ? reader.ReadWideString() : FromSystemCodePage(reader.ReadString());
}

quint8 StatusInRange(qint32 status) {
    return status >= 1 && status <= 3 ? quint8(status) : quint8(TChannel::StatusOk);
}

quint8 FlagInRange(qint32 flag) {
    return flag >= 2 && flag <= 8 ? quint8(flag) : quint8(TTopicIndex::FlagNone);
}

// Runs fill with a value writer on the stream, created or replaced.
template <class F> void WriteStream(TStorage& storage, const QByteArray& name, F&& fill) {
    TStorageStream stream(name, storage, StgAccessWrite, true);
    TValueWriter writer(stream);
    fill(writer);
    writer.Flush();
}

// Runs read with a value reader on the stream; false when there is no such stream.
template <class F> bool ReadStream(TStorage& storage, const QByteArray& name, F&& read) {
    if (name.isEmpty() || !storage.StreamExists(name))
        return false;
    TStorageStream stream(name, storage, StgAccessRead, false);
    TValueReader reader(stream);
    read(reader);
    return true;
}

QString OpenFailureMessage() {
    return GetConstant(QStringLiteral("SCannotOpenDocumentFile"));
}

} // namespace

// --- TStoragePath -----------------------------------------------------------------

TStoragePath::TStoragePath(TStoragePath&& other) noexcept
    : m_opened(std::move(other.m_opened)), m_last(std::exchange(other.m_last, nullptr)) {}

TStoragePath& TStoragePath::operator=(TStoragePath&& other) noexcept {
    if (this != &other) {
        while (!m_opened.empty())
            m_opened.pop_back();
        m_opened = std::move(other.m_opened);
        m_last = std::exchange(other.m_last, nullptr);
    }
    return *this;
}

TStoragePath::~TStoragePath() {
    // Innermost first: a storage is released before the one it was opened in.
    while (!m_opened.empty())
        m_opened.pop_back();
}

// --- the instance -----------------------------------------------------------------

TQuillmarDoc& TQuillmarDoc::Instance() {
    if (!g_instance)
        g_instance = std::make_unique<TQuillmarDoc>();
    return *g_instance;
}

void TQuillmarDoc::ReleaseInstance() {
    g_instance.reset();
}

TQuillmarDoc::TQuillmarDoc(const QString& folder)
    : m_root(std::make_unique<TFolder>()), m_searchRoot(std::make_unique<TSearchFolder>()) {
    if (folder.isEmpty()) {
        QDir().mkpath(DocumentFolder());
        m_fileName = DocumentFileName();
    } else {
        const QString own = QDir(folder).filePath(QStringLiteral("Quillmar.bin"));
        m_fileName =
            QFileInfo::exists(own) ? own : QDir(folder).filePath(QStringLiteral("Reader.bin"));
    }
    m_watchdog = std::make_unique<TRootStorageWatchdog>(m_fileName);
    m_root->SetStore(this);
    m_searchRoot->SetStore(this);
    m_searchRoot->SetTitle(GetConstant(QStringLiteral("SQuillmarSearchNode")));
    HomePage = ToSystemCodePage(TBranding::Instance().HomePageUrl);
}

TQuillmarDoc::~TQuillmarDoc() = default;

// --- the open file ----------------------------------------------------------------

void TQuillmarDoc::OpenFile(bool create) {
    // Until the document was read, nothing may write into a file that could not be read:
    // counters and records from an empty model would overwrite what it holds.
    if (!m_opened && !m_opening)
        throw ECannotOpenDocument(OpenFailureMessage());
    m_watchdog->Open(create);
}

void TQuillmarDoc::CloseFile() {
    m_watchdog->Close();
}

void TQuillmarDoc::CloseFileAfterFailure() noexcept {
    try {
        m_watchdog->Close();
    } catch (...) {
        // The failure that ended the operation is the one to report.
    }
}

TStorage& TQuillmarDoc::RootStorage() const {
    TStorage* root = m_watchdog->Root();
    if (!root)
        throw EDocumentError(QStringLiteral("The document file is not open"));
    return *root;
}

// --- storage helpers --------------------------------------------------------------

namespace {

// Opens the storages of path (backslash-separated) inside start, appending them to
// opened; the last one is created when create is set. Raises on failure.
TStorage* OpenPathFrom(TStorage& start, const QByteArray& path, int access, bool create,
                       std::vector<std::unique_ptr<TStorage>>& opened) {
    TStorage* current = &start;
    if (path.isEmpty())
        return current;
    const QList<QByteArray> parts = path.split('\\');
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const bool last = i == parts.size() - 1;
        opened.push_back(
            std::make_unique<TStorage>(parts[i], current, access, false, last && create));
        current = opened.back().get();
    }
    return current;
}

} // namespace

TStoragePath TQuillmarDoc::OpenStoragePath(const QByteArray& path, int access, bool create) {
    TStoragePath result;
    try {
        result.m_last = OpenPathFrom(RootStorage(), path, access, create, result.m_opened);
    } catch (const ECompDocError&) {
        return {};
    }
    return result;
}

TStoragePath TQuillmarDoc::OpenItemForReading(const TFolder& item) {
    if (&item != m_root.get() && item.Path().isEmpty())
        return {};
    return OpenStoragePath(item.Path(), StgAccessRead, false);
}

TStoragePath TQuillmarDoc::OpenItemForWriting(const TFolder& item) {
    if (&item != m_root.get() && item.Path().isEmpty()) {
        if (IsSearchItem(item))
            return {}; // a search that is not saved lives in memory only
        throw EDocumentError(
            QStringLiteral("The item \"%1\" has no storage in the document").arg(item.Title()));
    }
    TStoragePath path = OpenStoragePath(item.Path(), StgAccessReadWrite, false);
    if (!path)
        throw EDocumentError(QStringLiteral("Cannot open the storage \"%1\" of the document")
                                 .arg(QString::fromUtf8(item.Path())));
    return path;
}

bool TQuillmarDoc::StoragePathExists(const QByteArray& path) {
    return Operation([&] { return bool(OpenStoragePath(path, StgAccessRead, false)); });
}

bool TQuillmarDoc::IsSearchItem(const TFolder& item) const {
    const TFolder* top = &item;
    while (top->Parent())
        top = top->Parent();
    return top == m_searchRoot.get();
}

int TQuillmarDoc::DepthOf(const TFolder& item) const {
    int depth = 0;
    for (const TFolder* f = &item; f->Parent(); f = f->Parent())
        ++depth;
    // The search root is a storage below the root storage.
    return IsSearchItem(item) ? depth + 1 : depth;
}

// --- names ------------------------------------------------------------------------

QByteArray TQuillmarDoc::ElementName(char letter, quint32 number) {
    return letter + QByteArray::number(number, 16).toUpper().rightJustified(28, ' ');
}

std::optional<quint32> TQuillmarDoc::ElementNumber(char letter, const QByteArray& name) {
    if (name.size() < 2 || (name[0] != letter && name[0] != char(letter - 'a' + 'A')))
        return std::nullopt;
    const QByteArray digits = name.mid(1).trimmed();
    if (digits.isEmpty() || digits.size() > 8)
        return std::nullopt;
    bool ok = false;
    const qulonglong number = digits.toULongLong(&ok, 16);
    if (!ok)
        return std::nullopt;
    return quint32(number);
}

void TQuillmarDoc::NoteFolderName(const QByteArray& name) {
    // A header that lags behind the names in the file (an old writer, a damaged header)
    // must not hand out a name that is taken.
    if (const auto number = ElementNumber('f', name); number && *number >= NextFolderNumber)
        NextFolderNumber = *number == 0xFFFFFFFFu ? *number : *number + 1;
}

void TQuillmarDoc::NoteTopicName(const QByteArray& name) {
    if (const auto number = ElementNumber('t', name); number && *number >= NextTopicNumber)
        NextTopicNumber = *number == 0xFFFFFFFFu ? *number : *number + 1;
}

QByteArray TQuillmarDoc::NewFolderName(TStorage& parent) {
    return Operation([&] {
        QByteArray name;
        // Item storage names are unique in the whole file (items are found by them), and
        // never the name of an element already in the parent.
        do {
            name = ElementName('f', NextFolderNumber++);
        } while (m_foldersByName.Exists(name) || parent.StorageExists(name) ||
                 parent.StreamExists(name));
        WriteHeader();
        return name;
    });
}

QByteArray TQuillmarDoc::NewTopicName(TFolder& owner) {
    return Operation([&] {
        TStoragePath storage = OpenItemForReading(owner);
        QByteArray name;
        do {
            name = ElementName('t', NextTopicNumber++);
        } while (storage && storage.Storage()->StreamExists(name));
        WriteHeader();
        return name;
    });
}

// --- header, customisation, banners -----------------------------------------------

void TQuillmarDoc::ReadHeader() {
    Operation([&] {
        ReadStream(RootStorage(), HeaderStream, [&](TValueReader& r) {
            const qint32 version = r.ReadRawInt32();
            NextFolderNumber = quint32(r.ReadRawInt32());
            NextTopicNumber = quint32(r.ReadRawInt32());
            if (version >= 20)
                m_headerReserved = r.ReadRawInt32();
        });
    });
}

void TQuillmarDoc::WriteHeader() {
    Operation([&] {
        WriteStream(RootStorage(), HeaderStream, [&](TValueWriter& w) {
            w.WriteRawInt32(HeaderVersion);
            w.WriteRawInt32(qint32(NextFolderNumber));
            w.WriteRawInt32(qint32(NextTopicNumber));
            w.WriteRawInt32(1);
        });
    });
}

void TQuillmarDoc::LoadCustomization() {
    Operation([&] {
        try {
            ReadStream(RootStorage(), CustomizeStream, [&](TValueReader& r) {
                r.ReadRawInt32();
                HomePage = r.ReadString();
            });
        } catch (const Exception&) {
            // An unreadable customisation keeps the branding's home page.
        }
    });
}

std::optional<TBanner> TQuillmarDoc::ReadBanner(const QByteArray& name, bool withImage) {
    return Operation([&]() -> std::optional<TBanner> {
        TStorage& root = RootStorage();
        if (name.isEmpty() || !root.StreamExists(name))
            return std::nullopt;
        TStorageStream stream(name, root, StgAccessRead, false);
        TBanner banner;
        {
            TValueReader r(stream);
            r.ReadRawInt32();
            banner.Kind = r.ReadRawInt32();
            if (banner.Kind < TBanner::Gif || banner.Kind > TBanner::NoImage)
                return std::nullopt;
            banner.Link = r.ReadString();
        } // the reader puts the stream back right after the string
        if (withImage && banner.Kind != TBanner::NoImage)
            banner.Image = stream.readAll();
        return banner;
    });
}

// --- opening the document ---------------------------------------------------------

void TQuillmarDoc::OpenDocument() {
    if (m_opened)
        return;
    m_opening = true;
    const bool exists = QFileInfo::exists(m_fileName);
    try {
        if (exists) {
            OpenFile(false);
        } else {
            QDir().mkpath(QFileInfo(m_fileName).absolutePath());
            OpenFile(true);
        }
    } catch (const Exception& e) {
        m_opening = false;
        throw ECannotOpenDocument(OpenFailureMessage(), e.Message());
    }
    try {
        if (exists) {
            ReadHeader();
            LoadTree(RootStorage(), *m_root);
        } else {
            WriteHeader();
            SaveSearchTree();
        }
        LoadSearchTree();
        LoadCustomization();
        CloseFile();
    } catch (const Exception& e) {
        CloseFileAfterFailure();
        m_opening = false;
        // What was read of a file that cannot be read in full is dropped, so that nothing
        // is ever saved from it.
        m_foldersByName.Clear();
        m_channelsByUrl.Clear();
        m_urlOfChannel.clear();
        m_root = std::make_unique<TFolder>();
        m_root->SetStore(this);
        m_searchRoot = std::make_unique<TSearchFolder>();
        m_searchRoot->SetStore(this);
        m_searchRoot->SetTitle(GetConstant(QStringLiteral("SQuillmarSearchNode")));
        throw ECannotOpenDocument(OpenFailureMessage(), e.Message());
    }
    m_opening = false;
    m_opened = true;
}

// --- the tree ---------------------------------------------------------------------

void TQuillmarDoc::LoadTree(TStorage& storage, TFolder& top) {
    // One frame per open storage on the way down; the tree is walked without recursion,
    // and no deeper than MaxItemDepth.
    struct Frame {
        TFolder* item;
        std::unique_ptr<TStorage> own; // null for the storage passed in
        TStorage* storage;
        QList<QByteArray> names;
        qsizetype next = 0;
        int depth;
    };
    std::vector<Frame> stack;
    const auto enter = [&](TFolder* item, std::unique_ptr<TStorage> own, TStorage* at, int depth) {
        if (item != m_root.get())
            ReadItemRecord(*at, *item);
        Frame frame{item, std::move(own), at, {}, 0, depth};
        at->ListStorages(frame.names);
        if (item == m_root.get())
            frame.names.removeIf(
                [](const QByteArray& n) { return SameElementName(n, SearchStorage); });
        stack.push_back(std::move(frame));
    };
    enter(&top, nullptr, &storage, DepthOf(top));
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next >= frame.names.size()) {
            Frame done = std::move(stack.back());
            stack.pop_back();
            if (done.item != &top) {
                if (auto* channel = dynamic_cast<TChannel*>(done.item)) {
                    ReadChannelRecord(*done.storage, *channel);
                    if (auto* search = dynamic_cast<TSearchChannel*>(channel))
                        ReadSearchRecord(*done.storage, *search);
                }
                Register(*done.item);
            }
            continue;
        }
        const QByteArray name = frame.names[frame.next++];
        NoteFolderName(name);
        if (frame.depth + 1 > MaxItemDepth)
            continue;
        auto child = std::make_unique<TStorage>(name, frame.storage, StgAccessRead, false, false);
        TStorage* at = child.get();
        TFolder* item = at->StreamExists(ChannelStream)
                            ? static_cast<TFolder*>(frame.item->AddChannel())
                            : frame.item->AddFolder();
        item->SetPath(frame.item == m_root.get() ? name : frame.item->Path() + '\\' + name);
        const int depth = frame.depth + 1;
        enter(item, std::move(child), at, depth); // frame may move: not used after this
    }
}

void TQuillmarDoc::LoadSearchTree() {
    Operation([&] {
        TStorage& root = RootStorage();
        if (!root.StorageExists(SearchStorage))
            return;
        TStorage search(SearchStorage, &root, StgAccessRead, false, false);
        LoadTree(search, *m_searchRoot);
    });
}

void TQuillmarDoc::SaveSearchTree() {
    Operation([&] {
        TStorage& root = RootStorage();
        {
            TStorage search(SearchStorage, &root, StgAccessReadWrite, false,
                            !root.StorageExists(SearchStorage));
        }
        SaveFolder(*m_searchRoot);
        for (int i = 0; i < m_searchRoot->ChannelCount(); ++i) {
            auto* search = static_cast<TSearchChannel*>(m_searchRoot->Channels(i));
            if (!search->Options.Persistent) {
                // A search the user no longer keeps would otherwise come back as kept at
                // the next start.
                if (!search->Path().isEmpty()) {
                    TStorage searchStorage(SearchStorage, &root, StgAccessReadWrite, false, false);
                    if (searchStorage.StorageExists(search->StorageName()))
                        searchStorage.DestroyElement(search->StorageName());
                    Unregister(*search);
                    search->SetPath({});
                }
                continue;
            }
            if (search->Path().isEmpty() ||
                !OpenStoragePath(search->Path(), StgAccessRead, false)) {
                try {
                    TStorage searchStorage(SearchStorage, &root, StgAccessReadWrite, false, false);
                    const QByteArray name = NewFolderName(searchStorage);
                    TStorage made(name, &searchStorage, StgAccessReadWrite, false, true);
                    search->SetPath(SearchStorage + '\\' + name);
                } catch (const ECompDocError&) {
                    continue; // not saved this time; the search stays in memory
                }
            }
            SaveChannel(*search);
            SaveSearchInfo(*search);
            SaveIndex(*search);
        }
        WriteHeader();
    });
}

// --- item records -----------------------------------------------------------------

void TQuillmarDoc::ReadItemRecord(TStorage& storage, TFolder& item) {
    ReadStream(storage, ItemStream, [&](TValueReader& r) {
        const qint32 version = r.ReadRawInt32();
        item.SetTitle(ReadText(r, version >= 40));
        item.SetProtected(r.ReadBoolean());
        if (version > 19)
            item.SetUnreadCount(r.ReadRawInt32());
        if (version > 29)
            item.TopicCount = r.ReadInteger();
        if (version > 49) {
            item.FromSubscription = r.ReadBoolean();
            item.Deleted = r.ReadBoolean();
        }
    });
}

void TQuillmarDoc::WriteItemRecord(TStorage& storage, TFolder& item) {
    WriteStream(storage, ItemStream, [&](TValueWriter& w) {
        w.WriteRawInt32(ItemRecordVersion);
        w.WriteWideString(item.Title());
        w.WriteBoolean(item.Protected());
        w.WriteRawInt32(item.UnreadCount());
        w.WriteInteger(item.TopicCount);
        w.WriteBoolean(item.FromSubscription);
        w.WriteBoolean(item.Deleted);
    });
}

void TQuillmarDoc::ReadChannelRecord(TStorage& storage, TChannel& channel) {
    ReadStream(storage, ChannelStream, [&](TValueReader& r) {
        const qint32 version = r.ReadRawInt32();
        const bool wide = version >= 20;
        channel.SetUrl(ReadText(r, wide));
        channel.SetDescription(ReadText(r, wide));
        channel.Link = ReadText(r, wide);
        channel.SetCopyright(ReadText(r, wide));
        channel.Date = r.ReadDate();
        channel.Image.Title = FromSystemCodePage(r.ReadString());
        channel.Image.Link = FromSystemCodePage(r.ReadString());
        channel.Image.Src = FromSystemCodePage(r.ReadString());
        if (version > 29)
            channel.Status = StatusInRange(r.ReadInteger());
        if (version > 39)
            channel.UseAccountCredentials = r.ReadBoolean();
        if (version > 49)
            channel.SetAuthor(r.ReadWideString());
    });
}

void TQuillmarDoc::WriteChannelRecord(TStorage& storage, TChannel& channel) {
    WriteStream(storage, ChannelStream, [&](TValueWriter& w) {
        w.WriteRawInt32(ChannelRecordVersion);
        w.WriteWideString(channel.Url());
        w.WriteWideString(channel.Description());
        w.WriteWideString(channel.Link);
        w.WriteWideString(channel.Copyright());
        w.WriteDate(channel.Date);
        w.WriteString(ToSystemCodePage(channel.Image.Title));
        w.WriteString(ToSystemCodePage(channel.Image.Link));
        w.WriteString(ToSystemCodePage(channel.Image.Src));
        w.WriteInteger(channel.Status);
        w.WriteBoolean(channel.UseAccountCredentials);
        w.WriteWideString(channel.Author());
    });
}

void TQuillmarDoc::ReadSearchRecord(TStorage& storage, TSearchChannel& channel) {
    ReadStream(storage, SearchInfoStream, [&](TValueReader& r) {
        const qint32 version = r.ReadRawInt32();
        TSearchOptions& options = channel.Options;
        options.Text = ReadText(r, version >= 20);
        options.MatchCase = r.ReadBoolean();
        options.MatchWholeWords = r.ReadBoolean();
        QList<QByteArray> folders;
        r.ReadListBegin();
        while (!r.EndOfList())
            folders.append(r.ReadString());
        r.ReadListEnd();
        options.Folders = folders;
        options.Persistent = true;
    });
}

void TQuillmarDoc::WriteSearchRecord(TStorage& storage, TSearchChannel& channel) {
    WriteStream(storage, SearchInfoStream, [&](TValueWriter& w) {
        const TSearchOptions& options = channel.Options;
        w.WriteRawInt32(SearchRecordVersion);
        w.WriteWideString(options.Text);
        w.WriteBoolean(options.MatchCase);
        w.WriteBoolean(options.MatchWholeWords);
        w.WriteListBegin();
        for (const QByteArray& folder : options.Folders)
            w.WriteString(folder);
        w.WriteListEnd();
    });
}

// --- items ------------------------------------------------------------------------

template <class T> T* TQuillmarDoc::CreateItem(TFolder* parent, T* (TFolder::*add)()) {
    return Operation([&]() -> T* {
        TFolder* owner = parent ? parent : m_root.get();
        if (DepthOf(*owner) + 1 > MaxItemDepth)
            throw EDocumentError(
                QStringLiteral("Folders cannot be nested more than %1 deep").arg(MaxItemDepth));
        TStoragePath parentStorage = OpenItemForWriting(*owner);
        if (!parentStorage)
            throw EDocumentError(QStringLiteral("A search that is not saved holds no items"));
        T* item = (owner->*add)();
        try {
            const QByteArray name = NewFolderName(*parentStorage.Storage());
            TStorage made(name, parentStorage.Storage(), StgAccessReadWrite, false, true);
            item->SetPath(owner->Path().isEmpty() ? name : owner->Path() + '\\' + name);
        } catch (...) {
            if constexpr (std::is_same_v<T, TChannel>)
                owner->RemoveChannel(item);
            else
                owner->RemoveFolder(item);
            throw;
        }
        Register(*item);
        return item;
    });
}

TFolder* TQuillmarDoc::CreateFolder(TFolder* parent) {
    return CreateItem<TFolder>(parent, &TFolder::AddFolder);
}

TChannel* TQuillmarDoc::CreateChannel(TFolder* parent) {
    return CreateItem<TChannel>(parent, &TFolder::AddChannel);
}

void TQuillmarDoc::SaveFolder(TFolder& item) {
    Operation([&] {
        TStoragePath storage = OpenItemForWriting(item);
        if (!storage)
            return;
        WriteItemRecord(*storage.Storage(), item);
        Register(item);
    });
}

void TQuillmarDoc::SaveChannel(TChannel& channel) {
    Operation([&] {
        TStoragePath storage = OpenItemForWriting(channel);
        if (!storage)
            return;
        WriteItemRecord(*storage.Storage(), channel);
        WriteChannelRecord(*storage.Storage(), channel);
        Register(channel);
    });
}

void TQuillmarDoc::SaveSearchInfo(TSearchChannel& channel) {
    Operation([&] {
        TStoragePath storage = OpenItemForWriting(channel);
        if (!storage)
            return;
        WriteItemRecord(*storage.Storage(), channel);
        WriteSearchRecord(*storage.Storage(), channel);
    });
}

void TQuillmarDoc::SaveFolderAndChannel(TChannel& channel) {
    Operation([&] {
        SaveFolder(channel);
        SaveChannel(channel);
    });
}

void TQuillmarDoc::Register(TFolder& item) {
    const QByteArray name = item.StorageName();
    if (!name.isEmpty())
        m_foldersByName.SetItem(name, &item);
    auto* channel = dynamic_cast<TChannel*>(&item);
    if (!channel || dynamic_cast<TSearchChannel*>(channel) || channel->Url().isEmpty())
        return;
    const QByteArray key = UrlKey(channel->Url());
    // The channel's address may have changed: its old address no longer leads to it.
    const auto old = m_urlOfChannel.constFind(channel);
    if (old != m_urlOfChannel.constEnd() && *old != key && m_channelsByUrl.Exists(*old) &&
        m_channelsByUrl.Items(*old) == channel)
        m_channelsByUrl.Delete(*old);
    m_channelsByUrl.SetItem(key, channel);
    m_urlOfChannel.insert(channel, key);
}

void TQuillmarDoc::Unregister(TFolder& top) {
    QSet<const TFolder*> gone;
    std::vector<TFolder*> pending{&top};
    while (!pending.empty()) {
        TFolder* item = pending.back();
        pending.pop_back();
        gone.insert(item);
        for (int i = 0; i < item->FolderCount(); ++i)
            pending.push_back(item->Folders(i));
        for (int i = 0; i < item->ChannelCount(); ++i)
            pending.push_back(item->Channels(i));
    }
    const auto forget = [&gone](auto& table) {
        QList<QByteArray> keys;
        table.Restart();
        while (table.Next()) {
            if (gone.contains(table.Items(table.CurrentKey())))
                keys.append(table.CurrentKey());
        }
        for (const QByteArray& key : keys)
            table.Delete(key);
    };
    forget(m_foldersByName);
    forget(m_channelsByUrl);
    for (const TFolder* item : gone) {
        if (const auto* channel = dynamic_cast<const TChannel*>(item))
            m_urlOfChannel.remove(channel);
    }
}

TFolder* TQuillmarDoc::FolderByStorageName(const QByteArray& name) {
    if (name.isEmpty() || !m_foldersByName.Exists(name))
        return nullptr;
    return m_foldersByName.Items(name);
}

TChannel* TQuillmarDoc::ChannelByUrl(const QString& url) const {
    const QByteArray key = UrlKey(url);
    if (key.isEmpty() || !m_channelsByUrl.Exists(key))
        return nullptr;
    return m_channelsByUrl.Items(key);
}

void TQuillmarDoc::MoveFolder(TFolder& item, TFolder* newParent) {
    Operation([&] {
        TFolder* target = newParent ? newParent : m_root.get();
        if (&item == m_root.get() || &item == m_searchRoot.get() || !item.Parent())
            throw EDocumentError(QStringLiteral("The top of a tree cannot be moved"));
        if (item.Contains(target))
            throw EDocumentError(
                QStringLiteral("A folder cannot be moved into itself or one of its sub-folders"));
        if (target->IsChannel() || IsSearchItem(item) != IsSearchItem(*target))
            throw EDocumentError(QStringLiteral("An item can only be moved into a folder"));
        if (item.Parent() == target)
            return;
        // The depth of the moved branch below the item.
        int height = 0;
        std::vector<std::pair<const TFolder*, int>> pending{{&item, 0}};
        while (!pending.empty()) {
            const auto [f, h] = pending.back();
            pending.pop_back();
            height = std::max(height, h);
            for (int i = 0; i < f->FolderCount(); ++i)
                pending.push_back({f->Folders(i), h + 1});
            for (int i = 0; i < f->ChannelCount(); ++i)
                pending.push_back({f->Channels(i), h + 1});
        }
        if (DepthOf(*target) + 1 + height > MaxItemDepth)
            throw EDocumentError(
                QStringLiteral("Folders cannot be nested more than %1 deep").arg(MaxItemDepth));

        // The storages are opened from the deepest storage both paths share, so that no
        // storage is opened twice.
        const QByteArray source = item.Path() + '\\';
        const QByteArray targetText =
            target->Path().isEmpty() ? QByteArray() : target->Path() + '\\';
        qsizetype common = 0;
        for (qsizetype i = 0; i < std::min(source.size(), targetText.size()); ++i) {
            if (source[i] != targetText[i])
                break;
            if (source[i] == '\\')
                common = i;
        }
        const QByteArray base = source.left(common);
        const qsizetype restStart = common == 0 ? 0 : common + 1;
        QByteArray sourceRest = item.Path().mid(restStart);
        const qsizetype lastSlash = sourceRest.lastIndexOf('\\');
        sourceRest = lastSlash < 0 ? QByteArray() : sourceRest.left(lastSlash);
        QByteArray targetRest = targetText.mid(restStart);
        targetRest.chop(targetRest.endsWith('\\') ? 1 : 0);

        std::vector<std::unique_ptr<TStorage>> opened;
        try {
            TStorage* baseStorage =
                OpenPathFrom(RootStorage(), base, StgAccessReadWrite, false, opened);
            TStorage* sourceParent =
                OpenPathFrom(*baseStorage, sourceRest, StgAccessReadWrite, false, opened);
            TStorage* targetParent =
                OpenPathFrom(*baseStorage, targetRest, StgAccessReadWrite, false, opened);
            sourceParent->MoveElement(item.StorageName(), *targetParent, item.StorageName());
        } catch (...) {
            while (!opened.empty())
                opened.pop_back();
            throw;
        }
        while (!opened.empty())
            opened.pop_back();
        item.MoveTo(target);
    });
}

void TQuillmarDoc::DeleteItem(TFolder& item) {
    Operation([&] {
        if (&item == m_root.get() || &item == m_searchRoot.get() || !item.Parent())
            return;
        if (item.FromSubscription) {
            // Kept, hidden, so the next subscription import does not bring it back.
            item.Deleted = true;
            SaveFolder(item);
            return;
        }
        TFolder* parent = item.Parent();
        if (!item.Path().isEmpty()) {
            TStoragePath parentStorage = OpenItemForWriting(*parent);
            const QByteArray name = item.StorageName();
            if (parentStorage && parentStorage.Storage()->StorageExists(name))
                parentStorage.Storage()->DestroyElement(name);
        }
        Unregister(item);
        if (auto* channel = dynamic_cast<TChannel*>(&item))
            parent->RemoveChannel(channel);
        else
            parent->RemoveFolder(&item);
    });
}

// --- indexes ----------------------------------------------------------------------

void TQuillmarDoc::ReadIndexRecord(TValueReader& r, TFolder& item) {
    const qint32 version = r.ReadRawInt32();
    // Entries of an index without received dates get the time it was read.
    const double now = NowLocal();
    r.ReadListBegin();
    while (!r.EndOfList()) {
        // An entry joins the index only when all its fields were read.
        auto entry = std::make_unique<TTopicIndex>(now);
        const QByteArray key = r.ReadString();
        entry->SetTitle(ReadText(r, version >= 80));
        entry->Date = r.ReadDate();
        entry->StreamName = r.ReadString();
        entry->Read = r.ReadBoolean();
        if (version >= 20)
            r.ReadBoolean();
        if (version >= 40)
            entry->Flag = FlagInRange(r.ReadInteger());
        if (version >= 50)
            entry->ContentHash = r.ReadString();
        if (version >= 60)
            entry->HasAttachments = r.ReadBoolean();
        if (version >= 70)
            entry->Origin = r.ReadString();
        if (version >= 90)
            entry->SetAuthor(r.ReadWideString());
        if (version >= 100)
            entry->Received = r.ReadDate();
        if (key.isEmpty())
            continue; // no topic can live under an empty key
        NoteTopicName(entry->StreamName);
        item.StoreTopicIndex(key, std::move(entry));
    }
    r.ReadListEnd();
    if (version < 30)
        return;
    auto* channel = dynamic_cast<TChannel*>(&item);
    QList<QByteArray> keys;
    r.ReadListBegin();
    while (!r.EndOfList())
        keys.append(r.ReadString());
    r.ReadListEnd();
    if (!channel)
        return;
    channel->KnownKeys.Clear();
    for (const QByteArray& key : keys) {
        if (!key.isEmpty())
            channel->KnownKeys.SetItem(key, 1);
    }
}

void TQuillmarDoc::LoadIndex(TFolder& item) {
    Operation([&] {
        if (&item == m_root.get() || dynamic_cast<TSearchFolder*>(&item)) {
            item.IndexNotLoaded = false;
            return;
        }
        TStoragePath storage = OpenItemForReading(item);
        const qint32 storedCount = item.TopicCount;
        item.ClearTopics(false);
        item.TopicCount = 0;
        try {
            if (storage)
                ReadStream(*storage.Storage(), IndexStream,
                           [&](TValueReader& r) { ReadIndexRecord(r, item); });
        } catch (...) {
            // What was read stays on show, but it must never replace the stored index,
            // nor its count the stored one.
            item.TopicCount = storedCount;
            item.IndexNotLoaded = false;
            item.IndexReadInPart = true;
            throw;
        }
        item.IndexNotLoaded = false;
        item.IndexReadInPart = false;
    });
}

void TQuillmarDoc::EnsureIndexLoaded(TFolder& item) {
    if (item.IndexNotLoaded)
        LoadIndex(item);
}

void TQuillmarDoc::SaveIndex(TFolder& item) {
    Operation([&] {
        if (&item == m_root.get() || dynamic_cast<TSearchFolder*>(&item))
            return;
        if (item.IndexReadInPart)
            throw EDocumentError(QStringLiteral("The topics index of \"%1\" was read only in "
                                                "part; it is not saved over the stored one")
                                     .arg(item.Title()));
        TStoragePath storage = OpenItemForWriting(item);
        if (!storage)
            return;
        // An index that was never read (or was released) is not in memory: saving it would
        // put an empty index over the stored one.
        if (!item.IndexNotLoaded)
            WriteStream(*storage.Storage(), IndexStream, [&](TValueWriter& w) {
                w.WriteRawInt32(IndexVersion);
                w.WriteListBegin();
                TTopicIndex* e = nullptr;
                item.RestartTopics();
                while (item.NextTopic(e)) {
                    w.WriteString(e->Key);
                    w.WriteWideString(e->Title());
                    w.WriteDate(e->Date);
                    w.WriteString(e->StreamName);
                    w.WriteBoolean(e->Read);
                    w.WriteBoolean(true);
                    w.WriteInteger(e->Flag);
                    w.WriteString(e->ContentHash);
                    w.WriteBoolean(e->HasAttachments);
                    w.WriteString(e->Origin);
                    w.WriteWideString(e->Author());
                    w.WriteDate(e->Received);
                }
                w.WriteListEnd();
                w.WriteListBegin();
                if (auto* channel = dynamic_cast<TChannel*>(&item)) {
                    channel->KnownKeys.Restart();
                    while (channel->KnownKeys.Next())
                        w.WriteString(channel->KnownKeys.CurrentKey());
                }
                w.WriteListEnd();
            });
        WriteItemRecord(*storage.Storage(), item);
    });
}

void TQuillmarDoc::ClearChannel(TFolder& item) {
    Operation([&] {
        if (&item == m_root.get() || IsSearchItem(item))
            return;
        try {
            EnsureIndexLoaded(item);
        } catch (const EReadError&) {
            // A damaged index is what a clear gets rid of; its streams go below.
        }
        TStoragePath storage = OpenItemForWriting(item);
        TStorage& at = *storage.Storage();
        QList<QByteArray> streams;
        TTopicIndex* e = nullptr;
        item.RestartTopics();
        while (item.NextTopic(e))
            streams.append(e->StreamName);
        // Bodies an index no longer lists (a damaged one) go too.
        QList<QByteArray> present;
        at.ListStreams(present);
        for (const QByteArray& name : present) {
            if (ElementNumber('t', name))
                streams.append(name);
        }
        for (const QByteArray& name : streams) {
            if (!name.isEmpty() && at.StreamExists(name))
                at.DestroyElement(name);
        }
        item.ClearTopics(true);
        if (auto* channel = dynamic_cast<TChannel*>(&item))
            SessionKeys.Forget(*channel);
        // Written as a loaded, empty index.
        item.IndexNotLoaded = false;
        SaveIndex(item);
    });
}

// --- topics -----------------------------------------------------------------------

QuillmarDocCore::TTopic* TQuillmarDoc::LoadTopic(TTopicIndex& entry) {
    return Operation([&] {
        if (!entry.GetTopic())
            entry.AttachTopic(std::make_unique<QuillmarDocCore::TTopic>(entry.Owner));
        ReadTopic(entry);
        return entry.GetTopic();
    });
}

void TQuillmarDoc::ReadTopic(TTopicIndex& entry) {
    Operation([&] {
        QuillmarDocCore::TTopic* topic = entry.Topic() ? entry.Topic() : entry.GetTopic();
        if (!topic)
            throw ENoTopicAvailable(QStringLiteral("No topic available"));
        if (!topic->NeedsLoading || !topic->Owner)
            return;
        const TTopicIndex& holder = topic->Index ? *topic->Index : entry;
        TStoragePath storage = OpenItemForReading(*topic->Owner);
        if (!storage)
            return;
        ReadStream(*storage.Storage(), holder.StreamName, [&](TValueReader& r) {
            const qint32 version = r.ReadRawInt32();
            const bool wide = version >= 30;
            const QString title = ReadText(r, wide);
            const QString description = ReadText(r, wide);
            const QString link = ReadText(r, wide);
            const QString author = ReadText(r, wide);
            const double date = r.ReadDate();
            QString guid;
            if (version >= 40)
                guid = r.ReadWideString();
            QList<QByteArray> attachments;
            if (version >= 20) {
                r.ReadListBegin();
                while (!r.EndOfList())
                    attachments.append(r.ReadString());
                r.ReadListEnd();
            }
            // Applied only once the whole body was read, so a failed read can be retried.
            topic->SetTitle(title);
            topic->SetDescription(description);
            topic->Link = link;
            topic->Author = author;
            topic->Date = date;
            topic->SetGuid(guid);
            topic->Attachments.append(attachments);
            topic->NeedsLoading = false;
        });
    });
}

void TQuillmarDoc::WriteTopic(TTopicIndex& entry) {
    Operation([&] {
        QuillmarDocCore::TTopic* topic = entry.Topic() ? entry.Topic() : entry.GetTopic();
        if (!topic)
            throw ENoTopicAvailable(QStringLiteral("No topic available"));
        if (!topic->Owner || IsSearchItem(*topic->Owner))
            return;
        const TTopicIndex& holder = topic->Index ? *topic->Index : entry;
        if (holder.StreamName.isEmpty())
            throw EDocumentError(QStringLiteral("The topic has no stream name"));
        topic->NeedsLoading = false;
        TStoragePath storage = OpenItemForWriting(*topic->Owner);
        WriteStream(*storage.Storage(), holder.StreamName, [&](TValueWriter& w) {
            w.WriteRawInt32(TopicVersion);
            w.WriteWideString(topic->Title());
            w.WriteWideString(topic->Description());
            w.WriteWideString(topic->Link);
            w.WriteWideString(topic->Author);
            w.WriteDate(topic->Date);
            w.WriteWideString(topic->Guid());
            w.WriteListBegin();
            for (const QByteArray& key : topic->Attachments)
                w.WriteString(key);
            w.WriteListEnd();
        });
    });
}

void TQuillmarDoc::MoveTopic(TFolder& from, TFolder& to, bool copyOnly, TTopicIndex& entry) {
    Operation([&] {
        if (&from == m_root.get() || &to == m_root.get() || &from == &to)
            return;
        LoadTopic(entry);
        const QByteArray oldStream = entry.StreamName;
        const QByteArray key = entry.Key;
        auto copy = std::make_unique<TTopicIndex>(&to, entry);
        if (!copyOnly)
            from.DeleteTopicIndex(key); // entry is gone from here on
        TTopicIndex* stored = to.AttachTopicIndex(key, std::move(copy));
        // A target that holds the key already keeps its own entry; no body is written
        // for a copy that was not stored, and searches keep no bodies.
        if (stored && !IsSearchItem(to)) {
            stored->StreamName = NewTopicName(to);
            WriteTopic(*stored);
        }
        if (!copyOnly) {
            TStoragePath storage = OpenItemForWriting(from);
            if (storage && !oldStream.isEmpty() && storage.Storage()->StreamExists(oldStream))
                storage.Storage()->DestroyElement(oldStream);
            WriteHeader();
        }
    });
}

void TQuillmarDoc::DeleteTopic(TFolder& item, TTopicIndex& entry) {
    Operation([&] {
        TStoragePath storage = OpenItemForWriting(item);
        // A body that is missing already counts as deleted: one damaged topic must not
        // keep the rest of the channel from being cleaned up.
        if (storage && !entry.StreamName.isEmpty() &&
            storage.Storage()->StreamExists(entry.StreamName))
            storage.Storage()->DestroyElement(entry.StreamName);
        item.DeleteTopicIndex(entry.Key);
    });
}

void TQuillmarDoc::MarkTopics(TFolder& folder, const QList<TTopicIndex*>& entries, bool read) {
    Operation([&] {
        QList<TFolder*> touched;
        int unread = folder.UnreadCount();
        for (TTopicIndex* entry : entries) {
            if (entry->Read != read) {
                entry->Read = read;
                unread += read ? -1 : 1;
            }
            TFolder* holder = &folder;
            if (TFolder* origin = FolderByStorageName(entry->Origin); origin && origin != &folder) {
                EnsureIndexLoaded(*origin);
                if (TTopicIndex* original = origin->FindTopic(entry->Key)) {
                    if (original->Read != read) {
                        original->Read = read;
                        origin->SetUnreadCount(origin->UnreadCount() + (read ? -1 : 1));
                    }
                    holder = origin;
                }
            }
            if (!touched.contains(holder))
                touched.append(holder);
        }
        folder.SetUnreadCount(unread);
        if (!touched.contains(&folder))
            touched.append(&folder);
        for (TFolder* item : touched) {
            SaveIndex(*item);
            if (item != &folder)
                item->ClearTopics(false);
        }
    });
}

void TQuillmarDoc::SetTopicFlag(TFolder& folder, TTopicIndex& entry, quint8 flag) {
    if (flag < TTopicIndex::FlagNone || flag > TTopicIndex::FlagPurple)
        throw EDocumentError(QStringLiteral("A flag is a number from 2 to 8"));
    Operation([&] {
        entry.Flag = flag;
        SaveIndex(folder);
    });
}

#include "QuillmarDocCore.h"

#include "feeds/HTMLUtils.h"
#include "feeds/Uri.h"
#include "shell/Clock.h"
#include "shell/SystemCodePage.h"
#include "store/MD5.h"

#include <QSet>

double NeverUpdatedDate() {
    return EncodeDays(QDate(1980, 6, 1), QTime(0, 0));
}

// --- TSearchOptions ---------------------------------------------------------------

void TSearchOptions::AddFolder(const TFolder& item) {
    Folders.append(item.StorageName());
}

void TSearchOptions::SelectOnly(const TFolder& item) {
    Folders.clear();
    AddFolder(item);
}

// --- TFolder ----------------------------------------------------------------------

TFolder::TFolder(TFolder* parent) : m_parent(parent) {
    if (parent)
        m_store = parent->m_store;
}

TFolder::~TFolder() {
    // A tree read from a damaged file may be deep; taking it apart level by level keeps
    // the stack flat whatever its depth.
    std::vector<std::unique_ptr<TFolder>> pending;
    auto takeChildren = [&pending](TFolder& item) {
        for (auto& f : item.m_folders.TakeAll())
            pending.push_back(std::move(f));
        for (auto& c : item.m_channels.TakeAll())
            pending.push_back(std::move(c));
    };
    takeChildren(*this);
    while (!pending.empty()) {
        std::unique_ptr<TFolder> item = std::move(pending.back());
        pending.pop_back();
        takeChildren(*item);
    }
}

QString TFolder::Title() const {
    return DecodeHtmlEntities(m_title);
}

void TFolder::SetTitle(const QString& title) {
    const QString decoded = DecodeHtmlEntities(title);
    if (decoded == m_title)
        return;
    m_title = decoded;
    RepaintTreeNodes();
}

void TFolder::SetProtected(bool value) {
    bool effective = value;
    for (int i = 0; i < m_folders.Count(); ++i)
        effective = effective || m_folders.Items(i)->m_protected;
    m_protected = effective;
    if (m_parent)
        m_parent->m_protected = effective;
}

std::unique_ptr<TFolder> TFolder::CreateFolderObject() {
    return std::make_unique<TFolder>(this);
}

std::unique_ptr<TChannel> TFolder::CreateChannelObject() {
    return std::make_unique<TChannel>(this);
}

TFolder* TFolder::AddFolder() {
    return m_folders.Add(CreateFolderObject());
}

TChannel* TFolder::AddChannel() {
    return m_channels.Add(CreateChannelObject());
}

void TFolder::RemoveFolder(TFolder* folder) {
    m_folders.Extract(folder);
}

void TFolder::RemoveChannel(TChannel* channel) {
    m_channels.Extract(channel);
}

bool TFolder::Contains(const TFolder* other) const {
    for (const TFolder* f = other; f; f = f->m_parent) {
        if (f == this)
            return true;
    }
    return false;
}

void TFolder::MoveTo(TFolder* newParent) {
    if (!m_parent || !newParent || Contains(newParent))
        throw Exception(QStringLiteral("A folder cannot be moved into itself"));
    std::unique_ptr<TFolder> self = m_parent->m_folders.Extract(this);
    if (!self)
        return;
    newParent->m_folders.Add(std::move(self));
    m_parent = newParent;
    UpdatePath();
}

TTopicIndex* TFolder::AddTopicIndex(const QByteArray& key,
                                    std::unique_ptr<QuillmarDocCore::TTopic> topic) {
    auto entry = std::make_unique<TTopicIndex>();
    QuillmarDocCore::TTopic* body = topic.get();
    if (topic)
        entry->AttachTopic(std::move(topic));
    entry->Key = key;
    entry->Owner = this;
    if (body) {
        entry->SetTitle(body->Title());
        entry->SetAuthor(body->Author);
        entry->Date = body->Date;
        entry->Read = false;
        entry->ContentHash = body->ContentHash();
        entry->HasAttachments = !body->Attachments.isEmpty();
    }
    return StoreTopicIndex(key, std::move(entry));
}

TTopicIndex* TFolder::StoreTopicIndex(const QByteArray& key, std::unique_ptr<TTopicIndex> entry) {
    entry->Key = key;
    entry->Owner = this;
    TTopicIndex* stored = entry.get();
    m_topics.SetItem(key, entry.release());
    ++TopicCount;
    IndexNotLoaded = false;
    return stored;
}

void TFolder::ClearTopics(bool resetUnread) {
    m_topics.Clear();
    IndexNotLoaded = true;
    IndexReadInPart = false;
    // Releasing an index from memory keeps the counts the tree shows and the item record
    // stores; only a real clear empties them.
    if (resetUnread) {
        TopicCount = 0;
        m_unreadCount = 0;
    }
}

void TFolder::RestartTopics() {
    m_topics.Restart();
}

bool TFolder::NextTopic(TTopicIndex*& entry) {
    if (!m_topics.Next()) {
        entry = nullptr;
        return false;
    }
    entry = m_topics.Items(m_topics.CurrentKey());
    return true;
}

TTopicIndex* TFolder::FindTopic(const QByteArray& key) const {
    if (!m_topics.Exists(key))
        return nullptr;
    return m_topics.Items(key);
}

void TFolder::DeleteTopicIndex(const QByteArray& key) {
    if (!m_topics.Exists(key))
        return;
    m_topics.Delete(key);
    --TopicCount;
    IndexNotLoaded = false;
}

TTopicIndex* TFolder::AttachTopicIndex(const QByteArray& key, std::unique_ptr<TTopicIndex> entry) {
    if (key.isEmpty() || m_topics.Exists(key))
        return nullptr;
    entry->Owner = this;
    TTopicIndex* stored = entry.get();
    m_topics.SetItem(key, entry.release());
    ++TopicCount;
    IndexNotLoaded = false;
    return stored;
}

void TFolder::SetUnreadCount(int count) {
    if (count == m_unreadCount)
        return;
    m_unreadCount = count < 0 ? 0 : count;
    RepaintTreeNodes();
}

void TFolder::AddTreeNode(TItemView* view) {
    if (view && !m_treeNodes.contains(view))
        m_treeNodes.append(view);
}

void TFolder::RemoveTreeNode(TItemView* view) {
    m_treeNodes.removeAll(view);
}

void TFolder::RepaintTreeNodes() {
    for (qsizetype i = m_treeNodes.size() - 1; i >= 0; --i) {
        if (i >= m_treeNodes.size())
            continue; // a view removed others while repainting
        try {
            m_treeNodes[i]->Repaint(*this);
        } catch (...) {
            // The view is gone (its node was deleted); it will not be asked again.
            if (i < m_treeNodes.size())
                m_treeNodes.removeAt(i);
        }
    }
}

QByteArray TFolder::StorageName() const {
    const qsizetype slash = m_path.lastIndexOf('\\');
    return slash < 0 ? m_path : m_path.mid(slash + 1);
}

void TFolder::UpdatePath() {
    if (!m_parent)
        return;
    std::vector<TFolder*> pending{this};
    while (!pending.empty()) {
        TFolder* item = pending.back();
        pending.pop_back();
        const QByteArray& parentPath = item->m_parent->m_path;
        item->m_path =
            (parentPath.isEmpty() ? QByteArray() : parentPath + '\\') + item->StorageName();
        // Pushed in reverse so that sub-folders come before channels, in list order.
        for (int i = item->m_channels.Count() - 1; i >= 0; --i)
            pending.push_back(item->m_channels.Items(i));
        for (int i = item->m_folders.Count() - 1; i >= 0; --i)
            pending.push_back(item->m_folders.Items(i));
    }
}

// --- TChannel ---------------------------------------------------------------------

TChannel::TChannel(TFolder* parent) : TFolder(parent), Date(NeverUpdatedDate()) {}

void TChannel::MoveTo(TFolder* newParent) {
    if (!Parent() || !newParent || Contains(newParent))
        throw Exception(QStringLiteral("A channel cannot be moved into itself"));
    std::unique_ptr<TChannel> self = Parent()->m_channels.Extract(this);
    if (!self)
        return;
    newParent->m_channels.Add(std::move(self));
    m_parent = newParent;
    UpdatePath();
}

void TChannel::ClearTopics(bool resetUnread) {
    TFolder::ClearTopics(resetUnread);
    if (resetUnread)
        KnownKeys.Clear();
}

void TChannel::SetCopyright(const QString& text) {
    m_copyright = DecodeHtmlEntities(text);
}

void TChannel::SetDescription(const QString& text) {
    m_description = DecodeHtmlEntities(text);
}

void TChannel::SetUrl(const QString& url) {
    m_url = url;
    m_urlHasCredentials = TUri(ToSystemCodePage(url)).HasCredentials();
}

QString TChannel::Author() const {
    return DecodeHtmlEntities(m_author);
}

// --- TSearchFolder ----------------------------------------------------------------

TSearchFolder::TSearchFolder(TFolder* parent) : TFolder(parent) {
    IndexNotLoaded = false;
    SetPath(QByteArrayLiteral(".search"));
}

std::unique_ptr<TFolder> TSearchFolder::CreateFolderObject() {
    return std::make_unique<TSearchFolder>(this);
}

std::unique_ptr<TChannel> TSearchFolder::CreateChannelObject() {
    return std::make_unique<TSearchChannel>(this);
}

// --- QuillmarDocCore::TTopic ------------------------------------------------------

namespace QuillmarDocCore {

TTopic::TTopic(TFolder* owner) : Owner(owner), Date(NowLocal()) {}

TTopic::TTopic(TFolder* owner, TTopic& source)
    : Owner(owner), Index(source.Index), Attachments(source.Attachments), Link(source.Link),
      Author(source.Author), Date(source.Date), NeedsLoading(source.NeedsLoading),
      m_title(source.Title()), m_description(source.m_description), m_guid(source.m_guid),
      m_contentHash(source.ContentHash()) {}

QString TTopic::Title() const {
    return DecodeHtmlEntities(m_title);
}

void TTopic::SetDescription(const QString& description) {
    m_description = description;
    m_contentHash.clear();
}

void TTopic::SetGuid(const QString& guid) {
    m_guid = TrimControls(guid);
}

QByteArray TTopic::Key() const {
    if (!m_guid.isEmpty())
        return ToSystemCodePage(m_guid);
    return MD5Digest(ToSystemCodePage(Title() + Link));
}

QByteArray TTopic::ContentHash() {
    if (!m_contentHash.isEmpty())
        return m_contentHash;
    // One byte per character: white space and the markup brackets go, the text between
    // the brackets stays. Only ASCII letters are lowered; other characters keep the
    // lead byte of their 8-bit form.
    QByteArray text;
    text.reserve(m_description.size());
    bool inMarkup = false;
    for (const QChar c : m_description) {
        const char16_t u = c.unicode();
        if (u == 9 || u == 10 || u == 13 || u == 32)
            continue;
        if (inMarkup && u == u'>') {
            inMarkup = false;
            continue;
        }
        if (u == u'<') {
            inMarkup = true;
            continue;
        }
        char b = ToSystemCodePage(QString(c)).at(0);
        if (b >= 'A' && b <= 'Z')
            b = char(b - 'A' + 'a');
        text.append(b);
    }
    // Widening a lead byte gives the same character under Latin-1 and the Windows code
    // page (lead bytes are 0xC2 and above), so the plain widening is exact here.
    m_contentHash = MD5Digest(ToSystemCodePage(Title() + QString::fromLatin1(text)));
    return m_contentHash;
}

} // namespace QuillmarDocCore

// --- TTopicIndex ------------------------------------------------------------------

TTopicIndex::TTopicIndex() : TTopicIndex(NowLocal()) {}

TTopicIndex::TTopicIndex(double now) : Date(now), Received(now) {}

TTopicIndex::TTopicIndex(TFolder* newOwner, TTopicIndex& source)
    : Key(source.Key), Date(source.Date), Received(source.Received), StreamName(source.StreamName),
      Read(source.Read), Flag(source.Flag), HasAttachments(source.HasAttachments), Owner(newOwner),
      m_author(source.Author()), m_title(source.Title()) {
    SetOrigin(source.Owner);
    if (dynamic_cast<TSearchChannel*>(newOwner))
        return;
    if (QuillmarDocCore::TTopic* topic = source.GetTopic())
        AttachTopic(std::make_unique<QuillmarDocCore::TTopic>(newOwner, *topic));
}

TTopicIndex::~TTopicIndex() = default;

QString TTopicIndex::Author() const {
    return DecodeHtmlEntities(m_author);
}

QString TTopicIndex::Title() const {
    return DecodeHtmlEntities(m_title);
}

void TTopicIndex::AttachTopic(std::unique_ptr<QuillmarDocCore::TTopic> topic) {
    m_topic = std::move(topic);
    if (m_topic)
        m_topic->Index = this;
}

void TTopicIndex::SetOrigin(const TFolder* item) {
    Origin = item ? item->StorageName() : QByteArray();
}

QuillmarDocCore::TTopic* TTopicIndex::GetTopic() {
    // The chain of origins is followed in a loop rather than by recursion: a damaged or
    // hostile file may make it circular, and then there is no topic.
    QSet<const TTopicIndex*> passed;
    TTopicIndex* entry = this;
    for (;;) {
        if (entry->m_topic) {
            if (entry != this)
                entry->Owner->Store()->ReadTopic(*entry);
            return entry->m_topic.get();
        }
        TTopicIndex* source = nullptr;
        TTopicStore* store = entry->Owner ? entry->Owner->Store() : nullptr;
        if (store && !entry->Key.isEmpty() && !entry->Origin.isEmpty()) {
            if (TFolder* origin = store->FolderByStorageName(entry->Origin)) {
                store->EnsureIndexLoaded(*origin);
                source = origin->FindTopic(entry->Key);
            }
        }
        if (!source) {
            if (entry == this)
                return nullptr;
            // The entry at the end of the chain holds its own body: load it from its
            // own stream.
            entry->AttachTopic(std::make_unique<QuillmarDocCore::TTopic>(entry->Owner));
            entry->Owner->Store()->ReadTopic(*entry);
            return entry->m_topic.get();
        }
        passed.insert(entry);
        if (passed.contains(source))
            return nullptr;
        entry = source;
    }
}

#include "CfbFile.h"

#include <algorithm>
#include <cstring>

namespace cfb {

namespace {

QString Describe(const Entry& e, uint32_t index) {
    if (e.type == EntryType::Root)
        return QStringLiteral("the root storage");
    const QString kind =
        e.type == EntryType::Stream ? QStringLiteral("stream") : QStringLiteral("storage");
    return QStringLiteral("%1 \"%2\" (directory entry %3)").arg(kind, e.name).arg(index);
}

QString SectorName(uint32_t s) {
    switch (s) {
    case FreeSector:
        return QStringLiteral("a free sector mark");
    case EndOfChain:
        return QStringLiteral("the end-of-chain mark");
    case FatSector:
        return QStringLiteral("a FAT sector mark");
    case DifatSector:
        return QStringLiteral("a DIFAT sector mark");
    default:
        return QStringLiteral("sector %1").arg(s);
    }
}

uint64_t SectorsFor(uint64_t bytes, int sectorSize) {
    return (bytes + uint64_t(sectorSize) - 1) / uint64_t(sectorSize);
}

} // namespace

void SectorSpace::Release(uint32_t s) {
    Set(s, FreeSector);
    if (IsCommitted(s))
        released.push_back(s); // reusable only once the commit no longer needs it
    else
        available.insert(s);
}

void SectorSpace::Settle() {
    committed.assign(count, false);
    available.clear();
    for (uint32_t s = 0; s < count; ++s) {
        if (s < table.size() && table[s] != FreeSector)
            committed[s] = true;
        else if (s < table.size())
            available.insert(s);
    }
    taken.clear();
    released.clear();
    dirty.clear();
}

File::File(std::unique_ptr<Io> io, bool writable) : m_io(std::move(io)), m_writable(writable) {}

std::unique_ptr<File> File::Load(std::unique_ptr<Io> io, bool writable) {
    std::unique_ptr<File> file(new File(std::move(io), writable));
    file->Parse();
    return file;
}

QByteArray File::ReadSector(uint32_t sector) {
    QByteArray bytes(m_s.sectorSize, '\0');
    // A short last sector is read as if padded with zeros.
    m_io->ReadAt(SectorOffset(sector), bytes.data(), bytes.size());
    return bytes;
}

QByteArray File::ReadChainBytes(const std::vector<uint32_t>& chain) {
    QByteArray bytes(qsizetype(chain.size()) * m_s.sectorSize, '\0');
    // Consecutive sectors are read in one call: opening a large file reads its FAT and
    // directory, which are mostly contiguous.
    size_t i = 0;
    while (i < chain.size()) {
        size_t run = 1;
        while (i + run < chain.size() && chain[i + run] == chain[i] + run)
            ++run;
        m_io->ReadAt(SectorOffset(chain[i]), bytes.data() + i * m_s.sectorSize,
                     int64_t(run) * m_s.sectorSize);
        i += run;
    }
    return bytes;
}

std::vector<uint32_t> File::WalkChain(const SectorSpace& space, uint32_t start, uint64_t needed,
                                      const QString& what, bool toTheEnd) const {
    const bool mini = &space == &m_s.mini;
    std::vector<uint32_t> chain;
    if (!toTheEnd && needed > space.count)
        Fail(Status::DocfileCorrupt,
             QStringLiteral("%1 needs %2 %3, more than the file holds (%4)")
                 .arg(what)
                 .arg(needed)
                 .arg(mini ? QStringLiteral("mini sectors") : QStringLiteral("sectors"))
                 .arg(space.count));
    uint32_t s = start;
    while (toTheEnd ? s != EndOfChain : chain.size() < needed) {
        if (s == EndOfChain)
            Fail(Status::DocfileCorrupt, QStringLiteral("%1 ends after %2 sectors, but needs %3")
                                             .arg(what)
                                             .arg(chain.size())
                                             .arg(needed));
        if (s > MaxRegularSector)
            Fail(Status::DocfileCorrupt,
                 QStringLiteral("%1 runs into %2").arg(what, SectorName(s)));
        if (s >= space.count || s >= space.table.size())
            Fail(Status::DocfileCorrupt,
                 QStringLiteral("%1 refers to %2 %3, beyond the end of the %4")
                     .arg(what, mini ? QStringLiteral("mini sector") : QStringLiteral("sector"))
                     .arg(s)
                     .arg(mini ? QStringLiteral("mini stream") : QStringLiteral("file")));
        if (chain.size() >= space.count)
            Fail(Status::DocfileCorrupt, QStringLiteral("%1 loops").arg(what));
        chain.push_back(s);
        s = space.table[s];
    }
    if (!toTheEnd && needed > 0 && s == FreeSector)
        Fail(Status::DocfileCorrupt,
             QStringLiteral("%1 passes through a sector marked free").arg(what));
    if (toTheEnd && chain.size() < needed)
        Fail(Status::DocfileCorrupt, QStringLiteral("%1 ends after %2 sectors, but needs %3")
                                         .arg(what)
                                         .arg(chain.size())
                                         .arg(needed));
    // A chain that meets itself before its length is used up reads the same sector twice.
    std::vector<uint32_t> sorted = chain;
    std::sort(sorted.begin(), sorted.end());
    if (std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end())
        Fail(Status::DocfileCorrupt, QStringLiteral("%1 loops").arg(what));
    return chain;
}

std::vector<uint32_t> File::WalkChainLeniently(const SectorSpace& space, uint32_t start,
                                               uint64_t limit) const {
    std::vector<uint32_t> chain;
    std::set<uint32_t> seen;
    uint32_t s = start;
    while (chain.size() < limit && s < space.count && s < space.table.size() &&
           seen.insert(s).second) {
        chain.push_back(s);
        s = space.table[s];
    }
    return chain;
}

void File::Parse() {
    m_s = FileState();
    const int64_t fileSize = m_io->Size();
    QByteArray head(HeaderSize, '\0');
    const int64_t got = m_io->ReadAt(0, head.data(), HeaderSize);
    head.truncate(qsizetype(got));
    m_s.header = ParseHeader(head);
    Header& h = m_s.header;
    const int ss = h.SectorSize();
    m_s.sectorSize = ss;
    const uint32_t perSector = uint32_t(ss / 4);
    m_s.fat.perSector = m_s.mini.perSector = perSector;
    if (fileSize < 2 * int64_t(ss))
        Fail(Status::InvalidHeader,
             QStringLiteral("the file holds %1 bytes, too few for a header and a directory")
                 .arg(fileSize));
    const int64_t fileSectors64 = (fileSize - ss + ss - 1) / ss;
    if (fileSectors64 > int64_t(MaxRegularSector))
        Fail(Status::InvalidHeader, QStringLiteral("the file is too large for the format"));
    const uint32_t fileSectors = uint32_t(fileSectors64);

    // The DIFAT: the header's 109 slots, then a chain of DIFAT sectors.
    if (h.fatSectorCount > fileSectors)
        Fail(Status::InvalidHeader,
             QStringLiteral("the header claims %1 FAT sectors, but the file holds only %2 sectors")
                 .arg(h.fatSectorCount)
                 .arg(fileSectors));
    if (h.difatSectorCount > fileSectors)
        Fail(Status::InvalidHeader,
             QStringLiteral("the header claims %1 DIFAT sectors, but the file holds only %2 "
                            "sectors")
                 .arg(h.difatSectorCount)
                 .arg(fileSectors));
    for (uint32_t i = 0; i < h.fatSectorCount && i < uint32_t(HeaderDifatSlots); ++i)
        m_s.fatSectors.push_back(h.difat[i]);
    uint32_t difat = h.firstDifatSector;
    std::set<uint32_t> seenDifat;
    const uint32_t slotsPerDifat = perSector - 1;
    while (m_s.fatSectors.size() < h.fatSectorCount) {
        if (difat >= fileSectors)
            Fail(Status::DocfileCorrupt,
                 QStringLiteral("the DIFAT lists %1 of %2 FAT sectors, then refers to %3")
                     .arg(m_s.fatSectors.size())
                     .arg(h.fatSectorCount)
                     .arg(SectorName(difat)));
        if (!seenDifat.insert(difat).second)
            Fail(Status::DocfileCorrupt,
                 QStringLiteral("the DIFAT chain loops at sector %1").arg(difat));
        m_s.difatSectors.push_back(difat);
        const QByteArray bytes = ReadSector(difat);
        for (uint32_t i = 0; i < slotsPerDifat && m_s.fatSectors.size() < h.fatSectorCount; ++i)
            m_s.fatSectors.push_back(ReadU32(bytes.constData() + 4 * i));
        difat = ReadU32(bytes.constData() + 4 * slotsPerDifat);
    }
    for (size_t i = 0; i < m_s.fatSectors.size(); ++i)
        if (m_s.fatSectors[i] >= fileSectors)
            Fail(Status::DocfileCorrupt,
                 QStringLiteral("FAT sector %1 is said to lie at %2, beyond the end of the file")
                     .arg(i)
                     .arg(SectorName(m_s.fatSectors[i])));
    if (m_s.fatSectors.empty())
        Fail(Status::InvalidHeader, QStringLiteral("the header lists no FAT sector"));

    // The FAT itself. Sectors past its reach (left by an interrupted commit) are unused.
    const QByteArray fatBytes = ReadChainBytes(m_s.fatSectors);
    m_s.fat.table.resize(size_t(fatBytes.size() / 4));
    for (size_t i = 0; i < m_s.fat.table.size(); ++i)
        m_s.fat.table[i] = ReadU32(fatBytes.constData() + 4 * i);
    m_s.fat.count = std::min<uint32_t>(fileSectors, uint32_t(m_s.fat.table.size()));
    for (uint32_t s : m_s.fatSectors)
        if (s < m_s.fat.table.size() && m_s.fat.table[s] != FatSector)
            m_s.fat.table[s] = FatSector; // some writers leave them unmarked; they are in use
    for (uint32_t s : m_s.difatSectors)
        if (s < m_s.fat.table.size())
            m_s.fat.table[s] = DifatSector;

    // The directory.
    m_s.directoryChain =
        WalkChain(m_s.fat, h.firstDirectorySector, 1, QStringLiteral("the directory chain"), true);
    const QByteArray dirBytes = ReadChainBytes(m_s.directoryChain);
    const size_t entryCount = size_t(dirBytes.size() / EntrySize);
    m_s.entries.reserve(entryCount);
    for (size_t i = 0; i < entryCount; ++i)
        m_s.entries.push_back(ParseEntry(dirBytes.constData() + i * EntrySize, h.majorVersion));
    if (m_s.entries.empty() || m_s.entries[0].type != EntryType::Root)
        Fail(Status::DocfileCorrupt, QStringLiteral("the first directory entry is not the root"));

    // The MiniFAT and the mini stream.
    if (h.firstMiniFatSector != EndOfChain && h.firstMiniFatSector != FreeSector) {
        m_s.miniFatChain =
            WalkChain(m_s.fat, h.firstMiniFatSector, 0, QStringLiteral("the MiniFAT chain"), true);
        const QByteArray miniBytes = ReadChainBytes(m_s.miniFatChain);
        m_s.mini.table.resize(size_t(miniBytes.size() / 4));
        for (size_t i = 0; i < m_s.mini.table.size(); ++i)
            m_s.mini.table[i] = ReadU32(miniBytes.constData() + 4 * i);
    }
    const Entry& root = m_s.entries[0];
    if (root.size > 0) {
        const uint64_t needed = SectorsFor(root.size, ss);
        m_s.container =
            WalkChain(m_s.fat, root.start, needed, QStringLiteral("the mini stream"), false);
        // Windows rounds the chain to whole sectors; mini sectors past the table are unusable.
        const uint64_t miniCount =
            std::min<uint64_t>(SectorsFor(root.size, MiniSectorSize), m_s.mini.table.size());
        m_s.mini.count = uint32_t(miniCount);
    }

    m_s.fat.Settle();
    m_s.mini.Settle();
    m_s.generation.assign(m_s.entries.size(), 0);
    CheckTrees();
}

void File::CheckTrees() {
    // Every storage's tree is walked once: each entry must belong to exactly one tree, so
    // that walking never loops and freeing an element never frees another's.
    const size_t n = m_s.entries.size();
    m_s.parentOf.assign(n, NoEntry);
    std::vector<char> reached(n, 0);
    reached[0] = 1;
    std::vector<uint32_t> storages{RootStorage};
    while (!storages.empty()) {
        const uint32_t storage = storages.back();
        storages.pop_back();
        SiblingTree tree(m_s.entries, storage, [](uint32_t) {});
        const std::vector<uint32_t> members = tree.Members();
        for (uint32_t m : members) {
            const Entry& e = m_s.entries[m];
            if (reached[m])
                Fail(Status::DocfileCorrupt,
                     QStringLiteral("directory entry %1 is reached twice in the element tree "
                                    "(the sibling or child links form a cycle)")
                         .arg(m));
            if (e.type != EntryType::Storage && e.type != EntryType::Stream)
                Fail(Status::DocfileCorrupt,
                     QStringLiteral("%1 lists directory entry %2, which is not a storage or "
                                    "stream")
                         .arg(Describe(m_s.entries[storage], storage))
                         .arg(m));
            reached[m] = 1;
            m_s.parentOf[m] = storage;
            if (e.type == EntryType::Storage)
                storages.push_back(m);
        }
        const TreeHealth health = tree.Examine(members);
        if (health != TreeHealth::RedBlack)
            m_s.untrustedTrees[storage] = health;
    }
    for (size_t i = 1; i < n; ++i)
        if (!reached[i] && m_s.entries[i].type == EntryType::Unused)
            m_s.freeEntries.insert(uint32_t(i));
}

bool File::IsLive(uint32_t entry, uint32_t generation, EntryType type) const {
    if (entry >= m_s.entries.size() || m_s.generation[entry] != generation)
        return false;
    const EntryType t = m_s.entries[entry].type;
    if (type == EntryType::Storage)
        return t == EntryType::Storage || t == EntryType::Root;
    return t == type;
}

const Entry& File::Live(uint32_t entry) const {
    if (entry >= m_s.entries.size() || m_s.entries[entry].type == EntryType::Unused)
        Fail(Status::Reverted, QStringLiteral("the element was destroyed"));
    return m_s.entries[entry];
}

void File::Touch(uint32_t entry) {
    m_dirtyEntries.insert(entry);
}

SiblingTree File::Tree(uint32_t storage) {
    return SiblingTree(m_s.entries, storage, [this](uint32_t e) { Touch(e); });
}

SiblingTree File::TreeForChange(uint32_t storage) {
    SiblingTree tree = Tree(storage);
    const auto it = m_s.untrustedTrees.find(storage);
    if (it != m_s.untrustedTrees.end()) {
        // A tree written by a careless writer: balance it once, then keep it balanced.
        tree.Rebuild(tree.Members());
        m_s.untrustedTrees.erase(it);
    }
    return tree;
}

uint32_t File::Find(uint32_t storage, const QString& name) const {
    if (!Live(storage).IsStorage())
        Fail(Status::InvalidParameter, QStringLiteral("not a storage"));
    const QString key = NameKey(name);
    auto& entries = const_cast<std::vector<Entry>&>(m_s.entries);
    const SiblingTree tree(entries, storage, [](uint32_t) {});
    const auto health = m_s.untrustedTrees.find(storage);
    if (health == m_s.untrustedTrees.end() || health->second != TreeHealth::Unordered)
        return tree.Find(key);
    for (uint32_t m : tree.Members())
        if (CompareNames(key, m_s.entries[m].key) == 0)
            return m;
    return NoEntry;
}

std::vector<uint32_t> File::Children(uint32_t storage) const {
    if (!Live(storage).IsStorage())
        Fail(Status::InvalidParameter, QStringLiteral("not a storage"));
    auto& entries = const_cast<std::vector<Entry>&>(m_s.entries);
    return SiblingTree(entries, storage, [](uint32_t) {}).Members();
}

TreeHealth File::Health(uint32_t storage) const {
    auto& entries = const_cast<std::vector<Entry>&>(m_s.entries);
    const SiblingTree tree(entries, storage, [](uint32_t) {});
    return tree.Examine(tree.Members());
}

uint32_t File::NewEntry(const QString& name, EntryType type, uint32_t parent) {
    if (m_s.freeEntries.empty()) {
        // One more directory sector, linked to the end of the directory chain.
        const uint32_t s = TakeSector();
        m_s.fat.Set(s, EndOfChain);
        m_s.fat.Set(m_s.directoryChain.back(), s);
        m_s.directoryChain.push_back(s);
        const size_t first = m_s.entries.size();
        const size_t added = size_t(m_s.sectorSize / EntrySize);
        m_s.entries.resize(first + added);
        m_s.parentOf.resize(first + added, NoEntry);
        m_s.generation.resize(first + added, 0);
        for (size_t i = first; i < first + added; ++i) {
            m_s.freeEntries.insert(uint32_t(i));
            Touch(uint32_t(i));
        }
        m_headerDirty = true;
    }
    const uint32_t index = *m_s.freeEntries.begin();
    m_s.freeEntries.erase(m_s.freeEntries.begin());
    Entry e;
    e.SetName(name);
    e.type = type;
    e.start = type == EntryType::Stream ? EndOfChain : 0;
    m_s.entries[index] = e;
    m_s.parentOf[index] = parent;
    Touch(index);
    return index;
}

uint32_t File::CreateStorage(uint32_t parent, const QString& name, bool replace) {
    if (!m_writable)
        Fail(Status::AccessDenied, QStringLiteral("the file is open for reading only"));
    if (const QString problem = NameProblem(name); !problem.isEmpty())
        Fail(Status::InvalidName, problem);
    if (!Live(parent).IsStorage())
        Fail(Status::InvalidParameter, QStringLiteral("not a storage"));
    if (Find(parent, name) != NoEntry) {
        if (!replace)
            Fail(Status::FileAlreadyExists,
                 QStringLiteral("an element named \"%1\" already exists").arg(name));
        Destroy(parent, name);
    }
    SiblingTree tree = TreeForChange(parent);
    const uint32_t e = NewEntry(name, EntryType::Storage, parent);
    tree.Insert(e);
    return e;
}

uint32_t File::CreateStream(uint32_t parent, const QString& name, bool replace) {
    if (!m_writable)
        Fail(Status::AccessDenied, QStringLiteral("the file is open for reading only"));
    if (const QString problem = NameProblem(name); !problem.isEmpty())
        Fail(Status::InvalidName, problem);
    if (!Live(parent).IsStorage())
        Fail(Status::InvalidParameter, QStringLiteral("not a storage"));
    const uint32_t existing = Find(parent, name);
    if (existing != NoEntry) {
        if (!replace)
            Fail(Status::FileAlreadyExists,
                 QStringLiteral("an element named \"%1\" already exists").arg(name));
        if (m_s.entries[existing].type == EntryType::Stream) {
            // Same entry, new content: the tree does not change.
            SetStreamSize(existing, 0);
            return existing;
        }
        Destroy(parent, name);
    }
    SiblingTree tree = TreeForChange(parent);
    const uint32_t e = NewEntry(name, EntryType::Stream, parent);
    tree.Insert(e);
    return e;
}

void File::Destroy(uint32_t parent, const QString& name) {
    if (!m_writable)
        Fail(Status::AccessDenied, QStringLiteral("the file is open for reading only"));
    const uint32_t e = Find(parent, name);
    if (e == NoEntry)
        Fail(Status::FileNotFound, QStringLiteral("there is no element named \"%1\"").arg(name));
    TreeForChange(parent).Remove(e);
    FreeSubtree(e);
}

void File::FreeSubtree(uint32_t top) {
    std::vector<uint32_t> todo{top};
    while (!todo.empty()) {
        const uint32_t e = todo.back();
        todo.pop_back();
        Entry& entry = m_s.entries[e];
        if (entry.type == EntryType::Storage) {
            for (uint32_t child : SiblingTree(m_s.entries, e, [](uint32_t) {}).Members())
                todo.push_back(child);
        } else if (entry.type == EntryType::Stream) {
            m_buffers.erase(e);
            ReleaseStreamSectors(entry);
        }
        m_chains.erase(e);
        m_s.entries[e] = Entry();
        m_s.parentOf[e] = NoEntry;
        ++m_s.generation[e];
        m_s.untrustedTrees.erase(e);
        m_s.freeEntries.insert(e);
        Touch(e);
    }
}

void File::Move(uint32_t parent, const QString& name, uint32_t destination,
                const QString& newName) {
    if (!m_writable)
        Fail(Status::AccessDenied, QStringLiteral("the file is open for reading only"));
    if (const QString problem = NameProblem(newName); !problem.isEmpty())
        Fail(Status::InvalidName, problem);
    if (!Live(destination).IsStorage())
        Fail(Status::InvalidParameter, QStringLiteral("the destination is not a storage"));
    const uint32_t e = Find(parent, name);
    if (e == NoEntry)
        Fail(Status::FileNotFound, QStringLiteral("there is no element named \"%1\"").arg(name));
    if (Find(destination, newName) != NoEntry)
        Fail(Status::FileAlreadyExists,
             QStringLiteral("the destination already holds an element named \"%1\"").arg(newName));
    for (uint32_t at = destination, steps = 0; at != NoEntry && steps <= m_s.entries.size();
         at = m_s.parentOf[at], ++steps)
        if (at == e)
            Fail(Status::AccessDenied,
                 QStringLiteral("a storage cannot be moved into itself or into one of its own "
                                "storages"));
    TreeForChange(parent).Remove(e);
    m_s.entries[e].SetName(newName);
    m_s.parentOf[e] = destination;
    TreeForChange(destination).Insert(e);
}

uint64_t File::StreamSize(uint32_t stream) const {
    const auto it = m_buffers.find(stream);
    if (it != m_buffers.end())
        return uint64_t(it->second.size());
    return Live(stream).size;
}

std::vector<uint32_t> File::StreamChain(uint32_t stream) {
    const auto cached = m_chains.find(stream);
    if (cached != m_chains.end())
        return cached->second;
    const Entry& e = Live(stream);
    if (e.type != EntryType::Stream)
        Fail(Status::InvalidParameter, QStringLiteral("not a stream"));
    std::vector<uint32_t> chain;
    if (e.size > 0) {
        const QString what =
            QStringLiteral("the chain of %1 (%2 bytes)").arg(Describe(e, stream)).arg(e.size);
        if (e.size < m_s.header.miniStreamCutoff)
            chain = WalkChain(m_s.mini, e.start, SectorsFor(e.size, MiniSectorSize), what, false);
        else
            chain = WalkChain(m_s.fat, e.start, SectorsFor(e.size, m_s.sectorSize), what, false);
    }
    m_chains[stream] = chain;
    return chain;
}

int64_t File::ReadStream(uint32_t stream, uint64_t offset, char* buffer, int64_t count) {
    const auto dirty = m_buffers.find(stream);
    if (dirty != m_buffers.end()) {
        const QByteArray& data = dirty->second;
        if (offset >= uint64_t(data.size()) || count <= 0)
            return 0;
        const int64_t n = std::min<int64_t>(count, data.size() - int64_t(offset));
        std::memcpy(buffer, data.constData() + offset, size_t(n));
        return n;
    }
    const Entry& e = Live(stream);
    if (offset >= e.size || count <= 0)
        return 0;
    const int64_t total = std::min<int64_t>(count, int64_t(e.size - offset));
    const std::vector<uint32_t> chain = StreamChain(stream);
    const bool mini = e.size < m_s.header.miniStreamCutoff;
    const int unit = mini ? MiniSectorSize : m_s.sectorSize;
    int64_t done = 0;
    while (done < total) {
        const uint64_t at = offset + uint64_t(done);
        const size_t index = size_t(at / uint64_t(unit));
        const int within = int(at % uint64_t(unit));
        int64_t piece = std::min<int64_t>(unit - within, total - done);
        int64_t position;
        if (mini) {
            const uint64_t byte = uint64_t(chain[index]) * MiniSectorSize;
            const size_t k = size_t(byte / uint64_t(m_s.sectorSize));
            if (k >= m_s.container.size())
                Fail(
                    Status::DocfileCorrupt,
                    QStringLiteral("mini sector %1 lies beyond the mini stream").arg(chain[index]));
            position =
                SectorOffset(m_s.container[k]) + int64_t(byte % uint64_t(m_s.sectorSize)) + within;
        } else {
            // Read a run of consecutive sectors at once.
            size_t run = 1;
            while (index + run < chain.size() && chain[index + run] == chain[index] + run &&
                   piece < total - done) {
                piece = std::min<int64_t>(piece + unit, total - done);
                ++run;
            }
            position = SectorOffset(chain[index]) + within;
        }
        const int64_t got = m_io->ReadAt(position, buffer + done, piece);
        if (got < piece) // a short file: the missing tail reads as zeros
            std::memset(buffer + done + got, 0, size_t(piece - got));
        done += piece;
    }
    return total;
}

QByteArray& File::Buffer(uint32_t stream) {
    if (!m_writable)
        Fail(Status::AccessDenied, QStringLiteral("the file is open for reading only"));
    const auto it = m_buffers.find(stream);
    if (it != m_buffers.end())
        return it->second;
    const Entry& e = Live(stream);
    if (e.type != EntryType::Stream)
        Fail(Status::InvalidParameter, QStringLiteral("not a stream"));
    QByteArray content;
    StreamChain(stream); // the size is checked against the file before anything is allocated
    content.resize(qsizetype(e.size));
    ReadStream(stream, 0, content.data(), content.size());
    return m_buffers[stream] = std::move(content);
}

void File::WriteStream(uint32_t stream, uint64_t offset, const char* data, int64_t count) {
    if (count <= 0)
        return;
    // Version 3 stores stream sizes in 32 bits and Windows stops at 2 GB.
    if (offset + uint64_t(count) > 0x80000000ull)
        Fail(Status::MediumFull, QStringLiteral("a stream cannot grow beyond 2 GB"));
    QByteArray& buffer = Buffer(stream);
    if (offset + uint64_t(count) > uint64_t(buffer.size()))
        buffer.resize(qsizetype(offset + uint64_t(count)), '\0');
    std::memcpy(buffer.data() + offset, data, size_t(count));
}

void File::SetStreamSize(uint32_t stream, uint64_t size) {
    if (size > 0x80000000ull)
        Fail(Status::MediumFull, QStringLiteral("a stream cannot grow beyond 2 GB"));
    if (!m_buffers.count(stream) && size == 0) {
        // Emptying needs no copy of the old content.
        if (!m_writable)
            Fail(Status::AccessDenied, QStringLiteral("the file is open for reading only"));
        if (Live(stream).type != EntryType::Stream)
            Fail(Status::InvalidParameter, QStringLiteral("not a stream"));
        m_buffers[stream] = QByteArray();
        return;
    }
    Buffer(stream).resize(qsizetype(size), '\0');
}

bool File::HasChanges() const {
    return !m_buffers.empty() || !m_dirtyEntries.empty() || m_headerDirty ||
           !m_s.fat.dirty.empty() || !m_s.mini.dirty.empty() || !m_dirtyDifat.empty();
}

} // namespace cfb

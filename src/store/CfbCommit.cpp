// The writing half of the engine: sector allocation, storing changed streams, and the
// commit that makes a new state durable without touching the old one.
#include "CfbFile.h"

#include <QFileInfo>
#include <algorithm>
#include <cstring>
#include <list>
#include <mutex>

namespace cfb {

namespace {

uint64_t SectorsFor(uint64_t bytes, int unit) {
    return (bytes + uint64_t(unit) - 1) / uint64_t(unit);
}

// Parsed states of files this process closed unchanged, so that reopening a large file
// (which the document does for every operation) costs a header read, not a parse.
class StateCache {
public:
    static StateCache& Instance() {
        static StateCache cache;
        return cache;
    }
    bool Take(const QString& path, const QByteArray& identity, FileState& state) {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto it = m_items.begin(); it != m_items.end(); ++it) {
            if (it->path != path)
                continue;
            const bool same = it->identity == identity;
            if (same)
                state = std::move(it->state);
            m_items.erase(it);
            return same;
        }
        return false;
    }
    void Put(const QString& path, const QByteArray& identity, FileState&& state) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_items.remove_if([&path](const Item& item) { return item.path == path; });
        m_items.push_front({path, identity, std::move(state)});
        while (m_items.size() > 4)
            m_items.pop_back();
    }

private:
    struct Item {
        QString path;
        QByteArray identity;
        FileState state;
    };
    std::mutex m_mutex;
    std::list<Item> m_items;
};

QByteArray Identity(FileIo& io) {
    QByteArray head(HeaderSize, '\0');
    io.ReadAt(0, head.data(), HeaderSize);
    return io.Fingerprint() + head;
}

} // namespace

// ---- allocation ----

uint32_t File::TakeSector() {
    SectorSpace& f = m_s.fat;
    uint32_t s = FreeSector;
    // A free sector whose FAT entry lies in a FAT sector that this commit writes anyway
    // costs no further FAT sector; taking the lowest free sector instead would spread one
    // commit's changes over as many FAT sectors (and DIFAT sectors) as there are holes.
    // Whichever of the two sets is smaller is walked, so a commit with thousands of
    // changed FAT sectors (a file built in one go) does not pay for each allocation.
    if (f.available.size() < f.dirty.size()) {
        for (auto it = f.available.begin(); it != f.available.end(); ++it) {
            if (f.dirty.count(*it / f.perSector)) {
                s = *it;
                f.available.erase(it);
                break;
            }
        }
    } else {
        for (uint32_t k : f.dirty) {
            const auto it = f.available.lower_bound(k * f.perSector);
            if (it != f.available.end() && *it < (k + 1) * f.perSector) {
                s = *it;
                f.available.erase(it);
                break;
            }
        }
    }
    if (s != FreeSector) {
    } else if (!f.available.empty()) {
        s = *f.available.begin();
        f.available.erase(f.available.begin());
    } else {
        if (f.count >= MaxRegularSector - 2)
            Fail(Status::MediumFull,
                 QStringLiteral("the file has reached the format's size limit"));
        s = f.count++;
        CoverSectorsInFat();
    }
    f.taken.push_back(s);
    f.Set(s, EndOfChain);
    return s;
}

void File::CoverSectorsInFat() {
    // New sectors at the end of the file need FAT entries; a new FAT sector needs a DIFAT
    // slot, which past the header's 109 needs a DIFAT sector: all of them at the end too.
    SectorSpace& f = m_s.fat;
    std::vector<std::pair<uint32_t, uint32_t>> marks;
    const size_t firstNewFat = m_s.fatSectors.size();
    for (;;) {
        bool grew = false;
        if (f.table.size() < f.count) {
            const uint32_t t = f.count++;
            f.table.resize(f.table.size() + f.perSector, FreeSector);
            m_s.fatSectors.push_back(t);
            f.dirty.insert(uint32_t(m_s.fatSectors.size() - 1));
            marks.push_back({t, FatSector});
            grew = true;
        }
        const size_t capacity =
            HeaderDifatSlots + size_t(f.perSector - 1) * m_s.difatSectors.size();
        if (m_s.fatSectors.size() > capacity) {
            const uint32_t u = f.count++;
            m_s.difatSectors.push_back(u);
            m_dirtyDifat.insert(uint32_t(m_s.difatSectors.size() - 1));
            if (m_s.difatSectors.size() > 1) // the previous one's link to it
                m_dirtyDifat.insert(uint32_t(m_s.difatSectors.size() - 2));
            marks.push_back({u, DifatSector});
            grew = true;
        }
        if (!grew)
            break;
    }
    for (const auto& [s, value] : marks) {
        f.Set(s, value);
        f.taken.push_back(s);
    }
    for (size_t k = firstNewFat; k < m_s.fatSectors.size(); ++k)
        MarkDifatSlot(k);
    m_headerDirty = true;
}

uint32_t File::TakeMiniSector() {
    SectorSpace& m = m_s.mini;
    uint32_t s;
    if (!m.available.empty()) {
        s = *m.available.begin();
        m.available.erase(m.available.begin());
    } else {
        s = m.count++;
        if (m.table.size() < m.count) {
            const uint32_t sector = TakeSector();
            if (!m_s.miniFatChain.empty())
                m_s.fat.Set(m_s.miniFatChain.back(), sector);
            m_s.miniFatChain.push_back(sector);
            m.table.resize(m.table.size() + m.perSector, FreeSector);
            m.dirty.insert(uint32_t(m_s.miniFatChain.size() - 1));
            m_headerDirty = true;
        }
        const uint64_t bytes = uint64_t(m.count) * MiniSectorSize;
        while (uint64_t(m_s.container.size()) * uint64_t(m_s.sectorSize) < bytes) {
            const uint32_t sector = TakeSector();
            if (m_s.container.empty())
                m_s.entries[0].start = sector;
            else
                m_s.fat.Set(m_s.container.back(), sector);
            m_s.container.push_back(sector);
        }
        m_s.entries[0].size = bytes;
        Touch(0);
    }
    m.taken.push_back(s);
    m.Set(s, EndOfChain);
    return s;
}

std::vector<uint32_t> File::TakeChain(bool mini, uint32_t length) {
    std::vector<uint32_t> chain;
    chain.reserve(length);
    for (uint32_t i = 0; i < length; ++i)
        chain.push_back(mini ? TakeMiniSector() : TakeSector());
    SectorSpace& space = mini ? m_s.mini : m_s.fat;
    for (size_t i = 0; i < chain.size(); ++i)
        space.Set(chain[i], i + 1 < chain.size() ? chain[i + 1] : EndOfChain);
    return chain;
}

void File::ReleaseStreamSectors(const Entry& e) {
    if (e.size == 0)
        return;
    const bool mini = e.size < m_s.header.miniStreamCutoff;
    SectorSpace& space = mini ? m_s.mini : m_s.fat;
    // A damaged chain is freed only as far as it is sound: better lose a few sectors than
    // free one that another stream still uses.
    const uint64_t needed = SectorsFor(e.size, mini ? MiniSectorSize : m_s.sectorSize);
    for (uint32_t s : WalkChainLeniently(space, e.start, needed))
        if (space.table[s] != FreeSector)
            space.Release(s);
}

void File::RelocateLink(std::vector<uint32_t>& chain, size_t index) {
    const uint32_t old = chain[index];
    const uint32_t s = TakeSector();
    m_s.fat.Set(s, index + 1 < chain.size() ? chain[index + 1] : EndOfChain);
    if (index > 0)
        m_s.fat.Set(chain[index - 1], s);
    m_s.fat.Release(old);
    chain[index] = s;
}

// ---- streams ----

void File::FlushStreams() {
    std::map<uint32_t, QByteArray> buffers;
    buffers.swap(m_buffers);
    for (auto& [stream, data] : buffers)
        StoreStream(stream, data);
}

void File::StoreStream(uint32_t stream, const QByteArray& data) {
    ReleaseStreamSectors(m_s.entries[stream]);
    m_chains.erase(stream);
    const uint64_t n = uint64_t(data.size());
    uint32_t start = EndOfChain;
    if (n > 0) {
        const bool mini = n < m_s.header.miniStreamCutoff;
        const std::vector<uint32_t> chain =
            TakeChain(mini, uint32_t(SectorsFor(n, mini ? MiniSectorSize : m_s.sectorSize)));
        if (mini)
            WriteMiniSectors(chain, data);
        else
            WriteRegularSectors(chain, data);
        start = chain.front();
        m_chains[stream] = chain;
    }
    Entry& e = m_s.entries[stream];
    e.start = start;
    e.size = n;
    Touch(stream);
}

void File::WriteMiniSectors(const std::vector<uint32_t>& chain, const QByteArray& data) {
    const uint32_t perContainer = uint32_t(m_s.sectorSize / MiniSectorSize);
    // Container sectors copied away from the committed state, written whole at the end.
    std::map<size_t, QByteArray> copies;
    for (size_t i = 0; i < chain.size(); ++i) {
        const uint32_t m = chain[i];
        const size_t k = m / perContainer;
        const int within = int(m % perContainer) * MiniSectorSize;
        char piece[MiniSectorSize] = {};
        const int64_t from = int64_t(i) * MiniSectorSize;
        std::memcpy(piece, data.constData() + from,
                    size_t(std::min<int64_t>(MiniSectorSize, data.size() - from)));
        if (!copies.count(k) && m_s.fat.IsCommitted(m_s.container[k])) {
            QByteArray copy = ReadSector(m_s.container[k]);
            RelocateLink(m_s.container, k);
            if (k == 0) {
                m_s.entries[0].start = m_s.container[0];
                Touch(0);
            }
            copies[k] = std::move(copy);
        }
        const auto copy = copies.find(k);
        if (copy != copies.end())
            std::memcpy(copy->second.data() + within, piece, MiniSectorSize);
        else
            Write(SectorOffset(m_s.container[k]) + within, piece, MiniSectorSize);
    }
    for (const auto& [k, bytes] : copies)
        Write(SectorOffset(m_s.container[k]), bytes.constData(), bytes.size());
}

void File::WriteRegularSectors(const std::vector<uint32_t>& chain, const QByteArray& data) {
    const int ss = m_s.sectorSize;
    size_t i = 0;
    while (i < chain.size()) {
        size_t run = 1;
        while (i + run < chain.size() && chain[i + run] == chain[i] + run)
            ++run;
        QByteArray bytes = data.mid(qsizetype(i) * ss, qsizetype(run) * ss);
        bytes.resize(qsizetype(run) * ss, '\0');
        Write(SectorOffset(chain[i]), bytes.constData(), bytes.size());
        i += run;
    }
}

void File::Write(int64_t offset, const char* data, int64_t count) {
    m_io->WriteAt(offset, data, count);
    m_bytesWritten += count;
}

// ---- commit ----

void File::MarkDifatSlot(size_t fatOrdinal) {
    if (fatOrdinal < size_t(HeaderDifatSlots))
        m_headerDirty = true;
    else
        m_dirtyDifat.insert(uint32_t((fatOrdinal - HeaderDifatSlots) / (m_s.fat.perSector - 1)));
}

QByteArray File::DifatSectorBytes(size_t ordinal) const {
    QByteArray bytes(m_s.sectorSize, '\0');
    const size_t perDifat = m_s.fat.perSector - 1;
    for (size_t i = 0; i < perDifat; ++i) {
        const size_t k = HeaderDifatSlots + ordinal * perDifat + i;
        WriteU32(bytes.data() + 4 * i, k < m_s.fatSectors.size() ? m_s.fatSectors[k] : FreeSector);
    }
    WriteU32(bytes.data() + 4 * perDifat,
             ordinal + 1 < m_s.difatSectors.size() ? m_s.difatSectors[ordinal + 1] : EndOfChain);
    return bytes;
}

void File::WriteMiniFat() {
    const std::set<uint32_t> dirty = m_s.mini.dirty;
    const uint32_t per = m_s.mini.perSector;
    for (uint32_t k : dirty) {
        if (k >= m_s.miniFatChain.size())
            continue;
        if (m_s.fat.IsCommitted(m_s.miniFatChain[k]))
            RelocateLink(m_s.miniFatChain, k);
        QByteArray bytes(m_s.sectorSize, '\0');
        for (uint32_t i = 0; i < per; ++i) {
            const size_t m = size_t(k) * per + i;
            WriteU32(bytes.data() + 4 * i,
                     m < m_s.mini.table.size() ? m_s.mini.table[m] : FreeSector);
        }
        Write(SectorOffset(m_s.miniFatChain[k]), bytes.constData(), bytes.size());
    }
}

void File::WriteDirectory() {
    const uint32_t perSector = uint32_t(m_s.sectorSize / EntrySize);
    std::set<uint32_t> sectors;
    for (uint32_t e : m_dirtyEntries)
        sectors.insert(e / perSector);
    for (uint32_t k : sectors) {
        if (k >= m_s.directoryChain.size())
            continue;
        if (m_s.fat.IsCommitted(m_s.directoryChain[k]))
            RelocateLink(m_s.directoryChain, k);
        QByteArray bytes(m_s.sectorSize, '\0');
        for (uint32_t i = 0; i < perSector; ++i)
            SerializeEntry(m_s.entries[size_t(k) * perSector + i], bytes.data() + i * EntrySize);
        Write(SectorOffset(m_s.directoryChain[k]), bytes.constData(), bytes.size());
    }
}

void File::WriteFatAndDifat() {
    // Moving a FAT sector changes FAT entries (its new place is taken, its old one freed),
    // which may dirty further committed FAT sectors: repeat until every dirty FAT and
    // DIFAT sector lies outside the committed state. Each sector moves at most once.
    SectorSpace& f = m_s.fat;
    for (bool moved = true; moved;) {
        moved = false;
        const std::set<uint32_t> dirtyFat = f.dirty;
        for (uint32_t k : dirtyFat) {
            if (k >= m_s.fatSectors.size() || !f.IsCommitted(m_s.fatSectors[k]))
                continue;
            const uint32_t old = m_s.fatSectors[k];
            const uint32_t s = TakeSector();
            f.Set(s, FatSector);
            f.Release(old);
            m_s.fatSectors[k] = s;
            MarkDifatSlot(k);
            moved = true;
        }
        const std::set<uint32_t> dirtyDifat = m_dirtyDifat;
        for (uint32_t d : dirtyDifat) {
            if (d >= m_s.difatSectors.size() || !f.IsCommitted(m_s.difatSectors[d]))
                continue;
            const uint32_t old = m_s.difatSectors[d];
            const uint32_t s = TakeSector();
            f.Set(s, DifatSector);
            f.Release(old);
            m_s.difatSectors[d] = s;
            if (d > 0)
                m_dirtyDifat.insert(d - 1);
            else
                m_headerDirty = true;
            moved = true;
        }
    }
    for (uint32_t k : f.dirty) {
        if (k >= m_s.fatSectors.size())
            continue;
        QByteArray bytes(m_s.sectorSize, '\0');
        for (uint32_t i = 0; i < f.perSector; ++i)
            WriteU32(bytes.data() + 4 * i, f.table[size_t(k) * f.perSector + i]);
        Write(SectorOffset(m_s.fatSectors[k]), bytes.constData(), bytes.size());
    }
    for (uint32_t d : m_dirtyDifat) {
        if (d >= m_s.difatSectors.size())
            continue;
        const QByteArray bytes = DifatSectorBytes(d);
        Write(SectorOffset(m_s.difatSectors[d]), bytes.constData(), bytes.size());
    }
}

void File::PadFile() {
    // Readers expect whole sectors; a mini stream sector written only in part would
    // otherwise leave the file ending mid-sector.
    const int64_t wanted = SectorOffset(m_s.fat.count);
    const int64_t size = m_io->Size();
    if (size < wanted) {
        const QByteArray zeros(qsizetype(wanted - size), '\0');
        Write(size, zeros.constData(), zeros.size());
    }
}

void File::WriteHeader() {
    Header& h = m_s.header;
    h.fatSectorCount = uint32_t(m_s.fatSectors.size());
    for (int i = 0; i < HeaderDifatSlots; ++i)
        h.difat[i] = size_t(i) < m_s.fatSectors.size() ? m_s.fatSectors[size_t(i)] : FreeSector;
    h.firstDifatSector = m_s.difatSectors.empty() ? EndOfChain : m_s.difatSectors.front();
    h.difatSectorCount = uint32_t(m_s.difatSectors.size());
    h.firstDirectorySector = m_s.directoryChain.front();
    h.directorySectorCount = uint32_t(m_s.directoryChain.size());
    h.firstMiniFatSector = m_s.miniFatChain.empty() ? EndOfChain : m_s.miniFatChain.front();
    h.miniFatSectorCount = uint32_t(m_s.miniFatChain.size());
    const QByteArray bytes = SerializeHeader(h);
    Write(0, bytes.constData(), bytes.size());
}

void File::Settle() {
    for (SectorSpace* space : {&m_s.fat, &m_s.mini}) {
        space->committed.resize(space->count, false);
        for (uint32_t s : space->taken)
            if (s < space->count)
                space->committed[s] = space->table[s] != FreeSector;
        for (uint32_t s : space->released) {
            if (s < space->count && space->table[s] == FreeSector) {
                space->committed[s] = false;
                space->available.insert(s);
            }
        }
        space->taken.clear();
        space->released.clear();
        space->dirty.clear();
    }
    m_dirtyEntries.clear();
    m_dirtyDifat.clear();
    m_headerDirty = false;
}

void File::Commit() {
    if (!m_writable)
        Fail(Status::AccessDenied, QStringLiteral("the file is open for reading only"));
    try {
        FlushStreams();
        if (!HasChanges())
            return;
        // Order matters: each step may move sectors and so change what the next writes.
        WriteMiniFat();
        WriteDirectory();
        WriteFatAndDifat();
        PadFile();
        m_io->Sync();
        // The header is the switch from the old state to the new one.
        WriteHeader();
        m_io->Sync();
    } catch (...) {
        try {
            Revert();
        } catch (...) {
        }
        throw;
    }
    Settle();
}

void File::Revert() {
    const std::vector<uint32_t> generations = m_s.generation;
    m_buffers.clear();
    m_chains.clear();
    m_dirtyEntries.clear();
    m_dirtyDifat.clear();
    m_headerDirty = false;
    Parse();
    // Handles opened before the revert must not mistake a new element for theirs. The
    // root is never replaced, and its handle stays usable after a failed commit.
    for (size_t i = 0; i < m_s.generation.size() && i < generations.size(); ++i)
        m_s.generation[i] = i == RootStorage ? generations[i] : generations[i] + 1;
}

// ---- creating and opening files ----

std::unique_ptr<File> File::CreateEmpty(std::unique_ptr<Io> io) {
    std::unique_ptr<File> file(new File(std::move(io), true));
    FileState& s = file->m_s;
    s.sectorSize = 512;
    s.fat.perSector = s.mini.perSector = 128;
    // Sector 0 holds the FAT, sector 1 the directory; nothing is committed yet.
    s.fat.table.assign(128, FreeSector);
    s.fat.count = 2;
    s.fat.Set(0, FatSector);
    s.fat.Set(1, EndOfChain);
    s.fatSectors = {0};
    s.directoryChain = {1};
    s.entries.resize(4);
    s.entries[0].SetName(QStringLiteral("Root Entry"));
    s.entries[0].type = EntryType::Root;
    s.entries[0].color = Color::Black;
    s.entries[0].start = EndOfChain;
    s.parentOf.assign(4, NoEntry);
    s.generation.assign(4, 0);
    s.freeEntries = {1, 2, 3};
    for (uint32_t e = 0; e < 4; ++e)
        file->Touch(e);
    file->m_headerDirty = true;
    file->Commit();
    // Everything just written is the committed state from now on.
    file->m_s.fat.Settle();
    file->m_s.mini.Settle();
    return file;
}

std::unique_ptr<File> File::OpenPath(const QString& path, bool writable, LockKind lock) {
    std::unique_ptr<FileIo> io = FileIo::Open(path, writable, lock);
    const QString key = QFileInfo(path).absoluteFilePath();
    const QByteArray identity = Identity(*io);
    std::unique_ptr<File> file(new File(std::move(io), writable));
    if (!StateCache::Instance().Take(key, identity, file->m_s))
        file->Parse();
    file->m_cachePath = key;
    return file;
}

std::unique_ptr<File> File::CreatePath(const QString& path) {
    std::unique_ptr<FileIo> io = FileIo::CreateTemporary(path);
    FileIo* raw = io.get();
    try {
        std::unique_ptr<File> file = CreateEmpty(std::move(io));
        raw->Publish(path);
        file->m_cachePath = QFileInfo(path).absoluteFilePath();
        return file;
    } catch (...) {
        raw->Discard();
        throw;
    }
}

double File::FreeShare() const {
    if (m_s.fat.count == 0)
        return 0;
    return double(m_s.fat.available.size() + m_s.fat.released.size()) / double(m_s.fat.count);
}

void File::CopyAttributes(uint32_t entry, const Entry& from) {
    Entry& e = m_s.entries.at(entry);
    std::memcpy(e.clsid, from.clsid, sizeof e.clsid);
    e.stateBits = from.stateBits;
    e.created = from.created;
    e.modified = from.modified;
    Touch(entry);
}

bool File::CompactPath(const QString& path, double minimumFreeShare) {
    std::unique_ptr<File> source = OpenPath(path, false, LockKind::Exclusive);
    if (source->FreeShare() <= minimumFreeShare)
        return false;
    std::unique_ptr<FileIo> io = FileIo::CreateTemporary(path);
    FileIo* raw = io.get();
    try {
        std::unique_ptr<File> target = CreateEmpty(std::move(io));
        target->CopyAttributes(RootStorage, source->EntryAt(RootStorage));
        std::vector<std::pair<uint32_t, uint32_t>> todo{{RootStorage, RootStorage}};
        QByteArray content;
        while (!todo.empty()) {
            const auto [from, to] = todo.back();
            todo.pop_back();
            for (uint32_t child : source->Children(from)) {
                const Entry& e = source->EntryAt(child);
                uint32_t made;
                if (e.type == EntryType::Storage) {
                    made = target->CreateStorage(to, e.name, false);
                    todo.push_back({child, made});
                } else {
                    made = target->CreateStream(to, e.name, false);
                    source->StreamChain(child); // a damaged stream stops the copy here
                    content.resize(qsizetype(source->StreamSize(child)));
                    source->ReadStream(child, 0, content.data(), content.size());
                    target->WriteStream(made, 0, content.constData(), content.size());
                    target->Flush();
                }
                target->CopyAttributes(made, e);
            }
        }
        target->Commit();
        source.reset(); // the rename checks that nobody holds the old file
        raw->Publish(path);
        return true;
    } catch (...) {
        raw->Discard();
        throw;
    }
}

Status File::Probe(const QString& path, QString* reason) {
    try {
        std::unique_ptr<FileIo> io = FileIo::Open(path, false, LockKind::None);
        QByteArray head(8, '\0');
        head.truncate(qsizetype(io->ReadAt(0, head.data(), 8)));
        if (!HasSignature(head)) {
            if (reason)
                *reason = head.size() < 8
                              ? QStringLiteral("the file is too short to be a compound file")
                              : QStringLiteral("the file does not start with the compound "
                                               "file signature");
            return Status::False;
        }
        return Status::Ok;
    } catch (const Error& e) {
        if (reason)
            *reason = e.Reason();
        return e.Code();
    }
}

File::~File() {
    if (m_cachePath.isEmpty() || HasChanges())
        return;
    if (auto* io = dynamic_cast<FileIo*>(m_io.get())) {
        try {
            StateCache::Instance().Put(m_cachePath, Identity(*io), std::move(m_s));
        } catch (...) {
            // Not keeping the state only costs a parse at the next open.
        }
    }
}

} // namespace cfb

#pragma once
// The compound file engine: one open Compound File Binary file (format version 3 when
// we create it; version 4 files are read and written too), its storages and streams.
//
// Everything changed since the last commit lives in memory or in sectors that the last
// committed state does not use. Commit writes those sectors, syncs, then writes the
// 512-byte header and syncs again, so that the file on disk always holds either the
// state before a commit or the state after it, whenever the program or the machine
// stops. Elements are addressed by directory entry numbers; storage 0 is the root.

#include "CfbFormat.h"
#include "CfbIo.h"
#include "CfbTree.h"

#include <QByteArray>
#include <QString>
#include <map>
#include <memory>
#include <set>
#include <unordered_map>
#include <vector>

namespace cfb {

// The sectors of one allocation table (the FAT, or the MiniFAT for mini sectors), and
// which of them the last committed state uses: those are never written again.
struct SectorSpace {
    std::vector<uint32_t> table;
    uint32_t count = 0;             // sectors that exist
    std::vector<bool> committed;    // used by the last committed state
    std::set<uint32_t> available;   // free now and free in the committed state
    std::vector<uint32_t> taken;    // allocated in this transaction
    std::vector<uint32_t> released; // committed sectors freed in this transaction
    std::set<uint32_t> dirty;       // ordinals of table sectors that changed
    uint32_t perSector = 128;       // table entries in one sector

    bool IsCommitted(uint32_t s) const { return s < committed.size() && committed[s]; }
    void Set(uint32_t s, uint32_t value) {
        table[s] = value;
        dirty.insert(s / perSector);
    }
    void Release(uint32_t s);
    // The whole table becomes the committed state.
    void Settle();
};

// The parsed content of a file, kept between opens of an unchanged file.
struct FileState {
    Header header;
    int sectorSize = 512;
    SectorSpace fat;
    SectorSpace mini;
    std::vector<uint32_t> fatSectors;   // the DIFAT, flattened
    std::vector<uint32_t> difatSectors; // sectors holding DIFAT entries beyond the header's
    std::vector<uint32_t> miniFatChain;
    std::vector<uint32_t> directoryChain;
    std::vector<uint32_t> container; // the sectors of the mini stream
    std::vector<Entry> entries;
    std::vector<uint32_t> parentOf;   // the storage holding each entry
    std::vector<uint32_t> generation; // changes when an entry is freed
    std::set<uint32_t> freeEntries;
    std::unordered_map<uint32_t, TreeHealth> untrustedTrees; // storages not red-black
};

class File {
public:
    // Parses the file behind io. A file that cannot be trusted fails with the status and
    // reason; a damaged stream or tree that is not needed to open the file fails only
    // when it is used.
    static std::unique_ptr<File> Load(std::unique_ptr<Io> io, bool writable);
    // Writes an empty compound file (root only) to io and syncs it.
    static std::unique_ptr<File> CreateEmpty(std::unique_ptr<Io> io);

    // Files on disk, locked while open. An unchanged file is not parsed again: its state
    // is kept from the last close by this process.
    static std::unique_ptr<File> OpenPath(const QString& path, bool writable, LockKind lock);
    // A new empty file replacing any file of that name, written under a temporary name first.
    static std::unique_ptr<File> CreatePath(const QString& path);
    // Rewrites the file without its free space when more than minimumFreeShare of its
    // sectors are free; returns whether it did. The new file replaces the old one by a
    // rename, so an interruption leaves the old file. The file must not be open.
    static bool CompactPath(const QString& path, double minimumFreeShare);
    // S_OK for a compound file, S_FALSE for anything else; errors when it cannot be read.
    static Status Probe(const QString& path, QString* reason);

    ~File();
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    static constexpr uint32_t RootStorage = 0;
    bool Writable() const { return m_writable; }
    int SectorSize() const { return m_s.sectorSize; }
    const Entry& EntryAt(uint32_t entry) const { return m_s.entries.at(entry); }
    uint32_t Generation(uint32_t entry) const { return m_s.generation.at(entry); }
    // Whether the entry is still what a handle opened (not destroyed since).
    bool IsLive(uint32_t entry, uint32_t generation, EntryType type) const;

    uint32_t Find(uint32_t storage, const QString& name) const; // NoEntry when missing
    std::vector<uint32_t> Children(uint32_t storage) const;
    uint32_t ParentOf(uint32_t entry) const { return m_s.parentOf.at(entry); }
    // The share of the file's sectors that are free (0 to 1).
    double FreeShare() const;
    // Class id, state bits and times, as another element has them.
    void CopyAttributes(uint32_t entry, const Entry& from);
    // How the storage's sibling tree stands, examined afresh.
    TreeHealth Health(uint32_t storage) const;

    // With replace, an element of the same name is destroyed first; without it, a clash
    // fails with STG_E_FILEALREADYEXISTS.
    uint32_t CreateStorage(uint32_t parent, const QString& name, bool replace);
    uint32_t CreateStream(uint32_t parent, const QString& name, bool replace);
    void Destroy(uint32_t parent, const QString& name);
    void Move(uint32_t parent, const QString& name, uint32_t destination, const QString& newName);

    uint64_t StreamSize(uint32_t stream) const;
    int64_t ReadStream(uint32_t stream, uint64_t offset, char* buffer, int64_t count);
    void WriteStream(uint32_t stream, uint64_t offset, const char* data, int64_t count);
    void SetStreamSize(uint32_t stream, uint64_t size);
    // The stream's sectors, checked against its size (fails when they cannot hold it).
    std::vector<uint32_t> StreamChain(uint32_t stream);

    bool HasChanges() const;
    // Writes the content of changed streams to sectors the committed state does not use,
    // without committing: keeps memory bounded while copying a large file.
    void Flush() { FlushStreams(); }
    void Commit();
    // Forgets every change since the last commit.
    void Revert();

    // Bytes passed to the file since it was opened (for benchmarks and tests).
    int64_t BytesWritten() const { return m_bytesWritten; }
    Io& Device() { return *m_io; }

private:
    File(std::unique_ptr<Io> io, bool writable);
    void Parse();
    void CheckTrees();

    // Reading sectors.
    int64_t SectorOffset(uint32_t sector) const { return int64_t(sector + 1) * m_s.sectorSize; }
    QByteArray ReadSector(uint32_t sector);
    QByteArray ReadChainBytes(const std::vector<uint32_t>& chain);
    std::vector<uint32_t> WalkChain(const SectorSpace& space, uint32_t start, uint64_t needed,
                                    const QString& what, bool toTheEnd) const;
    // Follows a chain as far as it is sound, at most limit links: for freeing damaged chains.
    std::vector<uint32_t> WalkChainLeniently(const SectorSpace& space, uint32_t start,
                                             uint64_t limit) const;
    void Write(int64_t offset, const char* data, int64_t count);

    // Entries and trees.
    void Touch(uint32_t entry);
    SiblingTree Tree(uint32_t storage);
    SiblingTree TreeForChange(uint32_t storage);
    const Entry& Live(uint32_t entry) const;
    uint32_t NewEntry(const QString& name, EntryType type, uint32_t parent);
    void FreeSubtree(uint32_t entry);

    // Allocation.
    uint32_t TakeSector();
    void CoverSectorsInFat();
    uint32_t TakeMiniSector();
    void ReleaseStreamSectors(const Entry& entry);
    std::vector<uint32_t> TakeChain(bool mini, uint32_t length);
    void RelocateLink(std::vector<uint32_t>& chain, size_t index);

    // Streams.
    QByteArray& Buffer(uint32_t stream);
    void FlushStreams();
    void StoreStream(uint32_t stream, const QByteArray& data);
    void WriteMiniSectors(const std::vector<uint32_t>& chain, const QByteArray& data);
    void WriteRegularSectors(const std::vector<uint32_t>& chain, const QByteArray& data);

    // Commit.
    void WriteMiniFat();
    void WriteDirectory();
    void WriteFatAndDifat();
    void MarkDifatSlot(size_t fatOrdinal);
    QByteArray DifatSectorBytes(size_t ordinal) const;
    void WriteHeader();
    void PadFile();
    void Settle();

    std::unique_ptr<Io> m_io;
    bool m_writable;
    FileState m_s;
    std::set<uint32_t> m_dirtyEntries;
    std::set<uint32_t> m_dirtyDifat;
    bool m_headerDirty = false;
    std::map<uint32_t, QByteArray> m_buffers; // changed streams, written at commit
    std::unordered_map<uint32_t, std::vector<uint32_t>> m_chains;
    int64_t m_bytesWritten = 0;
    QString m_cachePath; // set when opened by path: the state is kept at close

    friend class Inspector; // the full check reads the parsed state
};

} // namespace cfb

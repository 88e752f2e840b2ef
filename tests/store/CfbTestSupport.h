#pragma once
// Shared by the engine's tests: a whole-file picture of storages and streams, a device
// that records every write, and small byte patches for making damaged files.

#include "store/CfbFile.h"

#include <QByteArray>
#include <QString>
#include <map>
#include <vector>

namespace cfbtest {

// Every element by path ("a/b/c"): a stream maps to its bytes, a storage to "<storage>".
inline std::map<QString, QByteArray> Snapshot(cfb::File& file) {
    std::map<QString, QByteArray> out;
    std::vector<std::pair<uint32_t, QString>> todo{{cfb::File::RootStorage, QString()}};
    while (!todo.empty()) {
        const auto [storage, path] = todo.back();
        todo.pop_back();
        for (uint32_t child : file.Children(storage)) {
            const cfb::Entry& e = file.EntryAt(child);
            const QString p = path.isEmpty() ? e.name : path + u'/' + e.name;
            if (e.type == cfb::EntryType::Storage) {
                out[p] = "<storage>";
                todo.push_back({child, p});
            } else {
                file.StreamChain(child); // checks the size against the file first
                QByteArray data(qsizetype(file.StreamSize(child)), '\0');
                file.ReadStream(child, 0, data.data(), data.size());
                out[p] = data;
            }
        }
    }
    return out;
}

inline std::unique_ptr<cfb::File> LoadBytes(const QByteArray& bytes, bool writable = false) {
    return cfb::File::Load(std::make_unique<cfb::MemoryIo>(bytes), writable);
}

inline QByteArray BytesOf(cfb::File& file) {
    return static_cast<cfb::MemoryIo&>(file.Device()).Bytes();
}

// Writes go to memory and are remembered, with the points where the engine synced.
class RecordingIo : public cfb::MemoryIo {
public:
    struct Write {
        int64_t offset;
        QByteArray bytes;
        int syncsBefore;
    };
    using MemoryIo::MemoryIo;
    void WriteAt(int64_t offset, const char* data, int64_t count) override {
        writes.push_back({offset, QByteArray(data, qsizetype(count)), syncs});
        MemoryIo::WriteAt(offset, data, count);
    }
    void Sync() override { ++syncs; }
    std::vector<Write> writes;
    int syncs = 0;
};

inline void PatchU32(QByteArray& bytes, int64_t offset, uint32_t value) {
    cfb::WriteU32(bytes.data() + offset, value);
}
inline void PatchU16(QByteArray& bytes, int64_t offset, uint16_t value) {
    cfb::WriteU16(bytes.data() + offset, value);
}
inline uint32_t ReadU32At(const QByteArray& bytes, int64_t offset) {
    return cfb::ReadU32(bytes.constData() + offset);
}
// Offsets inside a version 3 file, found through its header.
inline int64_t SectorOffset(uint32_t sector) {
    return int64_t(sector + 1) * 512;
}
inline int64_t EntryOffset(const QByteArray& bytes, uint32_t entry) {
    // Follows the directory chain through the first FAT sector only: enough for test files.
    uint32_t sector = ReadU32At(bytes, 48);
    const uint32_t fat0 = ReadU32At(bytes, 76);
    for (uint32_t i = 0; i < entry / 4; ++i)
        sector = ReadU32At(bytes, SectorOffset(fat0) + 4 * sector);
    return SectorOffset(sector) + 128 * (entry % 4);
}
inline int64_t FatEntryOffset(const QByteArray& bytes, uint32_t sector) {
    return SectorOffset(ReadU32At(bytes, 76)) + 4 * sector;
}

} // namespace cfbtest

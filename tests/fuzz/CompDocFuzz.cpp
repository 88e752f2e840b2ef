// Opens arbitrary bytes as a compound file, walks every storage and reads every stream,
// runs the full check, then changes the file and commits: damage must end in an engine
// error, never in a crash, a hang or an allocation the input does not justify.
#include "store/CfbCheck.h"
#include "store/CfbFile.h"

#include <cstddef>
#include <cstdint>

namespace {

void Walk(cfb::File& file) {
    std::vector<uint32_t> storages{cfb::File::RootStorage};
    char buffer[4096];
    while (!storages.empty()) {
        const uint32_t storage = storages.back();
        storages.pop_back();
        for (uint32_t child : file.Children(storage)) {
            const cfb::Entry& e = file.EntryAt(child);
            if (e.type == cfb::EntryType::Storage) {
                storages.push_back(child);
                continue;
            }
            try {
                file.StreamChain(child);
                for (uint64_t at = 0; at < file.StreamSize(child); at += sizeof buffer)
                    file.ReadStream(child, at, buffer, sizeof buffer);
            } catch (const cfb::Error&) {
                // One damaged stream does not stop the walk.
            }
        }
    }
}

void Change(cfb::File& file) {
    const std::vector<uint32_t> children = file.Children(cfb::File::RootStorage);
    if (!children.empty()) {
        const uint32_t first = children.front();
        if (file.EntryAt(first).type == cfb::EntryType::Stream) {
            const QByteArray more(700, 'm');
            file.WriteStream(first, 10, more.constData(), more.size());
        }
        file.Destroy(cfb::File::RootStorage, file.EntryAt(children.back()).name);
    }
    const uint32_t added = file.CreateStream(cfb::File::RootStorage, QStringLiteral("added"), true);
    const QByteArray data(5000, 'a');
    file.WriteStream(added, 0, data.constData(), data.size());
    file.CreateStorage(cfb::File::RootStorage, QStringLiteral("folder"), true);
    file.Commit();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    try {
        auto file = cfb::File::Load(std::make_unique<cfb::MemoryIo>(bytes), false);
        Walk(*file);
    } catch (const cfb::Error&) {
    }
    cfb::MemoryIo io(bytes);
    cfb::CheckCompoundFile(io);
    try {
        auto file = cfb::File::Load(std::make_unique<cfb::MemoryIo>(bytes), true);
        Change(*file);
        auto again = cfb::File::Load(
            std::make_unique<cfb::MemoryIo>(static_cast<cfb::MemoryIo&>(file->Device()).Bytes()),
            false);
        Walk(*again);
    } catch (const cfb::Error&) {
    }
    return 0;
}

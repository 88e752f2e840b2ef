#pragma once
// The on-disk pieces of a Compound File Binary file (the "structured storage" format):
// the header, the 128-byte directory entry, the special sector numbers, the rules for
// element names, and the status codes with the names Windows gives them. Pure data and
// conversions; nothing here touches a file.

#include "shell/Errors.h"

#include <QByteArray>
#include <QString>
#include <cstdint>

namespace cfb {

// Special values of a FAT entry or a sector reference.
constexpr uint32_t MaxRegularSector = 0xFFFFFFFA;
constexpr uint32_t DifatSector = 0xFFFFFFFC;
constexpr uint32_t FatSector = 0xFFFFFFFD;
constexpr uint32_t EndOfChain = 0xFFFFFFFE;
constexpr uint32_t FreeSector = 0xFFFFFFFF;
// A directory reference to nothing.
constexpr uint32_t NoEntry = 0xFFFFFFFF;
constexpr uint32_t MaxRegularEntry = 0xFFFFFFFA;

constexpr int HeaderSize = 512;
constexpr int EntrySize = 128;
constexpr int MiniSectorSize = 64;
constexpr uint32_t MiniStreamCutoff = 4096;
constexpr int HeaderDifatSlots = 109;
constexpr int MaxNameLength = 31; // UTF-16 units, without the terminating zero

extern const unsigned char Signature[8];

enum class EntryType : uint8_t { Unused = 0, Storage = 1, Stream = 2, Root = 5 };
enum class Color : uint8_t { Red = 0, Black = 1 };

// Status codes with their Windows values, so that errors read the same on every platform.
enum class Status : uint32_t {
    Ok = 0,
    False = 1,
    Fail = 0x80004005,
    InvalidFunction = 0x80030001,
    FileNotFound = 0x80030002,
    PathNotFound = 0x80030003,
    AccessDenied = 0x80030005,
    InsufficientMemory = 0x80030008,
    SeekError = 0x80030019,
    WriteFault = 0x8003001D,
    ReadFault = 0x8003001E,
    ShareViolation = 0x80030020,
    LockViolation = 0x80030021,
    FileAlreadyExists = 0x80030050,
    InvalidParameter = 0x80030057,
    MediumFull = 0x80030070,
    InvalidHeader = 0x800300FB,
    InvalidName = 0x800300FC,
    InvalidFlag = 0x800300FF,
    Reverted = 0x80030102,
    OldFormat = 0x80030104,
    DocfileCorrupt = 0x80030109,
};

// "STG_E_FILENOTFOUND" and the like.
QString StatusName(Status status);

// A failure of the engine: the status and a sentence saying what exactly went wrong.
class Error : public Exception {
public:
    Error(Status status, const QString& reason);
    Status Code() const { return m_status; }
    const QString& Reason() const { return m_reason; }

private:
    Status m_status;
    QString m_reason;
};

[[noreturn]] void Fail(Status status, const QString& reason);

struct Header {
    uint16_t minorVersion = 0x003E;
    uint16_t majorVersion = 3;
    uint16_t sectorShift = 9;
    uint16_t miniSectorShift = 6;
    uint32_t directorySectorCount = 0; // only version 4 counts them
    uint32_t fatSectorCount = 0;
    uint32_t firstDirectorySector = EndOfChain;
    uint32_t transactionSignature = 0;
    uint32_t miniStreamCutoff = MiniStreamCutoff;
    uint32_t firstMiniFatSector = EndOfChain;
    uint32_t miniFatSectorCount = 0;
    uint32_t firstDifatSector = EndOfChain;
    uint32_t difatSectorCount = 0;
    uint32_t difat[HeaderDifatSlots];

    Header();
    int SectorSize() const { return 1 << sectorShift; }
};

// Reads and checks the first 512 bytes; a header that cannot be trusted fails with
// STG_E_INVALIDHEADER (or STG_E_OLDFORMAT) and the field at fault.
Header ParseHeader(const QByteArray& bytes);
QByteArray SerializeHeader(const Header& header);
bool HasSignature(const QByteArray& bytes);

struct Entry {
    QString name;
    QString key; // the name upper-cased, for the format's ordering
    EntryType type = EntryType::Unused;
    Color color = Color::Black;
    uint32_t left = NoEntry;
    uint32_t right = NoEntry;
    uint32_t child = NoEntry;
    unsigned char clsid[16] = {};
    uint32_t stateBits = 0;
    uint64_t created = 0;
    uint64_t modified = 0;
    uint32_t start = EndOfChain;
    uint64_t size = 0;

    bool IsStorage() const { return type == EntryType::Storage || type == EntryType::Root; }
    void SetName(const QString& value);
};

// Parses one 128-byte entry; a name without a proper length gives an empty name (the
// caller decides whether that is damage). majorVersion 3 ignores the size's upper half.
Entry ParseEntry(const char* bytes, uint16_t majorVersion);
void SerializeEntry(const Entry& entry, char* bytes);

// The format's order of names: shorter first, then unit by unit after upper-casing.
int CompareNames(const QString& aKey, const QString& bKey);
QString NameKey(const QString& name);
// Empty when the name is acceptable, else the reason.
QString NameProblem(const QString& name);

inline uint32_t ReadU32(const char* p) {
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    return uint32_t(u[0]) | uint32_t(u[1]) << 8 | uint32_t(u[2]) << 16 | uint32_t(u[3]) << 24;
}
inline uint16_t ReadU16(const char* p) {
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    return uint16_t(u[0] | u[1] << 8);
}
inline void WriteU32(char* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = char((v >> (8 * i)) & 0xFF);
}
inline void WriteU16(char* p, uint16_t v) {
    p[0] = char(v & 0xFF);
    p[1] = char(v >> 8);
}

} // namespace cfb

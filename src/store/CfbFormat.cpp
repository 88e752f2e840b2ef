#include "CfbFormat.h"

#include <QChar>
#include <cstring>

namespace cfb {

const unsigned char Signature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

QString StatusName(Status status) {
    switch (status) {
    case Status::Ok:
        return QStringLiteral("S_OK");
    case Status::False:
        return QStringLiteral("S_FALSE");
    case Status::Fail:
        return QStringLiteral("E_FAIL");
    case Status::InvalidFunction:
        return QStringLiteral("STG_E_INVALIDFUNCTION");
    case Status::FileNotFound:
        return QStringLiteral("STG_E_FILENOTFOUND");
    case Status::PathNotFound:
        return QStringLiteral("STG_E_PATHNOTFOUND");
    case Status::AccessDenied:
        return QStringLiteral("STG_E_ACCESSDENIED");
    case Status::InsufficientMemory:
        return QStringLiteral("STG_E_INSUFFICIENTMEMORY");
    case Status::SeekError:
        return QStringLiteral("STG_E_SEEKERROR");
    case Status::WriteFault:
        return QStringLiteral("STG_E_WRITEFAULT");
    case Status::ReadFault:
        return QStringLiteral("STG_E_READFAULT");
    case Status::ShareViolation:
        return QStringLiteral("STG_E_SHAREVIOLATION");
    case Status::LockViolation:
        return QStringLiteral("STG_E_LOCKVIOLATION");
    case Status::FileAlreadyExists:
        return QStringLiteral("STG_E_FILEALREADYEXISTS");
    case Status::InvalidParameter:
        return QStringLiteral("STG_E_INVALIDPARAMETER");
    case Status::MediumFull:
        return QStringLiteral("STG_E_MEDIUMFULL");
    case Status::InvalidHeader:
        return QStringLiteral("STG_E_INVALIDHEADER");
    case Status::InvalidName:
        return QStringLiteral("STG_E_INVALIDNAME");
    case Status::InvalidFlag:
        return QStringLiteral("STG_E_INVALIDFLAG");
    case Status::Reverted:
        return QStringLiteral("STG_E_REVERTED");
    case Status::OldFormat:
        return QStringLiteral("STG_E_OLDFORMAT");
    case Status::DocfileCorrupt:
        return QStringLiteral("STG_E_DOCFILECORRUPT");
    }
    return QStringLiteral("0x%1").arg(uint32_t(status), 8, 16, QChar(u'0'));
}

Error::Error(Status status, const QString& reason)
    : Exception(StatusName(status) + QStringLiteral(": ") + reason), m_status(status),
      m_reason(reason) {}

void Fail(Status status, const QString& reason) {
    throw Error(status, reason);
}

Header::Header() {
    for (uint32_t& slot : difat)
        slot = FreeSector;
}

bool HasSignature(const QByteArray& bytes) {
    return bytes.size() >= 8 && std::memcmp(bytes.constData(), Signature, 8) == 0;
}

Header ParseHeader(const QByteArray& bytes) {
    if (bytes.size() < HeaderSize)
        Fail(Status::InvalidHeader, QStringLiteral("the file is shorter than a compound file "
                                                   "header (%1 of 512 bytes)")
                                        .arg(bytes.size()));
    if (!HasSignature(bytes))
        Fail(Status::InvalidHeader,
             QStringLiteral("the file does not start with the compound file signature"));
    const char* p = bytes.constData();
    Header h;
    h.minorVersion = ReadU16(p + 24);
    h.majorVersion = ReadU16(p + 26);
    if (ReadU16(p + 28) != 0xFFFE)
        Fail(Status::InvalidHeader, QStringLiteral("the byte order mark is 0x%1, not 0xFFFE")
                                        .arg(ReadU16(p + 28), 4, 16, QChar(u'0')));
    h.sectorShift = ReadU16(p + 30);
    h.miniSectorShift = ReadU16(p + 32);
    if (h.majorVersion != 3 && h.majorVersion != 4)
        Fail(Status::OldFormat,
             QStringLiteral("format version %1 is not 3 or 4").arg(h.majorVersion));
    const uint16_t expectedShift = h.majorVersion == 3 ? 9 : 12;
    if (h.sectorShift != expectedShift)
        Fail(Status::InvalidHeader, QStringLiteral("sector shift %1 is not valid for format "
                                                   "version %2 (it must be %3)")
                                        .arg(h.sectorShift)
                                        .arg(h.majorVersion)
                                        .arg(expectedShift));
    if (h.miniSectorShift != 6)
        Fail(Status::InvalidHeader,
             QStringLiteral("mini sector shift %1 is not 6").arg(h.miniSectorShift));
    h.directorySectorCount = ReadU32(p + 40);
    h.fatSectorCount = ReadU32(p + 44);
    h.firstDirectorySector = ReadU32(p + 48);
    h.transactionSignature = ReadU32(p + 52);
    h.miniStreamCutoff = ReadU32(p + 56);
    if (h.miniStreamCutoff != MiniStreamCutoff)
        Fail(Status::InvalidHeader,
             QStringLiteral("mini stream cutoff %1 is not 4096").arg(h.miniStreamCutoff));
    h.firstMiniFatSector = ReadU32(p + 60);
    h.miniFatSectorCount = ReadU32(p + 64);
    h.firstDifatSector = ReadU32(p + 68);
    h.difatSectorCount = ReadU32(p + 72);
    for (int i = 0; i < HeaderDifatSlots; ++i)
        h.difat[i] = ReadU32(p + 76 + 4 * i);
    return h;
}

QByteArray SerializeHeader(const Header& h) {
    QByteArray bytes(HeaderSize, '\0');
    char* p = bytes.data();
    std::memcpy(p, Signature, 8);
    WriteU16(p + 24, h.minorVersion);
    WriteU16(p + 26, h.majorVersion);
    WriteU16(p + 28, 0xFFFE);
    WriteU16(p + 30, h.sectorShift);
    WriteU16(p + 32, h.miniSectorShift);
    WriteU32(p + 40, h.majorVersion == 3 ? 0 : h.directorySectorCount);
    WriteU32(p + 44, h.fatSectorCount);
    WriteU32(p + 48, h.firstDirectorySector);
    WriteU32(p + 52, h.transactionSignature);
    WriteU32(p + 56, h.miniStreamCutoff);
    WriteU32(p + 60, h.firstMiniFatSector);
    WriteU32(p + 64, h.miniFatSectorCount);
    WriteU32(p + 68, h.firstDifatSector);
    WriteU32(p + 72, h.difatSectorCount);
    for (int i = 0; i < HeaderDifatSlots; ++i)
        WriteU32(p + 76 + 4 * i, h.difat[i]);
    return bytes;
}

void Entry::SetName(const QString& value) {
    name = value;
    key = NameKey(value);
}

Entry ParseEntry(const char* p, uint16_t majorVersion) {
    Entry e;
    e.type = EntryType(uint8_t(p[66]));
    const uint16_t nameBytes = ReadU16(p + 64);
    // The length counts the terminating zero; anything odd or too long is not a name.
    if (nameBytes >= 2 && nameBytes <= 64 && nameBytes % 2 == 0) {
        QString name;
        const int units = nameBytes / 2 - 1;
        name.reserve(units);
        for (int i = 0; i < units; ++i)
            name.append(QChar(ReadU16(p + 2 * i)));
        e.SetName(name);
    }
    e.color = uint8_t(p[67]) == 0 ? Color::Red : Color::Black;
    e.left = ReadU32(p + 68);
    e.right = ReadU32(p + 72);
    e.child = ReadU32(p + 76);
    std::memcpy(e.clsid, p + 80, 16);
    e.stateBits = ReadU32(p + 96);
    e.created = uint64_t(ReadU32(p + 100)) | uint64_t(ReadU32(p + 104)) << 32;
    e.modified = uint64_t(ReadU32(p + 108)) | uint64_t(ReadU32(p + 112)) << 32;
    e.start = ReadU32(p + 116);
    e.size = ReadU32(p + 120);
    // Old writers of version 3 left garbage in the upper half; readers must ignore it.
    if (majorVersion != 3)
        e.size |= uint64_t(ReadU32(p + 124)) << 32;
    return e;
}

void SerializeEntry(const Entry& e, char* p) {
    std::memset(p, 0, EntrySize);
    if (e.type == EntryType::Unused) {
        WriteU32(p + 68, NoEntry);
        WriteU32(p + 72, NoEntry);
        WriteU32(p + 76, NoEntry);
        return;
    }
    const int units = std::min<int>(e.name.size(), MaxNameLength);
    for (int i = 0; i < units; ++i)
        WriteU16(p + 2 * i, e.name[i].unicode());
    WriteU16(p + 64, uint16_t((units + 1) * 2));
    p[66] = char(e.type);
    p[67] = char(e.color);
    WriteU32(p + 68, e.left);
    WriteU32(p + 72, e.right);
    WriteU32(p + 76, e.child);
    std::memcpy(p + 80, e.clsid, 16);
    WriteU32(p + 96, e.stateBits);
    WriteU32(p + 100, uint32_t(e.created));
    WriteU32(p + 104, uint32_t(e.created >> 32));
    WriteU32(p + 108, uint32_t(e.modified));
    WriteU32(p + 112, uint32_t(e.modified >> 32));
    WriteU32(p + 116, e.start);
    WriteU32(p + 120, uint32_t(e.size));
    WriteU32(p + 124, uint32_t(e.size >> 32));
}

QString NameKey(const QString& name) {
    QString key = name;
    for (QChar& c : key) {
        // One unit at a time, as the format compares: surrogates stay as they are and a
        // letter whose capital needs two units keeps its own form.
        if (!c.isSurrogate())
            c = c.toUpper();
    }
    return key;
}

int CompareNames(const QString& a, const QString& b) {
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    const ushort* x = a.utf16();
    const ushort* y = b.utf16();
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (x[i] != y[i])
            return x[i] < y[i] ? -1 : 1;
    }
    return 0;
}

QString NameProblem(const QString& name) {
    if (name.isEmpty())
        return QStringLiteral("an element name may not be empty");
    if (name.size() > MaxNameLength)
        return QStringLiteral("the name \"%1\" is longer than 31 characters").arg(name);
    for (QChar c : name) {
        if (c == u'/' || c == u'\\' || c == u':' || c == u'!' || c.unicode() == 0)
            return QStringLiteral("the name \"%1\" contains the character '%2', which element "
                                  "names may not contain")
                .arg(name, c.unicode() == 0 ? QStringLiteral("\\0") : QString(c));
    }
    return {};
}

} // namespace cfb

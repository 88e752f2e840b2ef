#include "ValueStream.h"

#include "shell/SystemCodePage.h"

#include <QtEndian>
#include <cstring>
#include <limits>

namespace {

const QString InvalidPropertyValue = QStringLiteral("Invalid property value");
const QString StreamReadError = QStringLiteral("Stream read error");
const QString StreamWriteError = QStringLiteral("Stream write error");

[[noreturn]] void PropertyValueError() {
    throw EReadError(InvalidPropertyValue);
}
[[noreturn]] void ReadError() {
    throw EReadError(StreamReadError);
}

// Strings are read in steps of this size, so a length field that promises more than
// the stream holds costs at most one step of memory before the stream runs dry.
constexpr quint64 ReadStep = 64 * 1024;
// The most one text may hold: a QByteArray cannot grow past this anyway.
constexpr quint64 MaxTextBytes = 0x7FFF0000;

quint8 Byte(TValueType type) {
    return static_cast<quint8>(type);
}

} // namespace

// ---------------------------------------------------------------------------------------
// TValueWriter

TValueWriter::TValueWriter(QIODevice& device) : m_device(device) {}

TValueWriter::~TValueWriter() {
    try {
        Flush();
    } catch (const EWriteError&) {
        // Destructors cannot throw; callers that care call Flush() themselves.
    }
}

void TValueWriter::Flush() {
    if (m_used == 0)
        return;
    const qint64 written = m_device.write(m_buffer.data(), m_used);
    const int used = m_used;
    m_used = 0;
    if (written != used)
        throw EWriteError(StreamWriteError);
}

qint64 TValueWriter::Position() const {
    return m_device.pos() + m_used;
}

void TValueWriter::Write(const void* data, qint64 size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        if (m_used == BufferSize)
            Flush();
        const int n = static_cast<int>(std::min<qint64>(size, BufferSize - m_used));
        std::memcpy(m_buffer.data() + m_used, p, n);
        m_used += n;
        p += n;
        size -= n;
    }
}

void TValueWriter::writeTag(TValueType tag) {
    const quint8 b = Byte(tag);
    Write(&b, 1);
}

void TValueWriter::WriteInteger(qint32 value) {
    if (value >= -128 && value <= 127) {
        writeTag(TValueType::Int8);
        const qint8 v = static_cast<qint8>(value);
        Write(&v, 1);
    } else if (value >= -32768 && value <= 32767) {
        writeTag(TValueType::Int16);
        const qint16 v = qToLittleEndian(static_cast<qint16>(value));
        Write(&v, 2);
    } else {
        writeTag(TValueType::Int32);
        WriteRawInt32(value);
    }
}

void TValueWriter::WriteBoolean(bool value) {
    writeTag(value ? TValueType::True : TValueType::False);
}

void TValueWriter::WriteDate(double value) {
    writeTag(TValueType::Date);
    WriteRawDouble(value);
}

void TValueWriter::WriteRawInt32(qint32 value) {
    const qint32 v = qToLittleEndian(value);
    Write(&v, 4);
}

void TValueWriter::WriteRawDouble(double value) {
    quint64 bits;
    std::memcpy(&bits, &value, 8);
    bits = qToLittleEndian(bits);
    Write(&bits, 8);
}

void TValueWriter::writeTaggedBytes(const QByteArray& bytes) {
    // A text that is not pure ASCII goes out as UTF-8 with tag 0x14: a Windows reader
    // decodes that whatever its code page, while 0x06/0x0C would be read in its ANSI
    // code page.
    if (!IsAscii(bytes)) {
        writeTag(TValueType::Utf8String);
        WriteRawInt32(static_cast<qint32>(bytes.size()));
    } else if (bytes.size() <= 255) {
        writeTag(TValueType::String);
        const quint8 n = static_cast<quint8>(bytes.size());
        Write(&n, 1);
    } else {
        writeTag(TValueType::LString);
        WriteRawInt32(static_cast<qint32>(bytes.size()));
    }
    Write(bytes.constData(), bytes.size());
}

void TValueWriter::WriteString(const QByteArray& text) {
    writeTaggedBytes(NormalizeSystemCodePage(text));
}

void TValueWriter::WriteWideString(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    if (utf8.size() < 2 * text.size()) {
        writeTaggedBytes(utf8);
        return;
    }
    writeTag(TValueType::WString);
    WriteRawInt32(static_cast<qint32>(text.size()));
    for (QChar c : text) {
        const quint16 unit = qToLittleEndian(c.unicode());
        Write(&unit, 2);
    }
}

void TValueWriter::WriteListBegin() {
    writeTag(TValueType::List);
}

void TValueWriter::WriteListEnd() {
    writeTag(TValueType::Null);
}

// ---------------------------------------------------------------------------------------
// TValueReader

TValueReader::TValueReader(QIODevice& device) : m_device(device) {}

TValueReader::~TValueReader() {
    const int unread = m_end - m_pos;
    if (unread > 0 && !m_device.isSequential())
        m_device.seek(m_device.pos() - unread);
}

qint64 TValueReader::Position() const {
    return m_device.pos() - (m_end - m_pos);
}

bool TValueReader::fill() {
    if (m_pos < m_end)
        return true;
    m_pos = m_end = 0;
    const qint64 n = m_device.read(m_buffer.data(), BufferSize);
    if (n <= 0)
        return false;
    m_end = static_cast<int>(n);
    return true;
}

quint8 TValueReader::readByte() {
    if (!fill())
        ReadError();
    return static_cast<quint8>(m_buffer[m_pos++]);
}

void TValueReader::Read(void* data, qint64 size) {
    char* p = static_cast<char*>(data);
    while (size > 0) {
        if (!fill())
            ReadError();
        const int n = static_cast<int>(std::min<qint64>(size, m_end - m_pos));
        std::memcpy(p, m_buffer.data() + m_pos, n);
        m_pos += n;
        p += n;
        size -= n;
    }
}

QByteArray TValueReader::readBytes(quint64 size) {
    if (size > MaxTextBytes)
        ReadError();
    // A random-access device tells how much is left: fail before reading anything.
    if (!m_device.isSequential() &&
        size > static_cast<quint64>(m_end - m_pos) +
                   static_cast<quint64>(std::max<qint64>(0, m_device.size() - m_device.pos())))
        ReadError();
    QByteArray bytes;
    quint64 done = 0;
    while (done < size) {
        const quint64 step = std::min(size - done, ReadStep);
        bytes.resize(static_cast<qsizetype>(done + step));
        Read(bytes.data() + done, static_cast<qint64>(step));
        done += step;
    }
    return bytes;
}

void TValueReader::skipBytes(quint64 size) {
    while (size > 0) {
        if (!fill())
            ReadError();
        const int n = static_cast<int>(std::min<quint64>(size, m_end - m_pos));
        m_pos += n;
        size -= n;
    }
}

TValueType TValueReader::ReadValue() {
    return static_cast<TValueType>(readByte());
}

TValueType TValueReader::NextValue() {
    const quint8 tag = readByte();
    --m_pos; // readByte left the byte in the buffer: put it back
    return static_cast<TValueType>(tag);
}

qint32 TValueReader::ReadInteger() {
    switch (ReadValue()) {
    case TValueType::Int8: {
        qint8 v;
        Read(&v, 1);
        return v;
    }
    case TValueType::Int16: {
        qint16 v;
        Read(&v, 2);
        return qFromLittleEndian(v);
    }
    case TValueType::Int32:
        return ReadRawInt32();
    default:
        PropertyValueError();
    }
}

bool TValueReader::ReadBoolean() {
    return ReadValue() == TValueType::True;
}

double TValueReader::ReadDate() {
    if (NextValue() == TValueType::Date) {
        ReadValue();
        return ReadRawDouble();
    }
    return ReadInteger();
}

qint32 TValueReader::ReadRawInt32() {
    qint32 v;
    Read(&v, 4);
    return qFromLittleEndian(v);
}

double TValueReader::ReadRawDouble() {
    quint64 bits;
    Read(&bits, 8);
    bits = qFromLittleEndian(bits);
    double v;
    std::memcpy(&v, &bits, 8);
    return v;
}

QByteArray TValueReader::readEightBitPayload(quint8 tag) {
    quint64 size;
    if (tag == Byte(TValueType::String))
        size = readByte();
    else
        size = static_cast<quint32>(ReadRawInt32());
    return readBytes(size);
}

QString TValueReader::readWidePayload(quint8 tag) {
    const quint64 size = static_cast<quint32>(ReadRawInt32());
    if (tag == Byte(TValueType::Utf8String))
        return QString::fromUtf8(readBytes(size));
    const QByteArray bytes = readBytes(size * 2);
    QString text(size, Qt::Uninitialized);
    for (quint64 i = 0; i < size; ++i)
        text[i] = QChar(qFromLittleEndian<quint16>(bytes.constData() + 2 * i));
    return text;
}

QByteArray TValueReader::ReadString() {
    const quint8 tag = readByte();
    switch (static_cast<TValueType>(tag)) {
    case TValueType::WString:
    case TValueType::Utf8String:
        return ToSystemCodePage(readWidePayload(tag));
    case TValueType::String:
    case TValueType::LString:
        return NormalizeSystemCodePage(readEightBitPayload(tag));
    default:
        PropertyValueError();
    }
}

QString TValueReader::ReadWideString() {
    const quint8 tag = readByte();
    switch (static_cast<TValueType>(tag)) {
    case TValueType::WString:
    case TValueType::Utf8String:
        return readWidePayload(tag);
    case TValueType::String:
    case TValueType::LString:
        return FromSystemCodePage(readEightBitPayload(tag));
    default:
        PropertyValueError();
    }
}

void TValueReader::checkValue(TValueType expected) {
    if (NextValue() == expected) {
        ReadValue();
        return;
    }
    // The stream is left after the value that stood where the boundary should be.
    SkipValue();
    PropertyValueError();
}

void TValueReader::ReadListBegin() {
    checkValue(TValueType::List);
}

bool TValueReader::EndOfList() {
    return NextValue() == TValueType::Null;
}

void TValueReader::ReadListEnd() {
    checkValue(TValueType::Null);
}

void TValueReader::skipPayload(quint8 tag, int& depth) {
    switch (static_cast<TValueType>(tag)) {
    case TValueType::Null:
        if (depth > 0)
            --depth;
        return;
    case TValueType::List:
        ++depth;
        return;
    case TValueType::False:
    case TValueType::True:
        return;
    case TValueType::Int8:
        skipBytes(1);
        return;
    case TValueType::Int16:
        skipBytes(2);
        return;
    case TValueType::Int32:
        skipBytes(4);
        return;
    case TValueType::Date:
        skipBytes(8);
        return;
    case TValueType::String:
        skipBytes(readByte());
        return;
    case TValueType::LString:
    case TValueType::Utf8String:
        skipBytes(static_cast<quint32>(ReadRawInt32()));
        return;
    case TValueType::WString:
        skipBytes(2 * static_cast<quint64>(static_cast<quint32>(ReadRawInt32())));
        return;
    }
    // A tag this format does not have: its size is unknown, nothing more can be skipped.
    PropertyValueError();
}

void TValueReader::SkipValue() {
    // Nested lists are skipped with a counter, not by recursion: the depth is the file's.
    int depth = 0;
    do {
        skipPayload(readByte(), depth);
    } while (depth > 0);
}

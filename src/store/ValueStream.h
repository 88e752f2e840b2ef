#pragma once
// The tagged value encoding of every record in the document file and of "brand.cfg".
// Each value is a one-byte tag followed by its payload; raw fields are plain bytes
// without a tag. Numbers are little-endian.
//
//   0x00 end of list        0x08 false              0x12 UTF-16 string: count, 2n bytes
//   0x01 start of list      0x09 true               0x14 UTF-8 string: 4-byte length, n bytes
//   0x02 int8               0x0C 8-bit string: 4-byte length, n bytes
//   0x03 int16              0x11 date: 8-byte double (days since 1899-12-30)
//   0x04 int32              0x06 8-bit string: 1-byte length, n bytes
//
// 8-bit texts are UTF-8 in memory. Tags 0x06 and 0x0C carry only ASCII when we write
// them; files from Windows writers may hold Windows-1252 there, which the reader
// recognises by the bytes not being valid UTF-8.
//
// The writer and the reader are sequential and work on any QIODevice through a
// 1024-byte buffer. The writer flushes on Flush() and on destruction; the reader puts
// the device back at the end of the last value it consumed when it is destroyed, so a
// caller can go on with the device itself.

#include "shell/Errors.h"

#include <QByteArray>
#include <QIODevice>
#include <QString>
#include <array>

// A wrong tag ("Invalid property value") or a stream that ends inside a value
// ("Stream read error").
QUILLMAR_DECLARE_EXCEPTION(EReadError, Exception)
// The device refused bytes ("Stream write error").
QUILLMAR_DECLARE_EXCEPTION(EWriteError, Exception)

enum class TValueType : quint8 {
    Null = 0x00, // end of list
    List = 0x01,
    Int8 = 0x02,
    Int16 = 0x03,
    Int32 = 0x04,
    String = 0x06,
    False = 0x08,
    True = 0x09,
    LString = 0x0C,
    Date = 0x11,
    WString = 0x12,
    Utf8String = 0x14,
};

class TValueWriter {
public:
    static constexpr int BufferSize = 1024;

    explicit TValueWriter(QIODevice& device);
    // Flushes what is left; a failure here cannot be reported: call Flush() first.
    ~TValueWriter();
    TValueWriter(const TValueWriter&) = delete;
    TValueWriter& operator=(const TValueWriter&) = delete;

    void WriteInteger(qint32 value);
    void WriteBoolean(bool value);
    void WriteDate(double value);
    void WriteString(const QByteArray& text);  // an 8-bit text
    void WriteWideString(const QString& text); // a 16-bit text
    void WriteListBegin();
    void WriteListEnd();
    void WriteRawInt32(qint32 value);
    void WriteRawDouble(double value);
    void Write(const void* data, qint64 size); // raw bytes

    // Hands the buffered bytes to the device; raises EWriteError when it refuses them.
    void Flush();
    // The device position of the next byte written.
    qint64 Position() const;

private:
    void writeTag(TValueType tag);
    void writeTaggedBytes(const QByteArray& bytes); // the 0x06 / 0x0C / 0x14 choice

    QIODevice& m_device;
    std::array<char, BufferSize> m_buffer{};
    int m_used = 0;
};

class TValueReader {
public:
    static constexpr int BufferSize = 1024;

    explicit TValueReader(QIODevice& device);
    // Puts a random-access device back at the end of the last value consumed.
    ~TValueReader();
    TValueReader(const TValueReader&) = delete;
    TValueReader& operator=(const TValueReader&) = delete;

    qint32 ReadInteger();
    bool ReadBoolean();
    double ReadDate();
    QByteArray ReadString();  // an 8-bit text (UTF-8)
    QString ReadWideString(); // a 16-bit text
    void ReadListBegin();
    bool EndOfList(); // the next tag is 0x00; consumes nothing
    void ReadListEnd();
    qint32 ReadRawInt32();
    double ReadRawDouble();
    void Read(void* data, qint64 size); // raw bytes; all of them or EReadError

    // The next tag, not consumed.
    TValueType NextValue();
    // Consumes one tag.
    TValueType ReadValue();
    // Consumes one whole value, a list with everything inside it included.
    void SkipValue();

    // The device position of the next byte to read.
    qint64 Position() const;

private:
    bool fill(); // false at the end of the device
    quint8 readByte();
    QByteArray readBytes(quint64 size);
    void skipBytes(quint64 size);
    void skipPayload(quint8 tag, int& depth);
    void checkValue(TValueType expected);
    QByteArray readEightBitPayload(quint8 tag); // after tag 0x06 / 0x0C
    QString readWidePayload(quint8 tag);        // after tag 0x12 / 0x14

    QIODevice& m_device;
    std::array<char, BufferSize> m_buffer{};
    int m_pos = 0;
    int m_end = 0;
};

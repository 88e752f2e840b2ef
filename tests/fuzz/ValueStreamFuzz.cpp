// Reads an arbitrary byte sequence as tagged values, the way a damaged document record
// or "brand.cfg" reaches the reader. Every failure must be an EReadError; every text
// that was read must survive being written and read again.
#include "store/ValueStream.h"

#include <QBuffer>
#include <cstdint>
#include <cstdlib>

namespace {

void CheckRoundTrip(const QString& text) {
    QByteArray bytes;
    QBuffer out(&bytes);
    out.open(QIODevice::WriteOnly);
    {
        TValueWriter writer(out);
        writer.WriteWideString(text);
    }
    QBuffer in(&bytes);
    in.open(QIODevice::ReadOnly);
    TValueReader reader(in);
    // Lone surrogates do not survive UTF-8; everything else must.
    const QString back = reader.ReadWideString();
    if (back != text && QString::fromUtf8(text.toUtf8()) == text)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    // The first byte picks how strings are read, the rest is the stream.
    const uint8_t mode = data[0];
    QByteArray bytes(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    TValueReader reader(buffer);
    try {
        for (int step = 0; step < 10000; ++step) {
            switch (reader.NextValue()) {
            case TValueType::List:
                reader.ReadListBegin();
                break;
            case TValueType::Null:
                reader.ReadListEnd();
                break;
            case TValueType::Int8:
            case TValueType::Int16:
            case TValueType::Int32:
                if (mode & 1)
                    reader.ReadDate();
                else
                    reader.ReadInteger();
                break;
            case TValueType::Date:
                reader.ReadDate();
                break;
            case TValueType::String:
            case TValueType::LString:
            case TValueType::WString:
            case TValueType::Utf8String:
                if (mode & 2)
                    reader.ReadString();
                else
                    CheckRoundTrip(reader.ReadWideString());
                break;
            default:
                if (mode & 4)
                    reader.SkipValue();
                else
                    reader.ReadBoolean();
                break;
            }
        }
    } catch (const EReadError&) {
        // The expected end of damaged input.
    }
    return 0;
}

#include "store/ValueStream.h"

#include <QBuffer>
#include <functional>
#include <gtest/gtest.h>

namespace {

QByteArray Bytes(std::initializer_list<int> values) {
    QByteArray bytes;
    for (int v : values)
        bytes.append(static_cast<char>(v));
    return bytes;
}

QByteArray Written(const std::function<void(TValueWriter&)>& write) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    {
        TValueWriter writer(buffer);
        write(writer);
        writer.Flush();
    }
    return bytes;
}

QString ErrorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const EReadError& e) {
        return e.Message();
    }
    return {};
}

// A device that hands out its bytes in small pieces and cannot tell its size, like a
// pipe: the reader must not trust a length field to size its memory.
class TrickleDevice : public QIODevice {
public:
    explicit TrickleDevice(QByteArray bytes) : m_bytes(std::move(bytes)) { open(ReadOnly); }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char* data, qint64 maxSize) override {
        const qint64 n = std::min<qint64>({maxSize, 7, m_bytes.size() - m_pos});
        if (n <= 0)
            return -1;
        std::memcpy(data, m_bytes.constData() + m_pos, n);
        m_pos += n;
        return n;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QByteArray m_bytes;
    qint64 m_pos = 0;
};

struct WriteCase {
    const char* what;
    std::function<void(TValueWriter&)> write;
    QByteArray expected;
};

class ValueWriterBytes : public testing::TestWithParam<WriteCase> {};

TEST_P(ValueWriterBytes, WritesTheExpectedBytes) {
    EXPECT_EQ(Written(GetParam().write).toHex(' '), GetParam().expected.toHex(' '))
        << GetParam().what;
}

const QString Ascii300(300, u'x');
const QByteArray Ascii300Bytes(300, 'x');

INSTANTIATE_TEST_SUITE_P(
    Cases, ValueWriterBytes,
    testing::
        Values(
            WriteCase{"127 fits one byte", [](auto& w) { w.WriteInteger(127); }, Bytes({2, 0x7F})},
            WriteCase{"-128 fits one byte", [](auto& w) { w.WriteInteger(-128); },
                      Bytes({2, 0x80})},
            WriteCase{"128 needs two bytes", [](auto& w) { w.WriteInteger(128); },
                      Bytes({3, 0x80, 0})},
            WriteCase{"-129 needs two bytes", [](auto& w) { w.WriteInteger(-129); },
                      Bytes({3, 0x7F, 0xFF})},
            WriteCase{"32767 fits two bytes", [](auto& w) { w.WriteInteger(32767); },
                      Bytes({3, 0xFF, 0x7F})},
            WriteCase{"32768 needs four bytes", [](auto& w) { w.WriteInteger(32768); },
                      Bytes({4, 0, 0x80, 0, 0})},
            WriteCase{"-32769 takes five bytes", [](auto& w) { w.WriteInteger(-32769); },
                      Bytes({4, 0xFF, 0x7F, 0xFF, 0xFF})},
            WriteCase{"true", [](auto& w) { w.WriteBoolean(true); }, Bytes({9})},
            WriteCase{"false", [](auto& w) { w.WriteBoolean(false); }, Bytes({8})},
            WriteCase{"date 1.5", [](auto& w) { w.WriteDate(1.5); },
                      Bytes({0x11, 0, 0, 0, 0, 0, 0, 0xF8, 0x3F})},
            WriteCase{"abc as 8-bit", [](auto& w) { w.WriteString("abc"); },
                      Bytes({6, 3, 'a', 'b', 'c'})},
            WriteCase{"abc as 16-bit", [](auto& w) { w.WriteWideString(QStringLiteral("abc")); },
                      Bytes({6, 3, 'a', 'b', 'c'})},
            WriteCase{"empty 8-bit", [](auto& w) { w.WriteString(""); }, Bytes({6, 0})},
            WriteCase{"empty 16-bit", [](auto& w) { w.WriteWideString(QString()); },
                      Bytes({0x12, 0, 0, 0, 0})},
            WriteCase{"300 ASCII characters take the long tag",
                      [](auto& w) { w.WriteWideString(Ascii300); },
                      Bytes({0x0C, 0x2C, 1, 0, 0}) + Ascii300Bytes},
            WriteCase{"255 ASCII characters still take the short tag",
                      [](auto& w) { w.WriteString(QByteArray(255, 'y')); },
                      Bytes({6, 0xFF}) + QByteArray(255, 'y')},
            WriteCase{"characters of three UTF-8 bytes go out as UTF-16",
                      [](auto& w) { w.WriteWideString(QString::fromUtf8("日本")); },
                      Bytes({0x12, 2, 0, 0, 0, 0xE5, 0x65, 0x2C, 0x67})},
            WriteCase{"mostly ASCII with Latin letters goes out as UTF-8",
                      [](auto& w) { w.WriteWideString(QString::fromUtf8("café")); },
                      Bytes({0x14, 5, 0, 0, 0, 'c', 'a', 'f', 0xC3, 0xA9})},
            WriteCase{"two-byte letters only: UTF-8 is not shorter",
                      [](auto& w) { w.WriteWideString(QString::fromUtf8("éé")); },
                      Bytes({0x12, 2, 0, 0, 0, 0xE9, 0, 0xE9, 0})},
            WriteCase{"non-ASCII 8-bit text goes out as UTF-8",
                      [](auto& w) { w.WriteString(QByteArray("caf\xC3\xA9")); },
                      Bytes({0x14, 5, 0, 0, 0, 'c', 'a', 'f', 0xC3, 0xA9})},
            WriteCase{"an 8-bit text in the old code page is converted",
                      [](auto& w) { w.WriteString(QByteArray("caf\xE9")); },
                      Bytes({0x14, 5, 0, 0, 0, 'c', 'a', 'f', 0xC3, 0xA9})},
            WriteCase{
                "list",
                [](auto& w) {
                    w.WriteListBegin();
                    w.WriteInteger(1);
                    w.WriteListEnd();
                },
                Bytes({1, 2, 1, 0})},
            WriteCase{"raw int32 has no tag", [](auto& w) { w.WriteRawInt32(-2); },
                      Bytes({0xFE, 0xFF, 0xFF, 0xFF})},
            WriteCase{"raw double has no tag", [](auto& w) { w.WriteRawDouble(2.0); },
                      Bytes({0, 0, 0, 0, 0, 0, 0, 0x40})}));

struct ReadCase {
    const char* what;
    QByteArray input;
    std::function<QString(TValueReader&)> read; // the value as text
    QString expected;                           // or the error message
};

class ValueReaderResults : public testing::TestWithParam<ReadCase> {};

TEST_P(ValueReaderResults, ReadsTheExpectedValueOrError) {
    QByteArray bytes = GetParam().input;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    TValueReader reader(buffer);
    QString result;
    try {
        result = GetParam().read(reader);
    } catch (const EReadError& e) {
        result = e.Message();
    }
    EXPECT_EQ(result, GetParam().expected) << GetParam().what;
}

QString Int(TValueReader& r) {
    return QString::number(r.ReadInteger());
}
QString Wide(TValueReader& r) {
    return r.ReadWideString();
}
QString Narrow(TValueReader& r) {
    return QString::fromUtf8(r.ReadString());
}
QString Date(TValueReader& r) {
    return QString::number(r.ReadDate());
}
QString ListOfIntegers(TValueReader& r) {
    QStringList items;
    r.ReadListBegin();
    while (!r.EndOfList())
        items << QString::number(r.ReadInteger());
    r.ReadListEnd();
    return items.join(u',');
}

const QString Invalid = QStringLiteral("Invalid property value");
const QString Short = QStringLiteral("Stream read error");

INSTANTIATE_TEST_SUITE_P(
    Cases, ValueReaderResults,
    testing::Values(
        ReadCase{"int8 is sign-extended", Bytes({2, 0xFF}), Int, "-1"},
        ReadCase{"int16 is sign-extended", Bytes({3, 0, 0x80}), Int, "-32768"},
        ReadCase{"int32", Bytes({4, 0x78, 0x56, 0x34, 0x12}), Int, "305419896"},
        ReadCase{"a string where an integer belongs", Bytes({6, 0}), Int, Invalid},
        ReadCase{"a tag the format lacks", Bytes({5, 0}), Int, Invalid},
        ReadCase{"an integer cut short", Bytes({3, 1}), Int, Short},
        ReadCase{"nothing at all", QByteArray(), Int, Short},
        ReadCase{"a boolean reads only true as true", Bytes({9}),
                 [](auto& r) { return QString::number(r.ReadBoolean()); }, "1"},
        ReadCase{"any other byte is false, not an error", Bytes({4}),
                 [](auto& r) { return QString::number(r.ReadBoolean()); }, "0"},
        ReadCase{"a boolean over an integer leaves its payload as the next value",
                 Bytes({2, 9}),
                 [](auto& r) {
                     const bool first = r.ReadBoolean();
                     return QString::number(first) + QString::number(r.ReadBoolean());
                 },
                 "01"},
        ReadCase{"a date", Bytes({0x11, 0, 0, 0, 0, 0, 0, 0xF8, 0x3F}), Date, "1.5"},
        ReadCase{"a date written as the integer 0 is 1899-12-30", Bytes({2, 0}), Date, "0"},
        ReadCase{"a date written as a day count", Bytes({3, 0x10, 0x27}), Date, "10000"},
        ReadCase{"a date where a string stands", Bytes({6, 0}), Date, Invalid},
        ReadCase{"a short string", Bytes({6, 3, 'a', 'b', 'c'}), Wide, "abc"},
        ReadCase{"a long string", Bytes({0x0C, 2, 0, 0, 0, 'h', 'i'}), Wide, "hi"},
        ReadCase{"UTF-16", Bytes({0x12, 2, 0, 0, 0, 0xE5, 0x65, 0x2C, 0x67}), Wide,
                 QString::fromUtf8("日本")},
        ReadCase{"UTF-8", Bytes({0x14, 5, 0, 0, 0, 'c', 'a', 'f', 0xC3, 0xA9}), Wide,
                 QString::fromUtf8("café")},
        ReadCase{"UTF-16 read as an 8-bit text", Bytes({0x12, 1, 0, 0, 0, 0xE9, 0}), Narrow,
                 QString::fromUtf8("é")},
        ReadCase{"UTF-8 read as an 8-bit text", Bytes({0x14, 2, 0, 0, 0, 0xC3, 0xA9}), Narrow,
                 QString::fromUtf8("é")},
        ReadCase{"an old Windows-1252 text", Bytes({6, 5, 0x80, 'c', 'a', 'f', 0xE9}), Wide,
                 QString::fromUtf8("€café")},
        ReadCase{"an old Windows-1252 text read as 8-bit", Bytes({6, 4, 'c', 'a', 'f', 0xE9}),
                 Narrow, QString::fromUtf8("café")},
        ReadCase{"UTF-8 in a short string", Bytes({6, 2, 0xC3, 0xA9}), Wide,
                 QString::fromUtf8("é")},
        ReadCase{"a string where an integer stands", Bytes({2, 1}), Wide, Invalid},
        ReadCase{"an 8-bit string where a boolean stands", Bytes({9}), Narrow, Invalid},
        ReadCase{"a string length past the end", Bytes({6, 9, 'a'}), Wide, Short},
        ReadCase{"a 4 GB long string", Bytes({0x0C, 0xFF, 0xFF, 0xFF, 0xFF, 'a'}), Wide, Short},
        ReadCase{"a 4 GB UTF-8 string", Bytes({0x14, 0xFF, 0xFF, 0xFF, 0xFF, 'a'}), Narrow, Short},
        ReadCase{"a 2 G unit UTF-16 string", Bytes({0x12, 0, 0, 0, 0x80, 'a', 0}), Wide, Short},
        ReadCase{"a UTF-16 string with an odd byte left", Bytes({0x12, 1, 0, 0, 0, 'a'}), Wide,
                 Short},
        ReadCase{"a list", Bytes({1, 2, 1, 2, 2, 0}), ListOfIntegers, "1,2"},
        ReadCase{"an empty list", Bytes({1, 0}), ListOfIntegers, ""},
        ReadCase{"a list that never closes", Bytes({1, 2, 1, 2, 2}), ListOfIntegers, Short},
        ReadCase{"a list start that is not there", Bytes({2, 1}), ListOfIntegers, Invalid},
        ReadCase{"a wrong list end", Bytes({1, 9}),
                 [](auto& r) { r.ReadListBegin(); r.ReadListEnd(); return QString(); }, Invalid},
        ReadCase{"raw int32", Bytes({1, 0, 0, 0}),
                 [](auto& r) { return QString::number(r.ReadRawInt32()); }, "1"},
        ReadCase{"raw int32 cut short", Bytes({1, 0, 0}),
                 [](auto& r) { return QString::number(r.ReadRawInt32()); }, Short},
        ReadCase{"raw double", Bytes({0, 0, 0, 0, 0, 0, 0, 0x40}),
                 [](auto& r) { return QString::number(r.ReadRawDouble()); }, "2"}));

TEST(ValueReader, WrongListBoundarySkipsTheValueFound) {
    // A nested list stands where the list end belongs: all of it is passed over.
    QByteArray bytes = Bytes({1, 1, 2, 5, 6, 1, 'x', 0, 2, 7});
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    TValueReader reader(buffer);
    reader.ReadListBegin();
    EXPECT_EQ(ErrorOf([&] { reader.ReadListEnd(); }), Invalid);
    EXPECT_EQ(reader.ReadInteger(), 7);
}

TEST(ValueReader, DeeplyNestedListsAreSkippedWithoutRecursion) {
    QByteArray bytes = Bytes({2, 0}) + QByteArray(200000, '\x01');
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    TValueReader reader(buffer);
    reader.ReadInteger();
    EXPECT_EQ(ErrorOf([&] { reader.SkipValue(); }), Short);
}

TEST(ValueReader, LengthPastTheEndOfAPipeIsAReadError) {
    TrickleDevice device(Bytes({0x0C, 0xF0, 0xFF, 0xFF, 0x7F}) + QByteArray(100, 'a'));
    TValueReader reader(device);
    EXPECT_EQ(ErrorOf([&] { reader.ReadString(); }), Short);
}

TEST(ValueReader, ReadsLongTextsFromAPipe) {
    const QString text(5000, u'q');
    TrickleDevice device(Written([&](auto& w) {
        w.WriteWideString(text);
        w.WriteInteger(3);
    }));
    TValueReader reader(device);
    EXPECT_EQ(reader.ReadWideString(), text);
    EXPECT_EQ(reader.ReadInteger(), 3);
}

TEST(ValueReader, LeavesTheDeviceAfterTheLastValueConsumed) {
    QByteArray bytes = Bytes({2, 5, 0xAA, 0xBB});
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    {
        TValueReader reader(buffer);
        EXPECT_EQ(reader.ReadInteger(), 5);
        EXPECT_EQ(reader.Position(), 2);
    }
    EXPECT_EQ(buffer.pos(), 2);
    EXPECT_EQ(buffer.readAll(), Bytes({0xAA, 0xBB}));
}

TEST(ValueReader, NextValueDoesNotConsume) {
    QByteArray bytes = Bytes({9});
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    TValueReader reader(buffer);
    EXPECT_EQ(reader.NextValue(), TValueType::True);
    EXPECT_EQ(reader.NextValue(), TValueType::True);
    EXPECT_TRUE(reader.ReadBoolean());
    EXPECT_EQ(ErrorOf([&] { reader.NextValue(); }), Short);
}

TEST(ValueStream, EveryKindSurvivesARoundTripAcrossBufferBoundaries) {
    const QString wide = QString::fromUtf8("Grüße, 日本, \xF0\x9F\x98\x80");
    const QByteArray narrow("n\xC3\xA4me");
    const QByteArray bytes = Written([&](TValueWriter& w) {
        w.WriteRawInt32(7);
        for (int i = 0; i < 300; ++i) {
            w.WriteListBegin();
            w.WriteInteger(i * 1000 - 70000);
            w.WriteWideString(wide);
            w.WriteString(narrow);
            w.WriteDate(45000.25);
            w.WriteBoolean(i % 2);
            w.WriteRawDouble(-i / 3.0);
            w.WriteListEnd();
        }
    });
    ASSERT_GT(bytes.size(), 3 * TValueWriter::BufferSize);
    QByteArray copy = bytes;
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    TValueReader reader(buffer);
    EXPECT_EQ(reader.ReadRawInt32(), 7);
    for (int i = 0; i < 300; ++i) {
        reader.ReadListBegin();
        EXPECT_EQ(reader.ReadInteger(), i * 1000 - 70000);
        EXPECT_EQ(reader.ReadWideString(), wide);
        EXPECT_EQ(reader.ReadString(), narrow);
        EXPECT_EQ(reader.ReadDate(), 45000.25);
        EXPECT_EQ(reader.ReadBoolean(), bool(i % 2));
        EXPECT_EQ(reader.ReadRawDouble(), -i / 3.0);
        EXPECT_TRUE(reader.EndOfList());
        reader.ReadListEnd();
    }
    EXPECT_EQ(reader.Position(), bytes.size());
}

TEST(ValueWriter, ARefusingDeviceIsAWriteError) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    TValueWriter writer(buffer);
    writer.WriteInteger(1);
    EXPECT_THROW(writer.Flush(), EWriteError);
}

TEST(ValueWriter, PositionCountsBufferedBytes) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    TValueWriter writer(buffer);
    writer.WriteString("abc");
    EXPECT_EQ(writer.Position(), 5);
}

} // namespace

#include "feeds/InternetDateTime.h"

#include "shell/Clock.h"

#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>

namespace {

// Runs a test in a fixed time zone with the clock stopped at a known moment, so that
// "unreadable gives now" and the daylight-saving rule can be checked.
class FixedZone {
public:
    explicit FixedZone(const char* zone) {
        if (const char* previous = std::getenv("TZ"))
            m_previous = previous;
        m_hadPrevious = std::getenv("TZ") != nullptr;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~FixedZone() {
        if (m_hadPrevious)
            setenv("TZ", m_previous.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    std::string m_previous;
    bool m_hadPrevious = false;
};

class FixedNow {
public:
    explicit FixedNow(const char* moment) { qputenv("QUILLMAR_NOW", moment); }
    ~FixedNow() { qunsetenv("QUILLMAR_NOW"); }
};

double Local(int year, int month, int day, int hour, int minute, int second) {
    return EncodeDays(QDate(year, month, day), QTime(hour, minute, second));
}

std::string Show(double days) {
    return DaysToDateTime(days).toString(Qt::ISODate).toStdString();
}

struct ParseCase {
    const char* text;
    double expected; // local time in Berlin
};

void PrintTo(const ParseCase& c, std::ostream* os) {
    *os << '"' << c.text << '"';
}

// The stopped clock of the tests below, as local time in Berlin.
const char* const kNow = "2020-02-02T10:20:30Z";
const double kNowInBerlin = Local(2020, 2, 2, 11, 20, 30);

class Rfc822Test : public testing::TestWithParam<ParseCase> {};

TEST_P(Rfc822Test, ReadsTheDateAsLocalTimeWithTheOffsetOfThatInstant) {
    FixedZone berlin("Europe/Berlin");
    FixedNow now(kNow);
    EXPECT_EQ(Show(ParseRfc822DateTime(GetParam().text)), Show(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Rfc822Test,
    testing::Values(ParseCase{"Sat, 07 Sep 2002 00:00:01 GMT", Local(2002, 9, 7, 2, 0, 1)},
                    ParseCase{"Sat, 07 Sep 2002 00:00:01 EST", Local(2002, 9, 7, 7, 0, 1)},
                    ParseCase{"Sat, 07 Sep 2002 12:00:00 PDT", Local(2002, 9, 7, 21, 0, 0)},
                    ParseCase{"07 Sep 2002 10:30 +0100", Local(2002, 9, 7, 11, 30, 0)},
                    ParseCase{"Sat, 07 Sep 2002 12:00:00 +0530", Local(2002, 9, 7, 8, 30, 0)},
                    ParseCase{"Sat, 07 Sep 2002 12:00:00 -0030", Local(2002, 9, 7, 14, 30, 0)},
                    ParseCase{"Sat, 07 Sep 2002 10:30:00-0500", Local(2002, 9, 7, 17, 30, 0)},
                    // Winter time: the offset in force then, not now.
                    ParseCase{"Sun, 01 Dec 2002 12:00:00 GMT", Local(2002, 12, 1, 13, 0, 0)},
                    ParseCase{"Sun, 30 Mar 2003 00:30:00 GMT", Local(2003, 3, 30, 1, 30, 0)},
                    ParseCase{"Sun, 30 Mar 2003 01:30:00 GMT", Local(2003, 3, 30, 3, 30, 0)},
                    // Names in any letter case; unknown zone names count as UTC.
                    ParseCase{"sat, 07 SEP 2002 12:00:00 gmt", Local(2002, 9, 7, 14, 0, 0)},
                    ParseCase{"Sat, 07 Sep 2002 12:00:00 XYZ", Local(2002, 9, 7, 14, 0, 0)},
                    ParseCase{"Sat, 07 Sep 2002 12:00:00 Z", Local(2002, 9, 7, 14, 0, 0)},
                    ParseCase{"Sat, 07 Sep 2002 12:00:00 A", Local(2002, 9, 7, 15, 0, 0)},
                    ParseCase{"  Sat,  07   Sep 2002\t12:00:00  UT", Local(2002, 9, 7, 14, 0, 0)},
                    // Without a zone the time is UTC, seconds included.
                    ParseCase{"Sat, 07 Sep 2002 00:00:01", Local(2002, 9, 7, 2, 0, 1)},
                    ParseCase{"Sat, 07 Sep 2002 10:30", Local(2002, 9, 7, 12, 30, 0)},
                    ParseCase{"07 Sep 2002", Local(2002, 9, 7, 2, 0, 0)},
                    // A sign right after the minutes starts the zone.
                    ParseCase{"Sat, 07 Sep 2002 10:30+0100", Local(2002, 9, 7, 11, 30, 0)},
                    // Two- and three-digit years.
                    ParseCase{"07 Sep 02 10:00 GMT", Local(2002, 9, 7, 12, 0, 0)},
                    ParseCase{"07 Sep 49 10:00 GMT", Local(2049, 9, 7, 12, 0, 0)},
                    ParseCase{"07 Sep 99 10:00 GMT", Local(1999, 9, 7, 12, 0, 0)},
                    ParseCase{"07 Sep 50 10:00 GMT", Local(1950, 9, 7, 11, 0, 0)},
                    ParseCase{"07 Sep 102 10:00 GMT", Local(2002, 9, 7, 12, 0, 0)},
                    // Texts that cannot be read give the current time.
                    ParseCase{"Sat, 07 Sep 2002 00:00:01 ", kNowInBerlin},
                    ParseCase{"Sat, 07 Sep 2002 10:00 +01:00", kNowInBerlin},
                    ParseCase{"Sat 07 Sep 2002 10:00 GMT", kNowInBerlin},
                    ParseCase{"07 September 2002 10:00 GMT", kNowInBerlin},
                    ParseCase{"07-Sep-2002 10:00 GMT", kNowInBerlin},
                    ParseCase{"07 Sep 2002 10.00 GMT", kNowInBerlin},
                    ParseCase{"31 Feb 2002 10:00 GMT", kNowInBerlin},
                    ParseCase{"07 Sep 2002 24:00 GMT", kNowInBerlin},
                    ParseCase{"07 Sep 2002 10:00:60 GMT", kNowInBerlin},
                    ParseCase{"07 Sep 0 10:00 GMT", Local(2000, 9, 7, 12, 0, 0)},
                    ParseCase{"07 Sep 99999999999 10:00 GMT", kNowInBerlin},
                    ParseCase{"", kNowInBerlin}, ParseCase{"garbage", kNowInBerlin}));

class W3CTest : public testing::TestWithParam<ParseCase> {};

TEST_P(W3CTest, ReadsTheDateAsLocalTimeWithTheOffsetOfThatInstant) {
    FixedZone berlin("Europe/Berlin");
    FixedNow now(kNow);
    EXPECT_EQ(Show(ParseW3CDateTime(GetParam().text)), Show(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, W3CTest,
    testing::Values(ParseCase{"2003-12-13T18:30:02Z", Local(2003, 12, 13, 19, 30, 2)},
                    ParseCase{"2003-12-13T18:30:02.25Z", Local(2003, 12, 13, 19, 30, 2)},
                    ParseCase{"2003-12-13T19:30:02+01:00", Local(2003, 12, 13, 19, 30, 2)},
                    ParseCase{"2003-12-13T13:30:02-05:00", Local(2003, 12, 13, 19, 30, 2)},
                    ParseCase{"2003-12-13T23:30:00-01:00", Local(2003, 12, 14, 1, 30, 0)},
                    ParseCase{"2003-07-13T18:30:02Z", Local(2003, 7, 13, 20, 30, 2)},
                    // Times without seconds, and without a zone (taken as UTC).
                    ParseCase{"2003-12-13T18:30Z", Local(2003, 12, 13, 19, 30, 0)},
                    ParseCase{"2003-12-13T18:30+01:00", Local(2003, 12, 13, 18, 30, 0)},
                    ParseCase{"2003-12-13T18:30:02", Local(2003, 12, 13, 19, 30, 2)},
                    ParseCase{"2003-12-13T18:30", Local(2003, 12, 13, 19, 30, 0)},
                    // Dates without a time name a calendar day: local midnight.
                    ParseCase{"2003-12-13", Local(2003, 12, 13, 0, 0, 0)},
                    ParseCase{"2003-12", Local(2003, 12, 1, 0, 0, 0)},
                    ParseCase{"2003", Local(2003, 1, 1, 0, 0, 0)},
                    ParseCase{" 2003-12-13T18:30:02Z", Local(2003, 12, 13, 19, 30, 2)},
                    // Texts that cannot be read give the current time.
                    ParseCase{"2003-12-13T18:30:02+0100", kNowInBerlin},
                    ParseCase{"2003-12-13 18:30:02Z", kNowInBerlin},
                    ParseCase{"2003-12-13t18:30:02z", kNowInBerlin},
                    ParseCase{"2003-13-13", kNowInBerlin}, ParseCase{"2003-02-30", kNowInBerlin},
                    ParseCase{"2003-12-13T25:00Z", kNowInBerlin},
                    ParseCase{"13.12.2003", kNowInBerlin},
                    ParseCase{"2003-12-13T18:30:02.x5Z", kNowInBerlin},
                    ParseCase{"2003-12-13T18:30:02+01:0a", kNowInBerlin},
                    ParseCase{"2003-12-", kNowInBerlin}, ParseCase{"", kNowInBerlin}));

struct FormatCase {
    const char* zone;
    double local;
    const char* rfc822;
    const char* w3c;
};

void PrintTo(const FormatCase& c, std::ostream* os) {
    *os << c.zone << ' ' << c.rfc822;
}

class FormatTest : public testing::TestWithParam<FormatCase> {};

TEST_P(FormatTest, WritesTheLocalTimeWithItsOffset) {
    FixedZone zone(GetParam().zone);
    EXPECT_EQ(FormatRfc822DateTime(GetParam().local), GetParam().rfc822);
    EXPECT_EQ(FormatW3CDateTime(GetParam().local), GetParam().w3c);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FormatTest,
    testing::Values(FormatCase{"Europe/Berlin", Local(2003, 9, 7, 10, 5, 9),
                               "Sun, 07 Sep 2003 10:05:09 +0200", "2003-09-07T10:05:09+02:00"},
                    FormatCase{"Europe/Berlin", Local(2003, 12, 7, 10, 5, 9),
                               "Sun, 07 Dec 2003 10:05:09 +0100", "2003-12-07T10:05:09+01:00"},
                    FormatCase{"Etc/GMT+5", Local(2003, 9, 7, 10, 5, 9),
                               "Sun, 07 Sep 2003 10:05:09 -0500", "2003-09-07T10:05:09-05:00"},
                    FormatCase{"Asia/Kolkata", Local(2024, 2, 29, 23, 59, 59),
                               "Thu, 29 Feb 2024 23:59:59 +0530", "2024-02-29T23:59:59+05:30"},
                    FormatCase{"America/St_Johns", Local(2024, 1, 1, 0, 0, 0),
                               "Mon, 01 Jan 2024 00:00:00 -0330", "2024-01-01T00:00:00-03:30"},
                    FormatCase{"UTC", Local(1999, 12, 31, 23, 59, 59),
                               "Fri, 31 Dec 1999 23:59:59 +0000", "1999-12-31T23:59:59+00:00"}));

TEST(InternetDateTimeTest, FormattedDatesReadBackToTheSameMoment) {
    FixedZone zone("America/New_York");
    for (const double local : {Local(2003, 9, 7, 10, 5, 9), Local(2003, 12, 7, 23, 0, 1),
                               Local(2024, 3, 10, 12, 0, 0), Local(1970, 1, 1, 0, 0, 0)}) {
        EXPECT_EQ(Show(ParseRfc822DateTime(FormatRfc822DateTime(local))), Show(local));
        EXPECT_EQ(Show(ParseW3CDateTime(FormatW3CDateTime(local))), Show(local));
    }
}

TEST(InternetDateTimeTest, LocalZoneOffsetNowFollowsTheClock) {
    FixedZone berlin("Europe/Berlin");
    {
        FixedNow summer("2021-07-01T12:00:00Z");
        const TZoneOffset offset = LocalZoneOffset();
        EXPECT_EQ(offset.Sign, 1);
        EXPECT_EQ(offset.Hours, 2);
        EXPECT_EQ(offset.Minutes, 0);
        EXPECT_EQ(LocalZoneText(true), "+0200");
    }
    {
        FixedNow winter("2021-01-01T12:00:00Z");
        EXPECT_EQ(LocalZoneText(false), "+01:00");
    }
    FixedZone west("America/Los_Angeles");
    FixedNow winter("2021-01-01T12:00:00Z");
    EXPECT_EQ(LocalZoneOffset().Sign, -1);
    EXPECT_EQ(LocalZoneText(true), "-0800");
}

} // namespace

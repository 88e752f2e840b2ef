#include "shell/Clock.h"

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>
#include <limits>

namespace {

struct DayCase {
    QDate date;
    QTime time;
    double days;
};

class DayNumberTest : public testing::TestWithParam<DayCase> {};

TEST_P(DayNumberTest, CalendarPartsAndDayNumbersConvertBothWays) {
    EXPECT_DOUBLE_EQ(EncodeDays(GetParam().date, GetParam().time), GetParam().days);
    QDate date;
    QTime time;
    DecodeDays(GetParam().days, &date, &time);
    EXPECT_EQ(date, GetParam().date);
    EXPECT_EQ(time, GetParam().time);
}

INSTANTIATE_TEST_SUITE_P(Cases, DayNumberTest,
                         testing::Values(DayCase{QDate(1899, 12, 30), QTime(0, 0), 0.0},
                                         DayCase{QDate(1900, 1, 1), QTime(6, 0), 2.25},
                                         DayCase{QDate(1899, 12, 29), QTime(6, 0), -1.25},
                                         DayCase{QDate(1899, 12, 30), QTime(18, 0), 0.75},
                                         DayCase{QDate(2000, 1, 1), QTime(0, 0), 36526.0},
                                         DayCase{QDate(2002, 9, 7), QTime(12, 0), 37506.5}));

TEST(DayNumberTest, MillisecondsSurviveTheRoundTrip) {
    const QTime time(23, 59, 59, 999);
    QTime decoded;
    DecodeDays(EncodeDays(QDate(2024, 2, 29), time), nullptr, &decoded);
    EXPECT_EQ(decoded, time);
}

TEST(DayNumberTest, ValuesOutsideTheCalendarComeToItsEnds) {
    QDate date;
    DecodeDays(1e300, &date, nullptr);
    EXPECT_EQ(date, QDate(9999, 12, 31));
    DecodeDays(-1e300, &date, nullptr);
    EXPECT_EQ(date, QDate(1, 1, 1));
    DecodeDays(std::numeric_limits<double>::quiet_NaN(), &date, nullptr);
    EXPECT_EQ(date, QDate(1899, 12, 30));
    DecodeDays(std::numeric_limits<double>::infinity(), &date, nullptr);
    EXPECT_EQ(date, QDate(9999, 12, 31));
}

class ClockTest : public testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "Europe/Berlin", 1);
        tzset();
    }
    void TearDown() override {
        qunsetenv("QUILLMAR_NOW");
        unsetenv("TZ");
        tzset();
    }
};

TEST_F(ClockTest, FixedMomentStopsTheClock) {
    qputenv("QUILLMAR_NOW", "2024-03-01T12:00:00Z");
    EXPECT_DOUBLE_EQ(NowLocal(), EncodeDays(QDate(2024, 3, 1), QTime(13, 0)));
    EXPECT_EQ(NowDateTime(), QDateTime(QDate(2024, 3, 1), QTime(12, 0), Qt::UTC));
    EXPECT_EQ(NowDateTime().timeSpec(), Qt::LocalTime);
}

TEST_F(ClockTest, FixedMomentWithoutZoneIsLocalTime) {
    qputenv("QUILLMAR_NOW", "2024-07-01T08:30:15");
    EXPECT_DOUBLE_EQ(NowLocal(), EncodeDays(QDate(2024, 7, 1), QTime(8, 30, 15)));
}

TEST_F(ClockTest, FixedMomentWithOffsetIsConverted) {
    qputenv("QUILLMAR_NOW", "2024-07-01T08:30:15-04:00");
    EXPECT_DOUBLE_EQ(NowLocal(), EncodeDays(QDate(2024, 7, 1), QTime(14, 30, 15)));
}

TEST_F(ClockTest, UnreadableFixedMomentLeavesTheClockRunning) {
    qputenv("QUILLMAR_NOW", "yesterday");
    const double real = DateTimeToDays(QDateTime::currentDateTime());
    EXPECT_LT(std::fabs(NowLocal() - real), 1.0);
}

TEST_F(ClockTest, DateTimesOfAnyZoneBecomeLocalDayNumbers) {
    const QDateTime utc(QDate(2024, 1, 15), QTime(23, 30), Qt::UTC);
    EXPECT_DOUBLE_EQ(DateTimeToDays(utc), EncodeDays(QDate(2024, 1, 16), QTime(0, 30)));
    EXPECT_EQ(DaysToDateTime(DateTimeToDays(utc)), utc);
}

TEST_F(ClockTest, PinnedZoneIsTheSystemsOwnAndAChosenZoneStays) {
    PinLocalTimeZone();
    EXPECT_EQ(qgetenv("TZ"), QByteArray("Europe/Berlin"));
    unsetenv("TZ");
    PinLocalTimeZone();
    EXPECT_EQ(qgetenv("TZ"), QByteArray(":/etc/localtime"));
}

} // namespace

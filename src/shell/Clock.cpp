#include "shell/Clock.h"

#include <QtGlobal>
#include <cmath>

namespace {

constexpr qint64 kMillisecondsPerDay = 24 * 60 * 60 * 1000;

QDate DayZero() {
    return QDate(1899, 12, 30);
}

// 1 January of the year 1 and 31 December 9999, the range the calendar parts can hold.
double FirstDay() {
    return double(DayZero().daysTo(QDate(1, 1, 1)));
}
double LastDay() {
    return double(DayZero().daysTo(QDate(9999, 12, 31))) +
           double(kMillisecondsPerDay - 1) / kMillisecondsPerDay;
}

} // namespace

double EncodeDays(QDate date, QTime time) {
    const double day = double(DayZero().daysTo(date));
    const double fraction =
        double(time.isValid() ? time.msecsSinceStartOfDay() : 0) / kMillisecondsPerDay;
    return day < 0 ? day - fraction : day + fraction;
}

void DecodeDays(double days, QDate* date, QTime* time) {
    if (std::isnan(days))
        days = 0;
    days = qBound(FirstDay(), days, LastDay());
    double whole = std::trunc(days);
    qint64 milliseconds = std::llround(std::fabs(days - whole) * kMillisecondsPerDay);
    if (milliseconds >= kMillisecondsPerDay) {
        // Rounded up to the next midnight.
        milliseconds = 0;
        whole += 1;
    }
    if (date)
        *date = DayZero().addDays(qint64(whole));
    if (time)
        *time = QTime::fromMSecsSinceStartOfDay(int(milliseconds));
}

double DateTimeToDays(const QDateTime& dateTime) {
    const QDateTime local = dateTime.toLocalTime();
    return EncodeDays(local.date(), local.time());
}

QDateTime DaysToDateTime(double days) {
    QDate date;
    QTime time;
    DecodeDays(days, &date, &time);
    return QDateTime(date, time, Qt::LocalTime);
}

QDateTime NowDateTime() {
    const QString fixed = qEnvironmentVariable("QUILLMAR_NOW");
    if (!fixed.isEmpty()) {
        const QDateTime moment = QDateTime::fromString(fixed, Qt::ISODateWithMs);
        if (moment.isValid())
            return moment.toLocalTime();
    }
    return QDateTime::currentDateTime();
}

double NowLocal() {
    return DateTimeToDays(NowDateTime());
}

void PinLocalTimeZone() {
    if (!qEnvironmentVariableIsSet("TZ"))
        qputenv("TZ", ":/etc/localtime");
}

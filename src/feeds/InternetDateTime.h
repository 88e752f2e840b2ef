#pragma once
// Dates as feeds write them: RFC 822 (RSS "pubDate", "lastBuildDate") and the W3C profile
// of ISO 8601 (Dublin Core "dc:date", Atom). Parsed dates become the program's local
// date-times (days since 30 December 1899, see shell/Clock.h), converted with the
// zone offset in force at that instant, so a date across a daylight-saving change is
// not an hour off. Parsing never fails: a text that cannot be read gives the current
// local time.

#include <QByteArray>
#include <QByteArrayView>
#include <QtGlobal>

// The fields read from a date text, before they are converted.
struct TDateTimeParts {
    qint32 Day = 0;
    qint32 Month = 0;
    qint32 Year = 0;
    qint32 Hour = 0;
    qint32 Minute = 0;
    qint32 Second = 0;
    // 0 "ut"/"gmt", 1 "edt", 2 "est", 3 "cdt", 4 "cst", 5 "mdt", 6 "mst", 7 "pdt",
    // 8 "pst", 9 "z", 10 "a", 11 "m", 12 "n", 13 "y", 14 numeric.
    quint8 ZoneKind = 14;
    qint32 ZoneHours = 0;   // of a numeric offset, signed
    qint32 ZoneMinutes = 0; // of a numeric offset, with the same sign
};

// The offset of local time from UTC.
struct TZoneOffset {
    int Sign = 1; // +1 east of UTC (and at UTC), -1 west
    int Hours = 0;
    int Minutes = 0;
};

// "Sat, 07 Sep 2002 00:00:01 GMT", "07 Sep 02 10:30 +0100". Two-digit years are those
// of RFC 2822: 00 to 49 are 2000 to 2049, 50 to 99 are 1950 to 1999.
double ParseRfc822DateTime(QByteArrayView text);
// "2003-12-13T18:30:02.25Z", "2003-12-13T19:30+01:00", "2003-12-13" (local midnight).
double ParseW3CDateTime(QByteArrayView text);

// "Sun, 07 Sep 2003 10:05:09 +0200", with the offset in force at that local time.
QByteArray FormatRfc822DateTime(double localDateTime);
// "2003-09-07T10:05:09+02:00", with the offset in force at that local time.
QByteArray FormatW3CDateTime(double localDateTime);

// The local offset now, or at a local date-time.
TZoneOffset LocalZoneOffset();
TZoneOffset LocalZoneOffset(double localDateTime);
// "+0200" (compact) or "+02:00"; "-" for offsets west of UTC.
QByteArray LocalZoneText(bool compact);
QByteArray LocalZoneText(bool compact, double localDateTime);

#pragma once
// The program's one clock, and its date-time values: local time counted in days since
// 30 December 1899, with the time of day as the fraction (6 a.m. on 1 January 1900 is
// 2.25). Days before that date count down while their time of day still counts forward,
// so 6 a.m. on 29 December 1899 is -1.25.
//
// Every "now" of the program comes from here, so that tests can fix it: the environment
// variable QUILLMAR_NOW, an ISO 8601 date-time ("2024-03-01T12:00:00Z", with an offset,
// or without one for local time), stops the clock at that moment.

#include <QDate>
#include <QDateTime>
#include <QTime>

// The current local date-time as a day number.
double NowLocal();
// The current date-time in local time.
QDateTime NowDateTime();

// A date-time (of any zone) as a local day number.
double DateTimeToDays(const QDateTime& dateTime);
// A local day number as a local date-time. Values outside the years 1 to 9999 (and
// values that are not numbers) are brought to the nearest end of that range.
QDateTime DaysToDateTime(double days);

// The calendar parts as a day number, without any time-zone conversion.
double EncodeDays(QDate date, QTime time);
// The calendar parts of a day number, with the same range rule as DaysToDateTime.
void DecodeDays(double days, QDate* date, QTime* time);

// Local time conversions ask the C library for the zone every time, and with TZ unset it
// checks /etc/localtime on the file system at each call: one system call per date, more
// than reading the date costs. Naming that same file in TZ once, at start-up, keeps the
// zone and drops the calls (a change of the system's zone is seen at the next start).
// Does nothing when TZ is set, even to an empty text.
void PinLocalTimeZone();

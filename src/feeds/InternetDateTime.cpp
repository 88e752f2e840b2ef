#include "feeds/InternetDateTime.h"

#include "shell/Clock.h"

#include <QDateTime>
#include <QString>
#include <initializer_list>
#include <iterator>
#include <optional>

namespace {

bool IsWhitespace(char c) {
    return c == ' ' || (c >= 9 && c <= 13);
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// A run of digits as a number; none when it is empty or too long to be a date field.
std::optional<qint32> DigitsValue(QByteArrayView digits) {
    if (digits.isEmpty() || digits.size() > 9)
        return std::nullopt;
    qint32 value = 0;
    for (const char c : digits) {
        if (!IsDigit(c))
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

// A sign followed by digits; 0 when the characters do not form a number.
qint32 SignedValue(char sign, QByteArrayView digits) {
    const qint32 value = DigitsValue(digits).value_or(0);
    return sign == '-' ? -value : value;
}

struct NamedValue {
    QByteArrayView name;
    int value;
};

std::optional<int> Lookup(QByteArrayView name, std::initializer_list<NamedValue> table) {
    const QByteArray lower = name.toByteArray().toLower();
    for (const NamedValue& entry : table) {
        if (entry.name == lower)
            return entry.value;
    }
    return std::nullopt;
}

std::optional<int> MonthNumber(QByteArrayView name) {
    return Lookup(name, {{"jan", 1},
                         {"feb", 2},
                         {"mar", 3},
                         {"apr", 4},
                         {"may", 5},
                         {"jun", 6},
                         {"jul", 7},
                         {"aug", 8},
                         {"sep", 9},
                         {"oct", 10},
                         {"nov", 11},
                         {"dec", 12}});
}

std::optional<int> ZoneKind(QByteArrayView name) {
    return Lookup(name, {{"ut", 0},
                         {"gmt", 0},
                         {"edt", 1},
                         {"est", 2},
                         {"cdt", 3},
                         {"cst", 4},
                         {"mdt", 5},
                         {"mst", 6},
                         {"pdt", 7},
                         {"pst", 8},
                         {"z", 9},
                         {"a", 10},
                         {"m", 11},
                         {"n", 12},
                         {"y", 13}});
}

// The zone's offset from UTC in minutes.
int ZoneOffsetMinutes(const TDateTimeParts& parts) {
    static constexpr int kHours[] = {0, -4, -5, -5, -6, -6, -7, -7, -8, 0, -1, -12, 1, 12};
    if (parts.ZoneKind < std::size(kHours))
        return kHours[parts.ZoneKind] * 60;
    return parts.ZoneHours * 60 + parts.ZoneMinutes;
}

// RFC 2822: a two-digit year is 2000 to 2049 or 1950 to 1999, a three-digit one 1900 on.
qint32 ExpandYear(qint32 year, qsizetype digits) {
    if (digits <= 2)
        return year < 50 ? 2000 + year : 1900 + year;
    if (digits == 3)
        return 1900 + year;
    return year;
}

// The parts as a local date-time; none when they do not form a valid date and time.
std::optional<double> ToLocal(const TDateTimeParts& parts, bool dateOnly) {
    const QDate date(parts.Year, parts.Month, parts.Day);
    const QTime time(parts.Hour, parts.Minute, parts.Second);
    if (!date.isValid() || parts.Year < 1 || parts.Year > 9999 || !time.isValid())
        return std::nullopt;
    // A day without a time names a calendar day, wherever the reader is.
    if (dateOnly)
        return EncodeDays(date, QTime(0, 0));
    const QDateTime utc =
        QDateTime(date, time, Qt::UTC).addSecs(-qint64(ZoneOffsetMinutes(parts)) * 60);
    return DateTimeToDays(utc.toLocalTime());
}

std::optional<double> ReadRfc822(QByteArrayView text) {
    enum class State {
        Start,
        Weekday,
        Day,
        MonthName,
        Year,
        Hour,
        Minute,
        Second,
        BeforeZone,
        AlphaZone,
        NumericZone
    };
    TDateTimeParts parts;
    State state = State::Start;
    QByteArray token;
    // Stores the collected digits in a field; false when they are no number.
    const auto store = [&token](qint32& field) {
        const auto value = DigitsValue(token);
        token.clear();
        if (value)
            field = *value;
        return value.has_value();
    };
    const auto storeYear = [&]() {
        const qsizetype digits = token.size();
        if (!store(parts.Year))
            return false;
        parts.Year = ExpandYear(parts.Year, digits);
        return true;
    };

    qsizetype i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (IsWhitespace(c) && token.isEmpty()) {
            ++i;
            continue;
        }
        switch (state) {
        case State::Start:
            state = IsDigit(c) ? State::Day : State::Weekday;
            continue; // examined again in the new state
        case State::Weekday:
            if (c == ',')
                state = State::Day;
            ++i;
            continue;
        case State::Day:
        case State::Year:
            if (IsDigit(c)) {
                token += c;
            } else if (IsWhitespace(c)) {
                if (state == State::Day ? !store(parts.Day) : !storeYear())
                    return std::nullopt;
                state = state == State::Day ? State::MonthName : State::Hour;
            } else {
                return std::nullopt;
            }
            ++i;
            continue;
        case State::MonthName:
            if (IsWhitespace(c)) {
                const auto month = MonthNumber(token);
                if (!month)
                    return std::nullopt;
                parts.Month = *month;
                token.clear();
                state = State::Year;
            } else {
                token += c;
            }
            ++i;
            continue;
        case State::Hour:
            if (IsDigit(c)) {
                token += c;
            } else if (c == ':' && store(parts.Hour)) {
                state = State::Minute;
            } else {
                return std::nullopt;
            }
            ++i;
            continue;
        case State::Minute:
            if (IsDigit(c)) {
                token += c;
                ++i;
            } else if (c == ':' && store(parts.Minute)) {
                state = State::Second;
                ++i;
            } else if ((IsWhitespace(c) || c == '+' || c == '-') && store(parts.Minute)) {
                // A sign right after the minutes ("10:30+0100") starts the zone.
                state = State::BeforeZone;
            } else {
                return std::nullopt;
            }
            continue;
        case State::Second:
            if (IsDigit(c)) {
                token += c;
                ++i;
            } else if ((IsWhitespace(c) || c == '+' || c == '-') && store(parts.Second)) {
                state = State::BeforeZone;
            } else {
                return std::nullopt;
            }
            continue;
        case State::BeforeZone:
            state = c == '+' || c == '-' ? State::NumericZone : State::AlphaZone;
            continue;
        case State::AlphaZone:
        case State::NumericZone:
            token += c;
            ++i;
            continue;
        }
    }

    if (token.isEmpty())
        return std::nullopt;
    switch (state) {
    case State::AlphaZone:
        // An unknown zone name counts as UTC.
        if (const auto kind = ZoneKind(token))
            parts.ZoneKind = quint8(*kind);
        break;
    case State::NumericZone:
        if (token.size() != 5)
            return std::nullopt;
        parts.ZoneHours = SignedValue(token[0], token.sliced(1, 2));
        parts.ZoneMinutes = SignedValue(token[0], token.sliced(3, 2));
        break;
    // A text ending in a field without a zone: the field is kept, the time is UTC.
    case State::Day:
        store(parts.Day);
        break;
    case State::Year:
        storeYear();
        break;
    case State::Hour:
        store(parts.Hour);
        break;
    case State::Minute:
        store(parts.Minute);
        break;
    case State::Second:
        store(parts.Second);
        break;
    default:
        return std::nullopt;
    }
    return ToLocal(parts, false);
}

std::optional<double> ReadW3C(QByteArrayView text) {
    enum class State { Year, Month, Day, Hour, Minute, Second, Fraction, ZoneStart, ZoneOffset };
    TDateTimeParts parts;
    State state = State::Year;
    QByteArray token;
    const auto store = [&token](qint32& field) {
        const auto value = DigitsValue(token);
        token.clear();
        if (value)
            field = *value;
        return value.has_value();
    };
    const auto startsZone = [](char c) { return c == '+' || c == '-' || c == 'Z'; };

    qsizetype i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (IsWhitespace(c) && token.isEmpty()) {
            ++i;
            continue;
        }
        if (state == State::ZoneStart) {
            if (c == '+' || c == '-') {
                token = QByteArray(1, c);
                state = State::ZoneOffset;
            }
            ++i; // anything else (the "Z") is passed over
            continue;
        }
        if (state == State::ZoneOffset) {
            if (!IsDigit(c) && c != ':')
                return std::nullopt;
            token += c;
            ++i;
            continue;
        }
        if (state == State::Fraction) {
            if (startsZone(c))
                state = State::ZoneStart;
            else if (IsDigit(c))
                ++i;
            else
                return std::nullopt;
            continue;
        }
        if (IsDigit(c)) {
            token += c;
            ++i;
            continue;
        }
        switch (state) {
        case State::Year:
            if (c != '-' || !store(parts.Year))
                return std::nullopt;
            state = State::Month;
            break;
        case State::Month:
            if (c != '-' || !store(parts.Month))
                return std::nullopt;
            state = State::Day;
            break;
        case State::Day:
            if (c != 'T' || !store(parts.Day))
                return std::nullopt;
            state = State::Hour;
            break;
        case State::Hour:
            if (c != ':' || !store(parts.Hour))
                return std::nullopt;
            state = State::Minute;
            break;
        case State::Minute:
            if (c == ':' && store(parts.Minute)) {
                state = State::Second;
                break;
            }
            // Times without seconds ("18:30Z") are read too.
            if (startsZone(c) && store(parts.Minute)) {
                state = State::ZoneStart;
                continue;
            }
            return std::nullopt;
        case State::Second:
            if (c == '.' && store(parts.Second)) {
                state = State::Fraction;
                break;
            }
            if (startsZone(c) && store(parts.Second)) {
                state = State::ZoneStart;
                continue;
            }
            return std::nullopt;
        default:
            return std::nullopt;
        }
        ++i;
    }

    bool dateOnly = false;
    switch (state) {
    case State::ZoneOffset:
        if (token.size() != 6)
            return std::nullopt;
        parts.ZoneHours = SignedValue(token[0], token.sliced(1, 2));
        parts.ZoneMinutes = SignedValue(token[0], token.sliced(4, 2));
        break;
    case State::ZoneStart:
        parts.ZoneKind = 0;
        break;
    // The reduced forms "2003", "2003-12" and "2003-12-13" name a calendar day.
    case State::Year:
        store(parts.Year);
        parts.Month = 1;
        parts.Day = 1;
        dateOnly = true;
        break;
    case State::Month:
        store(parts.Month);
        parts.Day = 1;
        dateOnly = true;
        break;
    case State::Day:
        store(parts.Day);
        dateOnly = true;
        break;
    // A time without a zone is taken as UTC.
    case State::Hour:
        store(parts.Hour);
        break;
    case State::Minute:
        store(parts.Minute);
        break;
    case State::Second:
        store(parts.Second);
        break;
    case State::Fraction:
        break;
    }
    return ToLocal(parts, dateOnly);
}

QByteArray ZoneText(const TZoneOffset& offset, bool compact) {
    const char sign = offset.Sign < 0 ? '-' : '+';
    if (compact)
        return sign + QString::asprintf("%.4d", offset.Hours * 100 + offset.Minutes).toLatin1();
    return sign + QString::asprintf("%.2d:%.2d", offset.Hours, offset.Minutes).toLatin1();
}

TZoneOffset OffsetOf(const QDateTime& local) {
    const int seconds = local.offsetFromUtc();
    TZoneOffset offset;
    offset.Sign = seconds < 0 ? -1 : 1;
    const int minutes = qAbs(seconds) / 60;
    offset.Hours = minutes / 60;
    offset.Minutes = minutes % 60;
    return offset;
}

} // namespace

// The clock is asked only when the text is unreadable: value_or would ask it for every
// date, and asking costs more than parsing.
double ParseRfc822DateTime(QByteArrayView text) {
    if (const std::optional<double> date = ReadRfc822(text))
        return *date;
    return NowLocal();
}

double ParseW3CDateTime(QByteArrayView text) {
    if (const std::optional<double> date = ReadW3C(text))
        return *date;
    return NowLocal();
}

TZoneOffset LocalZoneOffset() {
    return OffsetOf(NowDateTime());
}

TZoneOffset LocalZoneOffset(double localDateTime) {
    return OffsetOf(DaysToDateTime(localDateTime));
}

QByteArray LocalZoneText(bool compact) {
    return ZoneText(LocalZoneOffset(), compact);
}

QByteArray LocalZoneText(bool compact, double localDateTime) {
    return ZoneText(LocalZoneOffset(localDateTime), compact);
}

QByteArray FormatRfc822DateTime(double localDateTime) {
    static const char* const kWeekdays[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    QDate date;
    QTime time;
    DecodeDays(localDateTime, &date, &time);
    return QString::asprintf("%s, %.2d %s %.4d %.2d:%.2d:%.2d %s", kWeekdays[date.dayOfWeek() - 1],
                             date.day(), kMonths[date.month() - 1], date.year(), time.hour(),
                             time.minute(), time.second(),
                             LocalZoneText(true, localDateTime).constData())
        .toLatin1();
}

QByteArray FormatW3CDateTime(double localDateTime) {
    QDate date;
    QTime time;
    DecodeDays(localDateTime, &date, &time);
    return QString::asprintf("%.4d-%.2d-%.2dT%.2d:%.2d:%.2d%s", date.year(), date.month(),
                             date.day(), time.hour(), time.minute(), time.second(),
                             LocalZoneText(false, localDateTime).constData())
        .toLatin1();
}

#include "registry/DateTime.h"

#include <array>
#include <cmath>

namespace {

constexpr qint64 kMillisecondsPerDay = 86'400'000;

// A function, not a global: callers may run during the start-up of other globals.
QDate epoch() {
    return QDate(1899, 12, 30);
}

// The program's dates are read back and shown as stored, so their month names are the
// same on every desktop, whatever language the user runs.
constexpr std::array<const char*, 12> kMonthNames = {
    "January", "February", "March",     "April",   "May",      "June",
    "July",    "August",   "September", "October", "November", "December"};

std::string monthName(int month, bool full) {
    if (month < 1 || month > 12) // no date at all
        return {};
    const std::string name = kMonthNames[size_t(month - 1)];
    return full ? name : name.substr(0, 3);
}

// ASCII only: the host's locale must not change how a pattern reads.
char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

std::string twoDigits(int n) {
    return n < 10 ? "0" + std::to_string(n) : std::to_string(n);
}

bool startsWithNoCase(std::string_view text, size_t at, std::string_view word) {
    if (text.size() - at < word.size())
        return false;
    for (size_t i = 0; i < word.size(); ++i)
        if (lowerAscii(text[at + i]) != word[i])
            return false;
    return true;
}

size_t runLength(std::string_view text, size_t at) {
    const char c = lowerAscii(text[at]);
    size_t n = 0;
    while (at + n < text.size() && lowerAscii(text[at + n]) == c)
        ++n;
    return n;
}

} // namespace

TDateTime DateTimeFromQDateTime(const QDateTime& time) {
    const qint64 days = epoch().daysTo(time.date());
    const double fraction =
        static_cast<double>(time.time().msecsSinceStartOfDay()) / kMillisecondsPerDay;
    // Before the epoch the fraction counts forward from the negative day, as stored.
    return days >= 0 ? static_cast<double>(days) + fraction : static_cast<double>(days) - fraction;
}

QDateTime QDateTimeFromDateTime(TDateTime time) {
    // A stored value from a damaged file may be no date at all (NaN, 1e300).
    constexpr double kLastDay = 2958465.99999999; // 31 December 9999
    constexpr double kFirstDay = -693593.0;       // 1 January 0001
    if (!std::isfinite(time) || time > kLastDay || time < kFirstDay)
        return QDateTime();
    const double whole = std::trunc(time);
    const double fraction = std::fabs(time - whole);
    qint64 ms = std::llround(fraction * kMillisecondsPerDay);
    qint64 days = static_cast<qint64>(whole);
    if (ms >= kMillisecondsPerDay) { // rounding reached midnight
        ms -= kMillisecondsPerDay;
        days += time >= 0 ? 1 : -1;
    }
    return QDateTime(epoch().addDays(days), QTime::fromMSecsSinceStartOfDay(static_cast<int>(ms)));
}

TDateTime Now() {
    return DateTimeFromQDateTime(QDateTime::currentDateTime());
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second) {
    return DateTimeFromQDateTime(QDateTime(QDate(year, month, day), QTime(hour, minute, second)));
}

std::string FormatDateTime(std::string_view pattern, TDateTime time) {
    const QDateTime moment = QDateTimeFromDateTime(time);
    const QDate date = moment.date();
    const QTime clock = moment.time();
    const bool twelveHour = [&] {
        for (size_t i = 0; i < pattern.size(); ++i)
            if (startsWithNoCase(pattern, i, "am/pm"))
                return true;
        return false;
    }();

    std::string out;
    bool afterHour = false; // "mm" right after an hour means minutes
    for (size_t i = 0; i < pattern.size();) {
        const char c = lowerAscii(pattern[i]);
        if (pattern[i] == '"') {
            const size_t end = pattern.find('"', i + 1);
            const size_t stop = end == std::string_view::npos ? pattern.size() : end;
            out.append(pattern.substr(i + 1, stop - i - 1));
            i = stop + 1;
            continue;
        }
        if (startsWithNoCase(pattern, i, "am/pm")) {
            out += clock.hour() < 12 ? "am" : "pm";
            i += 5;
            continue;
        }
        const size_t n = runLength(pattern, i);
        switch (c) {
        case 'y':
            out += n <= 2 ? twoDigits(date.year() % 100) : std::to_string(date.year());
            break;
        case 'm':
            if (afterHour && n <= 2)
                out += n == 2 ? twoDigits(clock.minute()) : std::to_string(clock.minute());
            else if (n >= 3)
                out += monthName(date.month(), n >= 4);
            else
                out += n == 2 ? twoDigits(date.month()) : std::to_string(date.month());
            break;
        case 'd':
            out += n >= 2 ? twoDigits(date.day()) : std::to_string(date.day());
            break;
        case 'h': {
            int hour = clock.hour();
            if (twelveHour) {
                hour %= 12;
                if (hour == 0)
                    hour = 12;
            }
            out += n >= 2 ? twoDigits(hour) : std::to_string(hour);
            break;
        }
        case 'n':
            out += n >= 2 ? twoDigits(clock.minute()) : std::to_string(clock.minute());
            break;
        case 's':
            out += n >= 2 ? twoDigits(clock.second()) : std::to_string(clock.second());
            break;
        default:
            out.append(pattern.substr(i, n));
            break;
        }
        if (c != ' ' && c != ':' && c != '.')
            afterHour = c == 'h';
        i += n;
    }
    return out;
}

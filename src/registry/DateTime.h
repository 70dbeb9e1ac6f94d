#pragma once
// Dates as the program stores them: days since 30 December 1899, the time of day
// as the fraction. Formatting follows the patterns the program writes
// ("yyyy-mm-dd hh:nn:ss", "mmmm dd,yyyy h:n am/pm", ...).

#include <QDateTime>
#include <string>
#include <string_view>

using TDateTime = double;

// Local wall-clock time, without regard to time zone (as the program stores it).
TDateTime DateTimeFromQDateTime(const QDateTime& time);
// An invalid QDateTime for a value outside the years 1 to 9999, or not a number.
QDateTime QDateTimeFromDateTime(TDateTime time);
TDateTime Now();
TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second);

// Formats `time` by `pattern`, the same on every desktop whatever its language:
//   yyyy year; mm month (minutes right after an hour); mmm and mmmm the month's short
//   and full English name; dd day; hh/h hour; nn/n minute; ss second; "am/pm" selects
//   the 12-hour clock and prints am or pm; ":" the time separator. Other characters are
//   copied, and text in double quotes is copied without its quotes.
std::string FormatDateTime(std::string_view pattern, TDateTime time);

#pragma once
// Text of the store commands: settings-file text is in the ANSI code page, the terminal
// speaks UTF-8; strings are shown and given in double quotes with backslash escapes.

#include "app/AnsiText.h"

#include <QString>
#include <QStringList>
#include <string>
#include <string_view>

class TfxRegFile;

namespace cli {

using app::FromAnsi;
// Throws CommandError when a character has no place in the ANSI code page.
std::string ToAnsi(const QString& text);

// "text" with \\ \" \r \n \t and \xHH for other control characters.
QString QuotedText(std::string_view ansi);

// Splits an operation line into words at spaces and tabs. A word in double quotes may
// hold spaces and the escapes of QuotedText; outside quotes "\" is an ordinary
// character, so key paths need no quoting. Throws CommandError on an unclosed quote.
QStringList SplitOperationLine(const QString& line);

// Days since 30 December 1899 as the shortest decimal that reads back the same number.
QString DaysText(double days);

// The data of a value of the store's current key: a quoted string, a number, true or
// false, days, or the bytes in hex.
QString ValueData(TfxRegFile& store, const std::string& name);

// The same after the type: "string \"...\"", "integer 5", "boolean true", "date-time 45356.5
// (2024-03-05 12:00:00)" for a value of the store's current key.
QString ValueText(TfxRegFile& store, const std::string& name);

} // namespace cli

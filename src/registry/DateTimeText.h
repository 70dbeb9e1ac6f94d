#pragma once
// The text the program stores as the time of the last scan, backup and compaction.

#include "registry/DateTime.h"

#include <string>

// "mmmm dd,yyyy h:n am/pm": "December 08,2026 9:5 pm".
std::string DateTimeToText(TDateTime time);

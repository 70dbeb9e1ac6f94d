#pragma once
// The account names of the security identifiers that name user hives.

#include "win32/base/SecurityTypes.h"

#include <string>

// The account name of a SID text (the domain is not asked for). False when advapi32 or
// its ConvertStringSidToSidW is missing, the text is no SID, or no account has it.
bool SidToAccountName(const std::string& sidText, std::string& accountName, SID_NAME_USE& use);

// The owner of a user hive from the part of its key name after "\REGISTRY\USER\":
// "UNKNOWN" for an empty text, "DEFAULT" for ".DEFAULT", else the account name of the
// SID (a "_Classes" suffix dropped), "SYSTEM" when it has none.
std::string HiveOwnerName(const std::string& sidText);

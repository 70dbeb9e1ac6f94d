#pragma once
// The keys and values the program keeps in its settings file, and their text forms.

inline constexpr char kStoreFileName[] = "system.dat";

// "\Options": the user's choices and the times of the last runs.
inline constexpr char kOptionsKey[] = "\\Options";
inline constexpr char kExclusionsKeyValue[] = "ExclusionsKEY";   // string, lines ending CR LF
inline constexpr char kCanReplaceValue[] = "CanReplace";         // boolean
inline constexpr char kReplaceAmountValue[] = "ReplaceAmount";   // integer
inline constexpr char kAutoRunValue[] = "AutoRun";               // boolean
inline constexpr char kLastScanValue[] = "LastScan";             // string
inline constexpr char kLastBackupValue[] = "LastBackup";         // string
inline constexpr char kLastCompactValue[] = "LastCompact";       // string
inline constexpr char kSelectionItemsValue[] = "SelectionItems"; // string, "0,3,7"

// An exclusion line that covers the keys below it too ends with this, without a space.
inline constexpr char kIncludeSubkeySuffix[] = "(include subkey)";

// "\Restores": one key per restore point, named by the time it was added.
inline constexpr char kRestoresKey[] = "\\Restores";
inline constexpr char kActionValue[] = "Action";            // string
inline constexpr char kBackupNameValue[] = "Backup Name";   // string
inline constexpr char kDateCreatedValue[] = "Date created"; // date-time
inline constexpr char kBackupRegistryAction[] = "Backup Registry";

// Restore keys sort oldest first by this form of their time.
inline constexpr char kRestoreKeyTimeFormat[] = "yyyymmddhhnnss";
inline constexpr char kDateCreatedTextFormat[] = "yyyy-mm-dd hh:nn:ss";

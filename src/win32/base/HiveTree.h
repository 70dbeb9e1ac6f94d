#pragma once
// The registry keeps its keys in the hive format's trees (src/hive); the layer's code
// knows them by these names.

#include "hive/HiveFile.h"
#include "hive/HiveKey.h"

namespace win32 {

using hive::Bytes;
using hive::CompareNames;
using hive::CreateFileAtomically;
using hive::DefaultKeySecurity;
using hive::FileTimeNow;
using hive::HiveFileError;
using hive::HiveKey;
using hive::HiveValue;
using hive::HiveWriteOptions;
using hive::LoadedHive;
using hive::LoadHiveFile;
using hive::NamesEqual;
using hive::ReplaceFileAtomically;
using hive::UpcaseChar;
using hive::UpcaseName;
using hive::WriteHive;

} // namespace win32

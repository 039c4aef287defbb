// Reading the [[readers]], [[services]] and [[processes]] records of the
// current machine (see vqwin/SmartCards.h for their keys).
#pragma once

#include <windef.h>

#include <optional>
#include <string>
#include <vector>

#include "vqwin/Record.h"

namespace vqwin {

// "3B 8F 80" or "3B8F80" -> bytes; characters other than hex digits separate.
std::vector<unsigned char> ParseHexBytes(const std::string& text);

// The reader's PC/SC name: name_hex when given, else name.
std::string ReaderRecordName(const Record& reader);

// The run state (SERVICE_*) of a declared service, or nothing when the
// machine declares no service of that name (compared without case).
std::optional<DWORD> DeclaredServiceState(const std::string& name);

// The record of a declared service, or nullptr.
const Record* ServiceRecord(const std::string& name);

}  // namespace vqwin

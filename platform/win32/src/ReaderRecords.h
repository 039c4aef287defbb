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

// Whether a [[processes]] record is a process of the machine now. A process
// that names its service (service = "SCardSvr") lives and dies with it: it
// exists while that service is in any state but stopped (pending states and
// a pause included, as the service's own process reports them), and not
// while the service is stopped or the machine has no such service. Any other
// process always exists.
bool ProcessListed(const Record& process);

// Whether a process record names the service it belongs to.
bool ProcessOfService(const Record& process);

}  // namespace vqwin

// The smart-card subsystem's reader registry: what SCardIntroduceReaderW and
// SCardForgetReaderW of "WINSCARD.DLL" have done, and switches to make the
// library missing or the introduction refused.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace vqce::smartcard {

struct Event {
  enum Kind { Introduced, Forgotten } kind;
  std::wstring reader;
  std::wstring device;  // device name given at introduction
};

std::map<std::wstring, std::wstring> Readers();  // reader name -> device name
std::vector<Event> History();
void Reset();  // no readers, no history, library present, introductions accepted
// Whether LoadLibraryW finds "WINSCARD.DLL".
void SetLibraryPresent(bool present);
// Whether SCardIntroduceReaderW accepts new readers.
void SetRefuseIntroduce(bool refuse);

}  // namespace vqce::smartcard

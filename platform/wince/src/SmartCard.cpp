// "WINSCARD.DLL": the two reader-registration calls of the smart-card
// subsystem, kept as a table of reader names.
#include "vqce/SmartCard.h"

#include <windows.h>

#include <cstring>
#include <mutex>

#include "vqce/Modules.h"

namespace vqce::smartcard {
namespace {

constexpr LONG kScardSuccess = 0;
constexpr LONG kScardInvalidParameter = static_cast<LONG>(0x80100004u);
constexpr LONG kScardUnknownReader = static_cast<LONG>(0x80100009u);
constexpr LONG kScardDuplicateReader = static_cast<LONG>(0x8010001Bu);
constexpr LONG kScardNoService = static_cast<LONG>(0x8010001Du);

struct State {
  std::mutex mutex;
  std::map<std::wstring, std::wstring> readers;
  std::vector<Event> history;
  bool refuse = false;
};

State& S() {
  static State state;
  return state;
}

LONG IntroduceReader(ULONG_PTR, LPCWSTR reader, LPCWSTR device) {
  if (!reader || !*reader || !device) return kScardInvalidParameter;
  std::lock_guard<std::mutex> lock(S().mutex);
  if (S().refuse) return kScardNoService;
  if (S().readers.count(reader)) return kScardDuplicateReader;
  S().readers[reader] = device;
  S().history.push_back({Event::Introduced, reader, device});
  return kScardSuccess;
}

LONG ForgetReader(ULONG_PTR, LPCWSTR reader) {
  if (!reader) return kScardInvalidParameter;
  std::lock_guard<std::mutex> lock(S().mutex);
  auto it = S().readers.find(reader);
  if (it == S().readers.end()) return kScardUnknownReader;
  S().history.push_back({Event::Forgotten, reader, it->second});
  S().readers.erase(it);
  return kScardSuccess;
}

void* Lookup(const char* name) {
  if (std::strcmp(name, "SCardIntroduceReaderW") == 0) return reinterpret_cast<void*>(&IntroduceReader);
  if (std::strcmp(name, "SCardForgetReaderW") == 0) return reinterpret_cast<void*>(&ForgetReader);
  return nullptr;
}

// The library is there from the start.
const bool g_registered = [] {
  modules::Register(L"WINSCARD.DLL", &Lookup);
  return true;
}();

}  // namespace

std::map<std::wstring, std::wstring> Readers() {
  std::lock_guard<std::mutex> lock(S().mutex);
  return S().readers;
}

std::vector<Event> History() {
  std::lock_guard<std::mutex> lock(S().mutex);
  return S().history;
}

void Reset() {
  {
    std::lock_guard<std::mutex> lock(S().mutex);
    S().readers.clear();
    S().history.clear();
    S().refuse = false;
  }
  SetLibraryPresent(true);
}

void SetLibraryPresent(bool present) {
  if (present) {
    modules::Register(L"WINSCARD.DLL", &Lookup);
  } else {
    modules::Unregister(L"WINSCARD.DLL");
  }
}

void SetRefuseIntroduce(bool refuse) {
  std::lock_guard<std::mutex> lock(S().mutex);
  S().refuse = refuse;
}

}  // namespace vqce::smartcard

// The smart-card resource manager (WINSCARD) over the readers a machine
// declares: contexts, the reader list, status queries, connections and the
// ATR attribute, with the errors, the slow or silent status queries a
// machine can script (vqwin/SmartCards.h).
#include <windows.h>
#include <winscard.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <vector>

#include "ReaderRecords.h"
#include "Text.h"
#include "vqwin/Clock.h"
#include "vqwin/Machine.h"
#include "vqwin/SmartCards.h"

namespace vqwin {

std::vector<unsigned char> ParseHexBytes(const std::string& text) {
  std::vector<unsigned char> bytes;
  int high = -1;
  for (char c : text) {
    int v = -1;
    if (c >= '0' && c <= '9') v = c - '0';
    else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
    if (v < 0) {
      high = -1;  // a separator ends a lone digit
      continue;
    }
    if (high < 0) {
      high = v;
    } else {
      bytes.push_back(static_cast<unsigned char>(high * 16 + v));
      high = -1;
    }
  }
  return bytes;
}

std::string ReaderRecordName(const Record& reader) {
  if (reader.Has("name_hex")) {
    const auto bytes = ParseHexBytes(reader.Str("name_hex"));
    return std::string(bytes.begin(), bytes.end());
  }
  return reader.Str("name");
}

namespace {

struct Connection {
  SCARDCONTEXT context = 0;
  std::string reader;
};

struct ResourceManager {
  std::mutex mutex;
  std::condition_variable changed;
  std::set<SCARDCONTEXT> contexts;
  std::set<SCARDCONTEXT> cancelled;
  std::map<SCARDHANDLE, Connection> cards;
  ULONG_PTR next = 0xCD000;
  int blocked = 0;
};

ResourceManager& Rm() {
  static ResourceManager rm;
  return rm;
}

const Record* PcscTable() {
  const auto& extra = CurrentMachine().spec().extra;
  auto it = extra.find("pcsc");
  return it == extra.end() ? nullptr : &it->second;
}

LONG PcscError(const char* key) {
  const Record* t = PcscTable();
  return t ? static_cast<LONG>(t->Int(key, 0)) : 0;
}

const Record* FindReader(const std::string& name) {
  for (const Record& r : CurrentMachine().spec().readers)
    if (ReaderRecordName(r) == name) return &r;
  return nullptr;
}

// Whether the smart card service is there to answer, as the machine declares
// it: the service running (NT family) or its process listed; a machine that
// declares neither service nor processes has it. On the NT family a process
// that names its service does not count (the service's state decides); a
// listed SCardSvr.exe of its own does.
bool ServiceAnswers() {
  const auto& spec = CurrentMachine().spec();
  const auto state = spec.os.IsNT() ? DeclaredServiceState("SCardSvr") : std::nullopt;
  if (state && *state == 4) return true;  // SERVICE_RUNNING
  for (const Record& p : spec.processes) {
    if (!ProcessListed(p) || (spec.os.IsNT() && ProcessOfService(p))) continue;
    std::string name = p.Str("name");
    if (name.empty()) name = p.Str("path");
    const size_t slash = name.find_last_of('\\');
    if (slash != std::string::npos) name = name.substr(slash + 1);
    if (EqualNoCase(name, "scardsvr.exe")) return true;
  }
  return !state && spec.processes.empty();
}

// card = true, or "t0" / "t1" naming the card's protocol.
bool CardPresent(const Record* reader) {
  if (!reader) return false;
  const std::string kind = reader->Str("card");
  if (!kind.empty()) return !EqualNoCase(kind, "none");
  return reader->Bool("card");
}

DWORD CardProtocol(const Record& reader) {
  if (reader.Has("protocol")) return static_cast<DWORD>(reader.Int("protocol"));
  return EqualNoCase(reader.Str("card"), "t1") ? SCARD_PROTOCOL_T1 : SCARD_PROTOCOL_T0;
}

DWORD EventStateOf(const Record* reader) {
  if (!reader) return SCARD_STATE_UNKNOWN | SCARD_STATE_CHANGED | SCARD_STATE_IGNORE;
  if (reader->Has("state")) return static_cast<DWORD>(reader->Int("state"));
  return (CardPresent(reader) ? SCARD_STATE_PRESENT : SCARD_STATE_EMPTY) | SCARD_STATE_CHANGED;
}

bool ValidContext(SCARDCONTEXT context) {
  return Rm().contexts.count(context) != 0;
}

// Lets up to `ms` of machine time pass (INFINITE: without end) or until the
// context is cancelled or released; true when it was. A virtual clock moves
// on at once, a real one waits.
bool WaitForCancel(ResourceManager& rm, std::unique_lock<std::mutex>& lock, SCARDCONTEXT context, DWORD ms) {
  const auto cancelled = [&] { return rm.cancelled.count(context) != 0; };
  if (ms == INFINITE) {
    rm.changed.wait(lock, cancelled);
    return true;
  }
  Clock& clock = CurrentMachine().clock();
  if (clock.mode() == Clock::Mode::Virtual) {
    lock.unlock();
    clock.Sleep(ms);
    lock.lock();
    return cancelled();
  }
  return rm.changed.wait_for(lock, std::chrono::milliseconds(ms), cancelled);
}

}  // namespace

int BlockedStatusQueries() {
  std::lock_guard<std::mutex> lock(Rm().mutex);
  return Rm().blocked;
}

}  // namespace vqwin

using namespace vqwin;

extern "C" {

LONG WINAPI SCardEstablishContext(DWORD scope, LPCVOID, LPCVOID, LPSCARDCONTEXT context) {
  InstallReaderDevices();
  if (!context) return SCARD_E_INVALID_PARAMETER;
  if (scope != SCARD_SCOPE_USER && scope != SCARD_SCOPE_SYSTEM && scope != SCARD_SCOPE_TERMINAL)
    return SCARD_E_INVALID_VALUE;
  if (LONG error = PcscError("establish_error")) return error;
  if (scope == SCARD_SCOPE_USER)
    if (LONG error = PcscError("establish_user_error")) return error;
  if (!ServiceAnswers()) return SCARD_E_NO_SERVICE;
  ResourceManager& rm = Rm();
  std::lock_guard<std::mutex> lock(rm.mutex);
  *context = rm.next;
  rm.next += 4;
  rm.contexts.insert(*context);
  return SCARD_S_SUCCESS;
}

LONG WINAPI SCardReleaseContext(SCARDCONTEXT context) {
  ResourceManager& rm = Rm();
  std::lock_guard<std::mutex> lock(rm.mutex);
  if (!rm.contexts.erase(context)) return SCARD_E_INVALID_HANDLE;
  rm.cancelled.insert(context);  // wakes a waiting query of this context
  for (auto it = rm.cards.begin(); it != rm.cards.end();)
    it = it->second.context == context ? rm.cards.erase(it) : std::next(it);
  rm.changed.notify_all();
  return SCARD_S_SUCCESS;
}

LONG WINAPI SCardListReadersA(SCARDCONTEXT context, LPCSTR, LPSTR readers, LPDWORD length) {
  {
    std::lock_guard<std::mutex> lock(Rm().mutex);
    if (!ValidContext(context)) return SCARD_E_INVALID_HANDLE;
  }
  if (!length) return SCARD_E_INVALID_PARAMETER;
  if (LONG error = PcscError("list_error")) return error;
  std::string list;
  for (const Record& r : CurrentMachine().spec().readers) {
    list += ReaderRecordName(r);
    list += '\0';
  }
  if (list.empty()) {
    const Record* t = PcscTable();
    const LONG error = t && t->Has("no_readers_error") ? static_cast<LONG>(t->Int("no_readers_error"))
                                                       : static_cast<LONG>(SCARD_E_NO_READERS_AVAILABLE);
    if (error) return error;
  }
  list += '\0';
  const DWORD needed = static_cast<DWORD>(list.size());
  if (!readers) {
    *length = needed;
    return SCARD_S_SUCCESS;
  }
  if (LONG error = PcscError("list_read_error")) return error;
  if (*length < needed) {
    *length = needed;
    return SCARD_E_INSUFFICIENT_BUFFER;
  }
  std::memcpy(readers, list.data(), needed);
  *length = needed;
  return SCARD_S_SUCCESS;
}

LONG WINAPI SCardGetStatusChangeA(SCARDCONTEXT context, DWORD timeout, LPSCARD_READERSTATEA states,
                                  DWORD count) {
  ResourceManager& rm = Rm();
  {
    std::lock_guard<std::mutex> lock(rm.mutex);
    if (!ValidContext(context)) return SCARD_E_INVALID_HANDLE;
    rm.cancelled.erase(context);
  }
  if (count && !states) return SCARD_E_INVALID_PARAMETER;
  const Record* pcsc = PcscTable();
  bool silent = pcsc && pcsc->Bool("status_hangs");
  // Within 0 and the longest finite wait.
  const DWORD delay = static_cast<DWORD>(
      std::clamp<int64_t>(pcsc ? pcsc->Int("status_delay_ms", 0) : 0, 0, static_cast<int64_t>(INFINITE) - 1));
  bool differs = count == 0;
  std::vector<SCARD_READERSTATEA> answer(states, states + count);
  for (SCARD_READERSTATEA& state : answer) {
    if (!state.szReader) return SCARD_E_INVALID_VALUE;
    const Record* reader = FindReader(state.szReader);
    if (reader && reader->Int("status_error") != 0) return static_cast<LONG>(reader->Int("status_error"));
    if (reader && reader->Bool("status_hangs")) silent = true;
    const DWORD event = EventStateOf(reader);
    state.dwEventState = event;
    const auto atr = CardPresent(reader) ? ParseHexBytes(reader->Str("atr")) : std::vector<unsigned char>();
    const size_t n = std::min(atr.size(), sizeof state.rgbAtr);
    std::memset(state.rgbAtr, 0, sizeof state.rgbAtr);
    if (n) std::memcpy(state.rgbAtr, atr.data(), n);
    state.cbAtr = static_cast<DWORD>(n);
    const DWORD mask = ~static_cast<DWORD>(SCARD_STATE_CHANGED);
    if (state.dwCurrentState == SCARD_STATE_UNAWARE || (state.dwCurrentState & mask) != (event & mask))
      differs = true;
  }

  // The answer comes after the resource manager's delay; nothing changes on
  // a machine by itself, so without a difference to tell (or from a silent
  // resource manager) the query waits out its time-out. Either wait ends
  // early when the context is cancelled or released.
  const bool answers = differs && !silent;
  const bool inTime = answers && (timeout == INFINITE || delay <= timeout);
  LONG result = inTime ? SCARD_S_SUCCESS : SCARD_E_TIMEOUT;
  if (!inTime || delay > 0) {
    std::unique_lock<std::mutex> lock(rm.mutex);
    ++rm.blocked;
    if (WaitForCancel(rm, lock, context, inTime ? delay : timeout)) result = SCARD_E_CANCELLED;
    rm.cancelled.erase(context);
    --rm.blocked;
  }
  if (result == SCARD_S_SUCCESS && count) std::copy(answer.begin(), answer.end(), states);
  return result;
}

LONG WINAPI SCardCancel(SCARDCONTEXT context) {
  ResourceManager& rm = Rm();
  std::lock_guard<std::mutex> lock(rm.mutex);
  if (!ValidContext(context)) return SCARD_E_INVALID_HANDLE;
  rm.cancelled.insert(context);
  rm.changed.notify_all();
  return SCARD_S_SUCCESS;
}

LONG WINAPI SCardConnectA(SCARDCONTEXT context, LPCSTR readerName, DWORD shareMode, DWORD protocols,
                          LPSCARDHANDLE card, LPDWORD active) {
  ResourceManager& rm = Rm();
  {
    std::lock_guard<std::mutex> lock(rm.mutex);
    if (!ValidContext(context)) return SCARD_E_INVALID_HANDLE;
  }
  if (!readerName || !card || !active) return SCARD_E_INVALID_PARAMETER;
  if (shareMode < SCARD_SHARE_EXCLUSIVE || shareMode > SCARD_SHARE_DIRECT) return SCARD_E_INVALID_VALUE;
  const Record* reader = FindReader(readerName);
  if (!reader) return SCARD_E_UNKNOWN_READER;
  if (reader->Int("connect_error") != 0) return static_cast<LONG>(reader->Int("connect_error"));
  DWORD protocol = SCARD_PROTOCOL_UNDEFINED;
  if (shareMode != SCARD_SHARE_DIRECT) {
    if (!CardPresent(reader)) return SCARD_W_REMOVED_CARD;
    const DWORD offered = CardProtocol(*reader);
    if (!(offered & protocols)) return SCARD_E_PROTO_MISMATCH;
    protocol = (offered & protocols & SCARD_PROTOCOL_T0) ? SCARD_PROTOCOL_T0 : (offered & protocols);
  }
  std::lock_guard<std::mutex> lock(rm.mutex);
  *card = rm.next;
  rm.next += 4;
  rm.cards[*card] = Connection{context, readerName};
  *active = protocol;
  return SCARD_S_SUCCESS;
}

LONG WINAPI SCardGetAttrib(SCARDHANDLE card, DWORD attribute, LPBYTE buffer, LPDWORD length) {
  std::string readerName;
  {
    std::lock_guard<std::mutex> lock(Rm().mutex);
    auto it = Rm().cards.find(card);
    if (it == Rm().cards.end()) return SCARD_E_INVALID_HANDLE;
    readerName = it->second.reader;
  }
  if (!length) return SCARD_E_INVALID_PARAMETER;
  const Record* reader = FindReader(readerName);
  if (!reader) return SCARD_E_READER_UNAVAILABLE;
  if (reader->Int("attrib_error") != 0) return static_cast<LONG>(reader->Int("attrib_error"));
  if (attribute != SCARD_ATTR_ATR_STRING) return SCARD_E_UNSUPPORTED_FEATURE;
  const auto atr = ParseHexBytes(reader->Str("atr"));
  const DWORD needed = static_cast<DWORD>(atr.size());
  if (!buffer) {
    *length = needed;
    return SCARD_S_SUCCESS;
  }
  if (*length < needed) {
    *length = needed;
    return SCARD_E_INSUFFICIENT_BUFFER;
  }
  if (needed) std::memcpy(buffer, atr.data(), needed);
  *length = needed;
  return SCARD_S_SUCCESS;
}

LONG WINAPI SCardDisconnect(SCARDHANDLE card, DWORD disposition) {
  if (disposition > SCARD_EJECT_CARD) return SCARD_E_INVALID_VALUE;
  std::lock_guard<std::mutex> lock(Rm().mutex);
  if (!Rm().cards.erase(card)) return SCARD_E_INVALID_HANDLE;
  return SCARD_S_SUCCESS;
}

}  // extern "C"

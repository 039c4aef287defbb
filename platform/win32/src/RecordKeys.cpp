#include "RecordKeys.h"

#include <map>

namespace vqwin {
namespace {

using K = RecordKey::Kind;

// Error codes, access masks, ids and other DWORDs.
RecordKey Dword(const char* name) { return {name, K::Integer}; }
// Times in ms where -1 means "for ever".
RecordKey Ms(const char* name) { return {name, K::Integer, -1}; }

const std::map<std::string_view, std::vector<RecordKey>>& Tables() {
  static const std::map<std::string_view, std::vector<RecordKey>> tables = {
      // ReaderRecords.h, ServiceRuntime.h, ServiceControl.cpp
      {"services",
       {{"name", K::Text},
        {"display", K::Text},
        {"state", K::Choice, 0, 0,
         {"stopped", "running", "start_pending", "stop_pending", "paused", "pause_pending", "continue_pending"},
         true},
        Dword("type"), Dword("open_error"), Dword("query_error"), Dword("start_error"), Dword("stop_error"),
        Dword("config_error"), Dword("deny_access"), Dword("pid"), Ms("pending_ms"), Ms("start_ms"), Ms("stop_ms"),
        Dword("wait_hint"), Dword("checkpoint_ms"),
        {"depends", K::Texts}}},
      // Processes.cpp, Toolhelp.cpp
      {"processes",
       {{"name", K::Text}, {"path", K::Text}, {"module", K::Text}, {"service", K::Text}, {"protected", K::Flag},
        Dword("pid"), Dword("parent"), Dword("threads"), Dword("priority"), Dword("open_error"),
        Dword("priority_error"), Dword("modules_error"), Dword("name_error")}},
      // vqwin/SmartCards.h
      {"readers",
       {{"name", K::Text},
        {"name_hex", K::HexBytes},
        {"card", K::FlagOrChoice, 0, 0, {"t0", "t1", "none"}, true},
        {"atr", K::HexBytes},
        Dword("protocol"), Dword("state"), Dword("status_error"), Dword("connect_error"), Dword("attrib_error"),
        {"status_hangs", K::Flag},
        {"device", K::Text},
        {"device_open", K::Choice, 0, 0, {"held", "free"}, true},
        Dword("device_error")}},
      {"pcsc",
       {Dword("establish_error"), Dword("establish_user_error"), Dword("list_error"), Dword("list_read_error"),
        Dword("no_readers_error"), Dword("status_delay_ms"), {"status_hangs", K::Flag}}},
      // vqwin/ShellLink.h
      {"shell",
       {{"desktop", K::Text},
        {"programs", K::Text},
        {"display_names", K::Choice, 0, 0, {"cstr", "offset", "wstr"}},
        {"link_failure", K::Choice, 0, 0, {"create", "persist_file", "load"}},
        Dword("inf_delay_ms"),
        {"inf_result", K::Choice, 0, 0, {"registers", "nothing"}},
        {"inf_marker", K::Text}}},
      // UserRights.h
      {"security", {{"admin", K::Flag}, Dword("manager_error"), {"debug_privilege", K::Flag}, Dword("token_error")}},
  };
  return tables;
}

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

}  // namespace

const std::vector<RecordKey>* RecordKeysOf(std::string_view table) {
  const auto it = Tables().find(table);
  return it == Tables().end() ? nullptr : &it->second;
}

bool IsHexBytes(const std::string& text) {
  size_t run = 0;
  for (char c : text) {
    if (IsHexDigit(c)) {
      ++run;
    } else if (c == ' ' || c == '\t') {
      if (run % 2 != 0) return false;
      run = 0;
    } else {
      return false;
    }
  }
  return run % 2 == 0;
}

}  // namespace vqwin

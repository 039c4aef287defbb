// The keys that machine.toml's records ([[services]], [[processes]],
// [[readers]], [pcsc], [shell], [security]) may hold, and the values each may
// take. The parts of the stand-in that act on a record read these keys (their
// headers tell what each does); a machine file with any other key, or a value
// of another kind, is refused when it loads.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vqwin {

struct RecordKey {
  enum class Kind {
    Text,
    Integer,      // min..max
    Flag,         // true or false
    Texts,        // an array of strings
    HexBytes,     // a string of hexadecimal bytes: "3B 8F 80" or "3B8F80"
    Choice,       // one of `choices`
    FlagOrChoice  // true, false or one of `choices`
  };
  const char* name;
  Kind kind;
  int64_t min = 0;
  int64_t max = 0xFFFFFFFFLL;
  std::vector<const char*> choices = {};
  bool anyCase = false;  // choices compared without regard to case
};

// The keys of a record by its table name ("services", "pcsc" ...); nullptr
// when the table is no record.
const std::vector<RecordKey>* RecordKeysOf(std::string_view table);

// Whether `text` is hexadecimal bytes: runs of an even number of hex digits
// separated by blanks (an empty text is no bytes).
bool IsHexBytes(const std::string& text);

}  // namespace vqwin

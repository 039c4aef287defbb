// One record of machine.toml ([[services]], [[processes]], [[readers]],
// [pcsc], [shell], [security]): plain data that the parts of the stand-in
// which act on it read by key. A machine file holds only the keys and kinds
// of value that they read (src/RecordKeys.cpp).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <variant>
#include <vector>

namespace vqwin {

struct Record {
  using Value = std::variant<bool, int64_t, double, std::string, std::vector<std::string>>;

  int line = 0;  // line of the entry in machine.toml
  std::map<std::string, Value> values;

  bool Has(const std::string& key) const { return values.count(key) != 0; }
  std::string Str(const std::string& key, const std::string& fallback = "") const;
  int64_t Int(const std::string& key, int64_t fallback = 0) const;
  bool Bool(const std::string& key, bool fallback = false) const;
  // Arrays of strings or integers (integers as decimal text).
  std::vector<std::string> List(const std::string& key) const;
};

}  // namespace vqwin

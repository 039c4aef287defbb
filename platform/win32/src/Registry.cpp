#include "vqwin/Registry.h"

#include <winreg.h>

#include <cstdio>
#include <cstring>

#include "Text.h"
#include "vqwin/MachineError.h"

namespace vqwin {
namespace {

const char* const kHiveNames[] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE",
                                  "HKEY_USERS",        "",                  "HKEY_CURRENT_CONFIG",
                                  "HKEY_DYN_DATA"};

struct Alias {
  const char* shortName;
  const char* longName;
};
const Alias kAliases[] = {{"HKCR", "HKEY_CLASSES_ROOT"},
                          {"HKCU", "HKEY_CURRENT_USER"},
                          {"HKLM", "HKEY_LOCAL_MACHINE"},
                          {"HKU", "HKEY_USERS"},
                          {"HKCC", "HKEY_CURRENT_CONFIG"}};

void MarkDeleted(RegKey& key) {
  key.deleted = true;
  for (auto& child : key.children) MarkDeleted(*child);
}

std::vector<std::string> SplitKeyPath(std::string_view path) {
  std::vector<std::string> parts;
  std::string part;
  for (char c : path) {
    if (c == '\\') {
      if (!part.empty()) parts.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
  if (!part.empty()) parts.push_back(part);
  return parts;
}

std::string Quote(std::string_view s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + "\"";
}

void AppendHex(std::string& out, size_t prefixLength, const std::vector<uint8_t>& data) {
  size_t column = prefixLength;
  for (size_t i = 0; i < data.size(); ++i) {
    char byte[4];
    std::snprintf(byte, sizeof byte, "%02x", data[i]);
    out += byte;
    column += 2;
    if (i + 1 < data.size()) {
      out += ',';
      ++column;
      if (column > 76) {
        out += "\\\n  ";
        column = 2;
      }
    }
  }
}

bool Printable(const std::vector<uint8_t>& data) {
  if (data.empty() || data.back() != 0) return false;
  for (size_t i = 0; i + 1 < data.size(); ++i)
    if (data[i] == 0 || data[i] == '\n' || data[i] == '\r') return false;
  return true;
}

void WriteKey(const RegKey& key, bool isHive, std::string& out) {
  // Keys on the way to others are implied by their paths.
  if (!key.values.empty() || (!isHive && key.children.empty())) {
    out += "[" + key.Path() + "]\n";
    for (const RegValue& v : key.values) {
      std::string line = v.name.empty() ? "@=" : Quote(v.name) + "=";
      if (v.type == REG_SZ && Printable(v.data)) {
        line += Quote(std::string(v.data.begin(), v.data.end() - 1));
      } else if (v.type == REG_DWORD && v.data.size() == 4) {
        char dword[16];
        std::snprintf(dword, sizeof dword, "%08x",
                      v.data[0] | v.data[1] << 8 | v.data[2] << 16 | static_cast<uint32_t>(v.data[3]) << 24);
        line += std::string("dword:") + dword;
      } else {
        if (v.type == REG_BINARY) {
          line += "hex:";
        } else {
          char head[24];
          std::snprintf(head, sizeof head, "hex(%x):", static_cast<unsigned>(v.type));
          line += head;
        }
        AppendHex(line, line.size(), v.data);
      }
      out += line + "\n";
    }
    out += "\n";
  }
  for (const auto& child : key.children) WriteKey(*child, false, out);
}

class Parser {
 public:
  Parser(Registry& registry, std::string fileName) : registry_(registry), file_(std::move(fileName)) {}

  void Run(std::string_view text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start <= text.size()) {
      size_t end = text.find('\n', start);
      if (end == std::string_view::npos) end = text.size();
      std::string line(text.substr(start, end - start));
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(line);
      start = end + 1;
    }
    bool header = false;
    std::shared_ptr<RegKey> key;
    for (size_t i = 0; i < lines.size(); ++i) {
      line_ = static_cast<int>(i + 1);
      std::string line = Trim(lines[i]);
      if (line.empty() || line[0] == ';') continue;
      if (!header) {
        if (line != "REGEDIT4") Fail("the file must begin with \"REGEDIT4\"");
        header = true;
        continue;
      }
      if (line[0] == '[') {
        if (line.back() != ']') Fail("a key line must end with ']'");
        std::string path = line.substr(1, line.size() - 2);
        if (!path.empty() && path[0] == '-') {
          DeleteKey(path.substr(1));
          key = nullptr;
          continue;
        }
        key = registry_.Create(path);
        if (!key) Fail("unknown registry hive in [" + path + "]");
        continue;
      }
      if (!key) Fail("a value line before the first [key] line");
      // Join continuation lines of hex data.
      while (!line.empty() && line.back() == '\\' && IsHexLine(line) && i + 1 < lines.size()) {
        line.pop_back();
        line += Trim(lines[++i]);
      }
      ParseValue(line, *key);
    }
    if (!header && !AllBlank(lines)) Fail("the file must begin with \"REGEDIT4\"");
  }

 private:
  [[noreturn]] void Fail(const std::string& problem) { throw MachineError(file_, line_, problem); }

  static bool AllBlank(const std::vector<std::string>& lines) {
    for (const auto& l : lines)
      if (!Trim(l).empty()) return false;
    return true;
  }

  static bool IsHexLine(const std::string& line) {
    const size_t eq = line.find("=hex");
    return eq != std::string::npos;
  }

  void DeleteKey(const std::string& path) {
    auto parts = SplitKeyPath(path);
    if (parts.size() < 2) Fail("a whole hive cannot be deleted");
    std::string parentPath;
    for (size_t i = 0; i + 1 < parts.size(); ++i) parentPath += (i ? "\\" : "") + parts[i];
    if (auto parent = registry_.Find(parentPath)) parent->RemoveChild(parts.back());
  }

  std::string ParseQuoted(const std::string& s, size_t& pos) {
    // s[pos] == '"'
    std::string out;
    for (++pos; pos < s.size(); ++pos) {
      if (s[pos] == '\\' && pos + 1 < s.size()) {
        out += s[++pos];
      } else if (s[pos] == '"') {
        ++pos;
        return out;
      } else {
        out += s[pos];
      }
    }
    Fail("a quoted text is not closed");
  }

  void ParseValue(const std::string& line, RegKey& key) {
    size_t pos = 0;
    RegValue value;
    if (line[0] == '@') {
      pos = 1;
    } else if (line[0] == '"') {
      value.name = ParseQuoted(line, pos);
    } else {
      Fail("a value line must begin with a quoted name or @");
    }
    while (pos < line.size() && line[pos] == ' ') ++pos;
    if (pos >= line.size() || line[pos] != '=') Fail("'=' expected after the value name");
    std::string data = Trim(line.substr(pos + 1));
    if (data == "-") {
      key.RemoveValue(value.name);
      return;
    }
    if (!data.empty() && data[0] == '"') {
      size_t p = 0;
      std::string s = ParseQuoted(data, p);
      if (!Trim(data.substr(p)).empty()) Fail("text after the closing quotation mark");
      value.type = REG_SZ;
      value.data.assign(s.begin(), s.end());
      value.data.push_back(0);
    } else if (StartsWithNoCase(data, "dword:")) {
      std::string digits = data.substr(6);
      if (digits.empty() || digits.size() > 8 || digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        Fail("dword: needs one to eight hexadecimal digits");
      const uint32_t v = static_cast<uint32_t>(std::stoul(digits, nullptr, 16));
      value.type = REG_DWORD;
      value.data = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
                    static_cast<uint8_t>(v >> 24)};
    } else if (StartsWithNoCase(data, "hex")) {
      size_t p = 3;
      value.type = REG_BINARY;
      if (p < data.size() && data[p] == '(') {
        const size_t close = data.find(')', p);
        if (close == std::string::npos) Fail("hex( without a closing parenthesis");
        const std::string t = data.substr(p + 1, close - p - 1);
        if (t.empty() || t.size() > 8 || t.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
          Fail("hex(type) needs a hexadecimal type");
        value.type = static_cast<DWORD>(std::stoul(t, nullptr, 16));
        p = close + 1;
      }
      if (p >= data.size() || data[p] != ':') Fail("':' expected after hex");
      std::string bytes = data.substr(p + 1);
      std::string item;
      auto flush = [&] {
        std::string b = Trim(item);
        item.clear();
        if (b.empty()) return false;
        if (b.size() > 2 || b.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
          Fail("bad hexadecimal byte \"" + b + "\"");
        value.data.push_back(static_cast<uint8_t>(std::stoul(b, nullptr, 16)));
        return true;
      };
      for (char c : bytes) {
        if (c == ',') {
          if (!flush()) Fail("an empty byte in hex data");
        } else {
          item += c;
        }
      }
      if (!flush() && !bytes.empty()) Fail("hex data ends with a comma");
    } else {
      Fail("unknown value data \"" + data + "\"");
    }
    key.SetValue(std::move(value));
  }

  Registry& registry_;
  std::string file_;
  int line_ = 0;
};

}  // namespace

std::shared_ptr<RegKey> RegKey::Child(std::string_view childName) const {
  for (const auto& c : children)
    if (EqualNoCase(c->name, childName)) return c;
  return nullptr;
}

std::shared_ptr<RegKey> RegKey::EnsureChild(std::string_view childName) {
  if (auto c = Child(childName)) return c;
  auto c = std::make_shared<RegKey>();
  c->name = std::string(childName);
  c->parent = this;
  children.push_back(c);
  return c;
}

RegValue* RegKey::Value(std::string_view valueName) {
  for (auto& v : values)
    if (EqualNoCase(v.name, valueName)) return &v;
  return nullptr;
}

const RegValue* RegKey::Value(std::string_view valueName) const {
  for (const auto& v : values)
    if (EqualNoCase(v.name, valueName)) return &v;
  return nullptr;
}

void RegKey::SetValue(RegValue value) {
  if (RegValue* existing = Value(value.name)) {
    existing->type = value.type;
    existing->data = std::move(value.data);
  } else {
    values.push_back(std::move(value));
  }
}

bool RegKey::RemoveValue(std::string_view valueName) {
  for (auto it = values.begin(); it != values.end(); ++it) {
    if (EqualNoCase(it->name, valueName)) {
      values.erase(it);
      return true;
    }
  }
  return false;
}

bool RegKey::RemoveChild(std::string_view childName) {
  for (auto it = children.begin(); it != children.end(); ++it) {
    if (EqualNoCase((*it)->name, childName)) {
      MarkDeleted(**it);
      (*it)->parent = nullptr;
      children.erase(it);
      return true;
    }
  }
  return false;
}

std::string RegKey::Path() const {
  std::string path = name;
  for (const RegKey* k = parent; k; k = k->parent) path = k->name + "\\" + path;
  return path;
}

Registry::Registry() {
  for (const char* name : kHiveNames) {
    if (!*name) continue;
    auto hive = std::make_shared<RegKey>();
    hive->name = name;
    hives_.push_back(hive);
  }
}

std::unique_ptr<Registry> Registry::Parse(std::string_view text, const std::string& fileName) {
  auto registry = std::make_unique<Registry>();
  Parser(*registry, fileName).Run(text);
  return registry;
}

std::string Registry::ToText() const {
  std::string out = "REGEDIT4\n\n";
  for (const auto& hive : hives_) WriteKey(*hive, true, out);
  return out;
}

std::shared_ptr<RegKey> Registry::Hive(std::string_view name) const {
  for (const Alias& a : kAliases)
    if (EqualNoCase(name, a.shortName)) name = a.longName;
  for (const auto& hive : hives_)
    if (EqualNoCase(hive->name, name)) return hive;
  return nullptr;
}

std::shared_ptr<RegKey> Registry::Hive(HKEY predefined) const {
  const auto value = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(predefined));
  if (value < 0x80000000u || value > 0x80000006u) return nullptr;
  const char* name = kHiveNames[value - 0x80000000u];
  return *name ? Hive(std::string_view(name)) : nullptr;
}

std::shared_ptr<RegKey> Registry::Find(std::string_view fullPath) const {
  auto parts = SplitKeyPath(fullPath);
  if (parts.empty()) return nullptr;
  auto key = Hive(std::string_view(parts[0]));
  for (size_t i = 1; key && i < parts.size(); ++i) key = key->Child(parts[i]);
  return key;
}

std::shared_ptr<RegKey> Registry::Create(std::string_view fullPath) {
  auto parts = SplitKeyPath(fullPath);
  if (parts.empty()) return nullptr;
  auto key = Hive(std::string_view(parts[0]));
  for (size_t i = 1; key && i < parts.size(); ++i) key = key->EnsureChild(parts[i]);
  return key;
}

std::optional<std::string> Registry::GetString(std::string_view fullPath, std::string_view value) const {
  auto key = Find(fullPath);
  const RegValue* v = key ? key->Value(value) : nullptr;
  if (!v) return std::nullopt;
  std::string s(v->data.begin(), v->data.end());
  const size_t nul = s.find('\0');
  if (nul != std::string::npos) s.resize(nul);
  return s;
}

std::optional<DWORD> Registry::GetDword(std::string_view fullPath, std::string_view value) const {
  auto key = Find(fullPath);
  const RegValue* v = key ? key->Value(value) : nullptr;
  if (!v || v->data.size() != 4) return std::nullopt;
  return v->data[0] | v->data[1] << 8 | v->data[2] << 16 | static_cast<DWORD>(v->data[3]) << 24;
}

void Registry::SetString(std::string_view fullPath, std::string_view value, std::string_view data) {
  auto key = Create(fullPath);
  if (!key) return;
  RegValue v{std::string(value), REG_SZ, std::vector<uint8_t>(data.begin(), data.end())};
  v.data.push_back(0);
  key->SetValue(std::move(v));
}

void Registry::SetDword(std::string_view fullPath, std::string_view value, DWORD data) {
  auto key = Create(fullPath);
  if (!key) return;
  key->SetValue(RegValue{std::string(value), REG_DWORD,
                         {static_cast<uint8_t>(data), static_cast<uint8_t>(data >> 8),
                          static_cast<uint8_t>(data >> 16), static_cast<uint8_t>(data >> 24)}});
}

}  // namespace vqwin

#include "MachineToml.h"

#include <toml++/toml.h>

#include <cstdio>
#include <set>

#include "RecordKeys.h"
#include "Text.h"
#include "vqwin/CodePage.h"
#include "vqwin/Exports.h"
#include "vqwin/PeWriter.h"

namespace vqwin {
namespace {

class Reader {
 public:
  explicit Reader(std::string file) : file_(std::move(file)) {}

  [[noreturn]] void Fail(const toml::node& node, const std::string& problem) const {
    throw MachineError(file_, static_cast<int>(node.source().begin.line), problem);
  }
  [[noreturn]] void Fail(int line, const std::string& problem) const { throw MachineError(file_, line, problem); }

  const toml::table& Table(const toml::node& node, const std::string& name) const {
    if (!node.is_table()) Fail(node, "[" + name + "] must be a table");
    return *node.as_table();
  }

  void Only(const toml::table& t, const std::string& where, std::initializer_list<const char*> keys) const {
    for (const auto& [key, node] : t) {
      bool known = false;
      for (const char* k : keys) known = known || key.str() == k;
      if (!known) Fail(node, "unknown key \"" + std::string(key.str()) + "\" in " + where);
    }
  }

  template <class T>
  bool Int(const toml::table& t, const char* key, const std::string& where, int64_t min, int64_t max, T& out) const {
    const toml::node* n = t.get(key);
    if (!n) return false;
    if (!n->is_integer()) Fail(*n, where + "." + key + " must be an integer");
    const int64_t v = n->as_integer()->get();
    if (v < min || v > max)
      Fail(*n, where + "." + key + " must be between " + std::to_string(min) + " and " + std::to_string(max));
    out = static_cast<T>(v);
    return true;
  }

  bool Str(const toml::table& t, const char* key, const std::string& where, std::string& out) const {
    const toml::node* n = t.get(key);
    if (!n) return false;
    if (!n->is_string()) Fail(*n, where + "." + key + " must be a string");
    out = n->as_string()->get();
    return true;
  }

  bool Bool(const toml::table& t, const char* key, const std::string& where, bool& out) const {
    const toml::node* n = t.get(key);
    if (!n) return false;
    if (!n->is_boolean()) Fail(*n, where + "." + key + " must be true or false");
    out = n->as_boolean()->get();
    return true;
  }

  std::vector<std::string> StrList(const toml::table& t, const char* key, const std::string& where) const {
    std::vector<std::string> out;
    const toml::node* n = t.get(key);
    if (!n) return out;
    if (!n->is_array()) Fail(*n, where + "." + key + " must be an array of strings");
    for (const auto& item : *n->as_array()) {
      if (!item.is_string()) Fail(item, where + "." + key + " must hold strings only");
      out.push_back(item.as_string()->get());
    }
    return out;
  }

  const toml::array& TableArray(const toml::node& node, const std::string& name) const {
    if (!node.is_array_of_tables()) Fail(node, name + " must be written as [[" + name + "]] tables");
    return *node.as_array();
  }

  // A record: each key one that the stand-in reads, each value of its kind.
  Record ToRecord(const toml::table& t, const std::string& where, const std::vector<RecordKey>& keys,
                  bool needName) const {
    Record r;
    r.line = static_cast<int>(t.source().begin.line);
    for (const auto& [keyName, node] : t) {
      const std::string key(keyName.str());
      const RecordKey* known = nullptr;
      for (const RecordKey& k : keys)
        if (key == k.name) known = &k;
      if (!known) Fail(node, "unknown key \"" + key + "\" in " + where);
      r.values[key] = Value(t, *known, where);
    }
    if (needName && r.Str("name").empty()) Fail(r.line, where + " needs a name (a string)");
    return r;
  }

 private:
  Record::Value Value(const toml::table& t, const RecordKey& k, const std::string& where) const {
    using Kind = RecordKey::Kind;
    const toml::node& node = *t.get(k.name);
    const std::string name = where + "." + k.name;
    switch (k.kind) {
      case Kind::Integer: {
        int64_t v = 0;
        Int(t, k.name, where, k.min, k.max, v);
        return v;
      }
      case Kind::Flag: {
        bool v = false;
        Bool(t, k.name, where, v);
        return v;
      }
      case Kind::Texts:
        return StrList(t, k.name, where);
      case Kind::Text:
      case Kind::HexBytes: {
        std::string v;
        Str(t, k.name, where, v);
        if (k.kind == Kind::HexBytes && !IsHexBytes(v))
          Fail(node, name + " must be bytes in hexadecimal, such as \"3B 8F 80\"");
        return v;
      }
      case Kind::Choice:
      case Kind::FlagOrChoice:
        break;
    }
    if (k.kind == Kind::FlagOrChoice && node.is_boolean()) return node.as_boolean()->get();
    if (node.is_string()) {
      const std::string v = node.as_string()->get();
      for (const char* choice : k.choices)
        if (k.anyCase ? EqualNoCase(v, choice) : v == choice) return v;
    }
    std::string list = k.kind == Kind::FlagOrChoice ? "true, false" : "";
    for (size_t i = 0; i < k.choices.size(); ++i) {
      if (!list.empty()) list += i + 1 == k.choices.size() ? " or " : ", ";
      list += "\"" + std::string(k.choices[i]) + "\"";
    }
    Fail(node, name + " must be " + list);
  }

  std::string file_;
};

DWORD AttributeBits(const Reader& reader, const toml::table& t, const std::string& where) {
  DWORD bits = 0;
  for (const std::string& a : reader.StrList(t, "attributes", where)) {
    const std::string l = Lower(a);
    if (l == "readonly") bits |= 0x01;
    else if (l == "hidden") bits |= 0x02;
    else if (l == "system") bits |= 0x04;
    else if (l == "archive") bits |= 0x20;
    else reader.Fail(*t.get("attributes"), "unknown attribute \"" + a + "\" (readonly, hidden, system, archive)");
  }
  return bits;
}

void ParseOs(const Reader& r, const toml::table& t, OsSpec& os) {
  const std::string w = "[os]";
  r.Only(t, w, {"platform", "major", "minor", "build", "csd", "sp_major", "sp_minor", "suite_mask",
                "product_type", "architecture", "product_info", "server_r2", "version_query", "windows_dir",
                "system_dir", "processors"});
  os = OsSpec{};
  os.csdVersion.clear();
  os.spMajor = 0;
  os.suiteMask = 0;
  os.build = 0;
  const toml::node* platform = t.get("platform");
  if (!platform) r.Fail(static_cast<int>(t.source().begin.line), "[os] needs platform (\"nt\", \"9x\" or 0, 1, 2)");
  if (platform->is_string()) {
    const std::string p = Lower(platform->as_string()->get());
    if (p == "nt") os.platformId = 2;
    else if (p == "9x") os.platformId = 1;
    else if (p == "win32s") os.platformId = 0;
    else r.Fail(*platform, "[os].platform must be \"nt\", \"9x\", \"win32s\" or a number");
  } else {
    r.Int(t, "platform", w, 0, 255, os.platformId);
  }
  if (!r.Int(t, "major", w, 0, 255, os.major)) r.Fail(static_cast<int>(t.source().begin.line), "[os] needs major");
  if (!r.Int(t, "minor", w, 0, 255, os.minor)) r.Fail(static_cast<int>(t.source().begin.line), "[os] needs minor");
  r.Int(t, "build", w, 0, 0x7FFFFFFF, os.build);
  if (r.Str(t, "csd", w, os.csdVersion) && os.csdVersion.size() > 127) r.Fail(*t.get("csd"), "[os].csd is longer than 127 bytes");
  r.Int(t, "sp_major", w, 0, 0xFFFF, os.spMajor);
  r.Int(t, "sp_minor", w, 0, 0xFFFF, os.spMinor);
  r.Int(t, "suite_mask", w, 0, 0xFFFF, os.suiteMask);
  os.productType = os.platformId == 2 ? 1 : 0;
  r.Int(t, "product_type", w, 0, 255, os.productType);
  if (const toml::node* a = t.get("architecture"); a && a->is_string()) {
    const std::string s = Lower(a->as_string()->get());
    if (s == "x86") os.architecture = 0;
    else if (s == "x64" || s == "amd64") os.architecture = 9;
    else if (s == "ia64" || s == "itanium") os.architecture = 6;
    else r.Fail(*a, "[os].architecture must be \"x86\", \"x64\", \"ia64\" or a number");
  } else {
    r.Int(t, "architecture", w, 0, 0xFFFF, os.architecture);
  }
  r.Int(t, "product_info", w, 0, 0xFFFFFFFFLL, os.productInfo);
  if (const toml::node* s = t.get("server_r2"); s && s->is_boolean()) {
    os.serverR2 = s->as_boolean()->get() ? 1 : 0;
  } else {
    r.Int(t, "server_r2", w, 0, 0x7FFFFFFF, os.serverR2);
  }
  // Windows 9x and NT 4.0 before service pack 6 refuse the extended record.
  os.versionQuery = (os.platformId == 1 || os.platformId == 0 || (os.platformId == 2 && os.major < 4) ||
                     (os.platformId == 2 && os.major == 4 && os.spMajor < 6))
                        ? VersionQuery::BasicOnly
                        : VersionQuery::Extended;
  std::string q;
  if (r.Str(t, "version_query", w, q)) {
    if (q == "extended") os.versionQuery = VersionQuery::Extended;
    else if (q == "basic") os.versionQuery = VersionQuery::BasicOnly;
    else if (q == "none") os.versionQuery = VersionQuery::None;
    else r.Fail(*t.get("version_query"), "[os].version_query must be \"extended\", \"basic\" or \"none\"");
  }
  os.windowsDir = (os.platformId == 2 && (os.major == 4 || (os.major == 5 && os.minor == 0))) ? "C:\\WINNT" : "C:\\WINDOWS";
  r.Str(t, "windows_dir", w, os.windowsDir);
  r.Str(t, "system_dir", w, os.systemDir);
  r.Int(t, "processors", w, 1, 64, os.processors);
}

void ParseLocale(const Reader& r, const toml::table& t, LocaleSpec& l) {
  const std::string w = "[locale]";
  r.Only(t, w, {"lang_id", "code_page", "oem_code_page"});
  r.Int(t, "lang_id", w, 0, 0xFFFF, l.langId);
  switch (l.langId) {
    case 0x0404: case 0x0C04: case 0x1404: l.ansiCodePage = 950; break;
    case 0x0412: case 0x0812: l.ansiCodePage = 949; break;
    case 0x0804: case 0x1004: l.ansiCodePage = 936; break;
    case 0x0411: l.ansiCodePage = 932; break;
    default: l.ansiCodePage = 1252;
  }
  if (r.Int(t, "code_page", w, 0, 65535, l.ansiCodePage)) {
    static const std::set<UINT> supported = {1252, 950, 949, 936, 932, 1250, 1251};
    if (!supported.count(l.ansiCodePage))
      r.Fail(*t.get("code_page"), "[locale].code_page " + std::to_string(l.ansiCodePage) +
                                      " is not an ANSI code page of this stand-in (1252, 950, 949, 936, 932, 1250, 1251)");
  }
  l.oemCodePage = (l.ansiCodePage == 1252 || l.ansiCodePage == 1250 || l.ansiCodePage == 1251) ? 437 : l.ansiCodePage;
  r.Int(t, "oem_code_page", w, 0, 65535, l.oemCodePage);
}

bool ParseDateTime(const std::string& s, ClockSpec& c) {
  int y, mo, d, h = 0, mi = 0, se = 0;
  char sep;
  const int n = std::sscanf(s.c_str(), "%d-%d-%d%c%d:%d:%d", &y, &mo, &d, &sep, &h, &mi, &se);
  if (n != 3 && n != 7) return false;
  if (n == 7 && sep != ' ' && sep != 'T') return false;
  if (y < 1601 || y > 30827 || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || se > 59) return false;
  c.year = y, c.month = mo, c.day = d, c.hour = h, c.minute = mi, c.second = se;
  return true;
}

void ParseClock(const Reader& r, const toml::table& t, ClockSpec& c) {
  const std::string w = "[clock]";
  r.Only(t, w, {"mode", "start", "tick"});
  std::string mode;
  if (r.Str(t, "mode", w, mode)) {
    if (mode == "virtual") c.mode = Clock::Mode::Virtual;
    else if (mode == "real") c.mode = Clock::Mode::Real;
    else r.Fail(*t.get("mode"), "[clock].mode must be \"virtual\" or \"real\"");
  }
  if (const toml::node* s = t.get("start")) {
    if (s->is_date_time() || s->is_date()) {
      toml::date date;
      toml::time time{};
      if (s->is_date_time()) {
        date = s->as_date_time()->get().date;
        time = s->as_date_time()->get().time;
      } else {
        date = s->as_date()->get();
      }
      c.year = date.year, c.month = date.month, c.day = date.day;
      c.hour = time.hour, c.minute = time.minute, c.second = time.second;
    } else if (!s->is_string() || !ParseDateTime(s->as_string()->get(), c)) {
      r.Fail(*s, "[clock].start must be a local date and time such as 2026-12-10T09:30:00");
    }
    c.startGiven = true;
  }
  r.Int(t, "tick", w, 0, 0xFFFFFFFFLL, c.tickAtStart);
}

// machine.toml is UTF-8; the programs see its texts in the machine's code page.
void ToCodePage(MachineSpec& spec) {
  const unsigned cp = spec.locale.ansiCodePage;
  auto convert = [cp](std::string& s) {
    for (unsigned char c : s) {
      if (c >= 0x80) {
        s = FromUtf8(s, cp);
        return;
      }
    }
  };
  convert(spec.os.csdVersion);
  convert(spec.os.windowsDir);
  convert(spec.os.systemDir);
  convert(spec.computerName);
  convert(spec.userName);
  convert(spec.programPath);
  convert(spec.currentDir);
  for (auto& f : spec.fileFailures) convert(f.path);
  for (auto& f : spec.files) {
    convert(f.path);
    if (f.text) convert(*f.text);
  }
  for (auto* list : {&spec.services, &spec.processes, &spec.readers}) {
    for (Record& r : *list) {
      for (auto& [key, value] : r.values) {
        if (auto* text = std::get_if<std::string>(&value)) convert(*text);
        if (auto* texts = std::get_if<std::vector<std::string>>(&value))
          for (auto& t : *texts) convert(t);
      }
    }
  }
}

}  // namespace

MachineSpec ParseMachineToml(const std::string& text, const std::string& fileName) {
  toml::table root;
  try {
    root = toml::parse(text, fileName);
  } catch (const toml::parse_error& e) {
    throw MachineError(fileName, static_cast<int>(e.source().begin.line), std::string(e.description()));
  }
  const Reader r(fileName);
  MachineSpec spec;
  for (const auto& [keyName, node] : root) {
    const std::string key(keyName.str());
    if (key == "os") {
      ParseOs(r, r.Table(node, key), spec.os);
    } else if (key == "locale") {
      ParseLocale(r, r.Table(node, key), spec.locale);
    } else if (key == "identity") {
      const auto& t = r.Table(node, key);
      r.Only(t, "[identity]", {"computer_name", "user_name"});
      r.Str(t, "computer_name", "[identity]", spec.computerName);
      r.Str(t, "user_name", "[identity]", spec.userName);
    } else if (key == "screen") {
      const auto& t = r.Table(node, key);
      r.Only(t, "[screen]", {"width", "height"});
      r.Int(t, "width", "[screen]", 1, 100000, spec.screenWidth);
      r.Int(t, "height", "[screen]", 1, 100000, spec.screenHeight);
    } else if (key == "clock") {
      ParseClock(r, r.Table(node, key), spec.clock);
    } else if (key == "program") {
      const auto& t = r.Table(node, key);
      r.Only(t, "[program]", {"path", "current_dir"});
      r.Str(t, "path", "[program]", spec.programPath);
      r.Str(t, "current_dir", "[program]", spec.currentDir);
      if (spec.programPath.size() < 4 || spec.programPath[1] != ':' || spec.programPath[2] != '\\')
        r.Fail(t.get("path") ? *t.get("path") : node, "[program].path must be a full Windows path (C:\\...)");
    } else if (key == "functions") {
      const auto& t = r.Table(node, key);
      r.Only(t, "[functions]", {"absent", "present"});
      auto norm = [](const std::string& n) { return StartsWithNoCase(n.size() > 4 ? n.substr(n.size() - 4) : "", ".dll") ? Lower(n) : n; };
      for (const char* list : {"absent", "present"}) {
        for (const auto& n : r.StrList(t, list, "[functions]")) {
          if (!IsOptionalName(n))
            r.Fail(*t.get(list), "[functions]." + std::string(list) + ": \"" + n +
                                     "\" is no function that programs look up, nor a module");
          (std::string(list) == "absent" ? spec.absent : spec.present).insert(norm(n));
        }
      }
    } else if (key == "file_failures") {
      for (const auto& item : r.TableArray(node, key)) {
        const auto& t = *item.as_table();
        r.Only(t, "[[file_failures]]", {"path", "op", "error"});
        FileFailure f;
        if (!r.Str(t, "path", "[[file_failures]]", f.path)) r.Fail(item, "[[file_failures]] needs a path");
        if (!r.Int(t, "error", "[[file_failures]]", 1, 0xFFFFFFFFLL, f.error)) r.Fail(item, "[[file_failures]] needs an error code");
        r.Str(t, "op", "[[file_failures]]", f.op);
        static const std::set<std::string> ops = {"open", "create", "write", "copy", "move", "delete", "any"};
        if (!ops.count(f.op)) r.Fail(*t.get("op"), "[[file_failures]].op must be open, create, write, copy, move, delete or any");
        spec.fileFailures.push_back(f);
      }
    } else if (key == "files") {
      for (const auto& item : r.TableArray(node, key)) {
        const auto& t = *item.as_table();
        const std::string w = "[[files]]";
        r.Only(t, w, {"path", "version", "product_version", "strings", "pe", "text", "attributes"});
        FileSpec f;
        f.line = static_cast<int>(item.source().begin.line);
        if (!r.Str(t, "path", w, f.path)) r.Fail(item, "[[files]] needs a path");
        std::string s;
        if (r.Str(t, "version", w, s)) {
          if (!VersionResource::FromDotted(s)) r.Fail(*t.get("version"), "[[files]].version must be like \"5.1.2600.5512\"");
          f.version = s;
        }
        if (r.Str(t, "product_version", w, s)) {
          if (!VersionResource::FromDotted(s)) r.Fail(*t.get("product_version"), "[[files]].product_version must be like \"5.1.2600.5512\"");
          f.productVersion = s;
        }
        if (const toml::node* strings = t.get("strings")) {
          if (!strings->is_table()) r.Fail(*strings, "[[files]].strings must be a table of texts");
          for (const auto& [k, v] : *strings->as_table()) {
            if (!v.is_string()) r.Fail(v, "[[files]].strings." + std::string(k.str()) + " must be a string");
            f.strings.emplace_back(std::string(k.str()), v.as_string()->get());
          }
        }
        r.Bool(t, "pe", w, f.pe);
        if (r.Str(t, "text", w, s)) f.text = s;
        if (f.text && (f.version || f.pe)) r.Fail(item, "[[files]] takes either text or a PE file (version/pe), not both");
        f.attributes = AttributeBits(r, t, w);
        spec.files.push_back(f);
      }
    } else if (key == "services" || key == "processes" || key == "readers") {
      auto& list = key == "services" ? spec.services : key == "processes" ? spec.processes : spec.readers;
      for (const auto& item : r.TableArray(node, key))
        list.push_back(r.ToRecord(*item.as_table(), "[[" + key + "]]", *RecordKeysOf(key), true));
    } else if (const std::vector<RecordKey>* keys = RecordKeysOf(key)) {
      spec.extra[key] = r.ToRecord(r.Table(node, key), "[" + key + "]", *keys, false);
    } else {
      r.Fail(node, "unknown table or key \"" + key + "\"");
    }
  }
  ToCodePage(spec);
  return spec;
}

}  // namespace vqwin

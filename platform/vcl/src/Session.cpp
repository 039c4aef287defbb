#include "vqvcl/Session.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "ComCtrls.hpp"
#include "Internal.h"
#include "vqvcl/Dump.h"
#include "vqvcl/Input.h"
#include "vqvcl/Render.h"
#include "vqwin/Clock.h"

namespace vcl {

namespace {

std::string TrimBlank(const std::string& s) {
  const size_t a = s.find_first_not_of(" \t\r\n");
  if (a == std::string::npos) return std::string();
  const size_t b = s.find_last_not_of(" \t\r\n");
  return s.substr(a, b - a + 1);
}

// "name rest..." -> name, rest
void SplitFirst(const std::string& s, std::string& first, std::string& rest) {
  const size_t sp = s.find_first_of(" \t");
  first = sp == std::string::npos ? s : s.substr(0, sp);
  rest = sp == std::string::npos ? std::string() : TrimBlank(s.substr(sp));
}

std::optional<char> ParseKey(const std::string& k) {
  if (k == "Enter") return '\r';
  if (k == "Esc") return '\x1b';
  if (k == "Space") return ' ';
  if (k == "Tab") return '\t';
  if (k.size() > 1 && k[0] == '#') {
    char* end = nullptr;
    const long v = std::strtol(k.c_str() + 1, &end, 10);
    if (*end == '\0' && v >= 0 && v < 256) return static_cast<char>(v);
    return std::nullopt;
  }
  if (k.size() == 1) return k[0];
  return std::nullopt;
}

std::string Quote(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') out += '\\', out += c;
    else if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else out += c;
  }
  return out + "\"";
}

}  // namespace

Session::Session(const std::string& script, std::ostream& out) : out_(out) {
  std::istringstream in(script);
  std::string raw;
  int number = 0;
  while (std::getline(in, raw)) {
    ++number;
    const std::string line = TrimBlank(raw);
    if (line.empty() || line[0] == '#') continue;
    Line l;
    l.number = number;
    SplitFirst(line, l.verb, l.rest);
    lines_.push_back(l);
  }
}

Session::~Session() {
  if (attached_) {
    if (CurrentInputSource() == this) SetInputSource(nullptr);
    CurrentDialogScript().OnRecord = nullptr;
  }
}

std::string Session::ReadScript(std::istream& in) {
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string Session::Compose(const std::string& scriptFile, const std::vector<std::string>& actions) {
  std::string script;
  if (!scriptFile.empty()) {
    std::ifstream in(scriptFile);
    script = ReadScript(in);
    if (!script.empty() && script.back() != '\n') script += '\n';
  }
  for (const std::string& action : actions) script += action + "\n";
  return script;
}

bool DumpForms(const std::vector<std::string>& names, std::ostream& out, std::ostream& err,
               const std::string& program) {
  bool all = true;
  for (const std::string& name : names) {
    TCustomForm* form = dynamic_cast<TCustomForm*>(FindByName(name));
    if (form == nullptr) {
      err << program << ": --dump " << name << ": no such window\n";
      all = false;
      continue;
    }
    out << DumpForm(form);
  }
  return all;
}

void Session::Attach() {
  detail::EnsureMessageBoxHook();
  attached_ = true;
  SetInputSource(this);
  CurrentDialogScript().OnRecord = [this](const DialogRecord& r) {
    out_ << "dialog " << DialogKindName(r.kind) << ' ' << Quote(r.caption) << ' ' << Quote(r.text);
    if (!r.owner.empty()) out_ << " owner=" << r.owner;
    if (r.kind == DialogKind::SaveDialog && r.result == 1) out_ << " -> save " << Quote(r.fileName);
    else if (r.kind == DialogKind::ModalForm) out_ << " -> modal result " << r.result;
    else out_ << " -> " << DialogIdName(r.result);
    out_ << (r.scripted ? " (scripted)" : " (default)");
    if (!r.note.empty()) out_ << " [" << r.note << ']';
    out_ << '\n';
  };
}

bool Session::Step() {
  if (waiting_) {
    vqwin::Clock& clock = vqwin::CurrentClock();
    const uint64_t now = clock.Now();
    if (now < waitUntil_) {
      uint64_t target = waitUntil_;
      if (auto due = NextTimerDue(); due && *due < target) target = std::max(*due, now);
      clock.SleepUntil(target);
      if (clock.Now() >= waitUntil_) waiting_ = false;
      return true;
    }
    waiting_ = false;
  }
  if (next_ >= lines_.size()) return false;
  Execute(lines_[next_++]);
  return true;
}

void Session::Run() {
  while (Application && !Application->Terminated && Application->HandleMessage()) {
  }
}

std::optional<DialogAnswer> Session::Answer(DialogKind kind) {
  if (next_ >= lines_.size()) return std::nullopt;
  const Line& l = lines_[next_];
  DialogAnswer a;
  if (l.verb == "answer") {
    auto id = ParseDialogId(l.rest);
    if (!id) return std::nullopt;  // reported when it runs as a line of its own
    a.id = *id;
  } else if (l.verb == "save" && kind == DialogKind::SaveDialog) {
    a.id = 1;
    a.fileName = l.rest;
  } else if (l.verb == "cancel") {
    a.id = 2;
  } else {
    return std::nullopt;
  }
  ++next_;
  return a;
}

int Session::Finish() {
  for (; next_ < lines_.size(); ++next_) Error(lines_[next_], "not run: the program had ended");
  waiting_ = false;
  return errors_;
}

void Session::Error(const Line& line, const std::string& what) {
  ++errors_;
  out_ << "error: line " << line.number << ": " << line.verb << ": " << what << '\n';
}

void Session::Execute(const Line& line) {
  std::string name, rest;
  SplitFirst(line.rest, name, rest);
  auto control = [&]() -> TControl* { return dynamic_cast<TControl*>(FindByName(name)); };
  auto form = [&]() -> TCustomForm* { return dynamic_cast<TCustomForm*>(FindByName(name)); };
  auto report = [&](const std::string& why) {
    if (!why.empty()) Error(line, why);
  };
  const std::string& v = line.verb;
  if (v == "click") {
    TControl* c = control();
    report(c ? UserClick(c) : "no control named " + name);
  } else if (v == "select") {
    TControl* c = control();
    if (!c) return Error(line, "no control named " + name);
    int index = -1;
    char* end = nullptr;
    const long n = std::strtol(rest.c_str(), &end, 10);
    if (!rest.empty() && *end == '\0') {
      index = static_cast<int>(n);
    } else {
      TStrings* items = nullptr;
      if (auto* cb = dynamic_cast<TComboBox*>(c)) items = cb->Items;
      if (auto* rg = dynamic_cast<TRadioGroup*>(c)) items = rg->Items;
      if (items) index = items->IndexOf(AnsiString(detail::Utf8ToAnsi(rest)));
      if (index < 0) return Error(line, "no item " + Quote(rest));
    }
    report(UserSelect(c, index));
  } else if (v == "type") {
    TControl* c = control();
    report(c ? UserType(c, rest) : "no control named " + name);
  } else if (v == "key") {
    auto key = ParseKey(rest);
    if (!key) return Error(line, "not a key: " + rest);
    TControl* c = control();
    report(c ? UserKey(c, *key) : "no control or form named " + name);
  } else if (v == "hover") {
    TControl* c = control();
    report(c ? UserHover(c) : "no control named " + name);
  } else if (v == "close") {
    TCustomForm* f = form();
    report(f ? UserClose(f) : "no form named " + name);
  } else if (v == "answer") {
    auto id = ParseDialogId(line.rest);
    if (!id) return Error(line, "not a button id: " + line.rest);
    CurrentDialogScript().Queue(DialogAnswer{*id, std::string()});
  } else if (v == "save") {
    CurrentDialogScript().Queue(DialogAnswer{1, line.rest});
  } else if (v == "cancel") {
    CurrentDialogScript().Queue(DialogAnswer{2, std::string()});
  } else if (v == "wait") {
    char* end = nullptr;
    const long long ms = std::strtoll(line.rest.c_str(), &end, 10);
    if (line.rest.empty() || *end != '\0' || ms < 0) return Error(line, "not a time in ms: " + line.rest);
    waiting_ = true;
    waitUntil_ = vqwin::CurrentClock().Now() + static_cast<uint64_t>(ms);
  } else if (v == "dump") {
    TCustomForm* f = form();
    if (!f) return Error(line, "no form named " + name);
    out_ << DumpForm(f);
  } else if (v == "render") {
    TCustomForm* f = form();
    if (!f) return Error(line, "no form named " + name);
    if (rest.empty()) return Error(line, "no file name");
    if (!RenderFormToPng(f, rest)) Error(line, "cannot write " + rest);
  } else {
    Error(line, "unknown action");
  }
}

}  // namespace vcl

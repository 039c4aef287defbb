#include "Script.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <sstream>
#include <thread>

#include "Names.h"
#include "vqce/Failures.h"
#include "vqce/SmartCard.h"
#include "vqce/UsbHost.h"
#include "vqsim/Cards.h"

namespace cehost {
namespace {

std::vector<std::string> Split(const std::string& line) {
  std::istringstream s(line);
  std::vector<std::string> words;
  for (std::string w; s >> w;) words.push_back(w);
  return words;
}

std::string Narrow(const std::wstring& w) { return std::string(w.begin(), w.end()); }

void AppendU32(std::vector<uint8_t>& v, uint32_t x) {
  for (int i = 0; i < 4; ++i) v.push_back(static_cast<uint8_t>(x >> (8 * i)));
}

bool AppendHex(std::vector<uint8_t>& v, const std::string& hex) {
  if (hex.size() % 2) return false;
  for (size_t i = 0; i < hex.size(); i += 2) {
    unsigned byte;
    if (sscanf(hex.substr(i, 2).c_str(), "%2x", &byte) != 1) return false;
    v.push_back(static_cast<uint8_t>(byte));
  }
  return true;
}

// One input token: attr:NAME, hex:BYTES, t0:BYTES, t1:BYTES, raw:BYTES or a u32 number.
bool AppendInput(std::vector<uint8_t>& v, const std::string& token) {
  const auto colon = token.find(':');
  if (colon != std::string::npos) {
    const std::string kind = token.substr(0, colon), rest = token.substr(colon + 1);
    if (kind == "attr") {
      auto tag = AttributeTag(rest);
      if (!tag) return false;
      AppendU32(v, *tag);
      return true;
    }
    if (kind == "t0" || kind == "t1") {
      AppendU32(v, kind == "t0" ? 1 : 2);
      AppendU32(v, 8);
      return AppendHex(v, rest);
    }
    if (kind == "hex" || kind == "raw") return AppendHex(v, rest);
    return false;
  }
  char* end = nullptr;
  const unsigned long x = strtoul(token.c_str(), &end, 0);
  if (token.empty() || *end) return false;
  AppendU32(v, static_cast<uint32_t>(x));
  return true;
}

// How long (real time) `bg` waits for its call to be under way.
constexpr auto kBackgroundStartLimit = std::chrono::seconds(10);

std::optional<vqce::usb::Endpoint> PipeNamed(const std::string& name) {
  if (name == "bulk-in") return vqce::usb::Endpoint::BulkIn;
  if (name == "bulk-out") return vqce::usb::Endpoint::BulkOut;
  if (name == "interrupt-in") return vqce::usb::Endpoint::InterruptIn;
  return std::nullopt;
}

std::optional<vqce::usb::Stall> StallNamed(const std::string& name) {
  if (name == "error") return vqce::usb::Stall::Error;
  if (name == "hang") return vqce::usb::Stall::Hang;
  if (name == "off") return vqce::usb::Stall::None;
  return std::nullopt;
}

CallResult Call(PFN_STREAM_IOCONTROL ioctl, DWORD_PTR h, uint32_t code, std::vector<uint8_t> in, DWORD outSize) {
  CallResult r;
  r.out.assign(outSize, 0);
  SetLastError(0);
  r.ok = ioctl(h, code, in.empty() ? nullptr : in.data(), static_cast<DWORD>(in.size()),
               outSize ? r.out.data() : nullptr, outSize, &r.returned);
  r.error = r.ok ? 0 : GetLastError();
  r.out.resize(r.returned < outSize ? r.returned : outSize);
  return r;
}

}  // namespace

std::shared_ptr<vqsim::Card> MakeCard(const std::string& kind) {
  if (kind == "t0") return vqsim::T0Card();
  if (kind == "t1") return vqsim::T1Card();
  if (kind == "t1-crc") return vqsim::T1CrcCard();
  if (kind == "inverse") return vqsim::InverseCard();
  if (kind == "tb1") return vqsim::Tb1Card();
  if (kind == "delayed") return vqsim::DelayedAtrCard();
  if (kind == "type2") return vqsim::FixedAtrCard(2);
  if (kind == "type3") return vqsim::FixedAtrCard(3);
  if (kind == "mute") return vqsim::MuteCard();
  return nullptr;
}

Script::~Script() {
  // A background call still running when the script ends (a tracking wait
  // nobody ends) would keep ce-host waiting for ever: the readers are
  // unplugged first then, which ends every call, and the calls joined.
  bool running = false;
  for (auto& [name, r] : readers_) {
    for (auto& [what, f] : r.background) {
      running = running || f.wait_for(std::chrono::seconds(0)) != std::future_status::ready;
    }
  }
  if (running) {
    out_ << "> (end of script: unplugging, background calls still run)\n";
    vqce::usb::UnplugAll();
  }
  for (auto& [name, r] : readers_) Join(name, r);
}

bool Script::Run(std::istream& in) {
  bool ok = true;
  for (std::string line; std::getline(in, line);) ok = Line(line) && ok;
  return ok;
}

Script::Reader* Script::Find(const std::string& name) {
  auto it = readers_.find(name);
  if (it == readers_.end()) {
    out_ << "  unknown reader " << name << "\n";
    return nullptr;
  }
  return &it->second;
}

void Script::Print(const std::string& what, const CallResult& r) {
  out_ << what << " -> " << (r.ok ? "TRUE" : "FALSE") << ", last error " << r.error;
  if (!r.out.empty()) {
    out_ << ", " << r.out.size() << " bytes:";
    char b[4];
    for (uint8_t c : r.out) {
      snprintf(b, sizeof(b), " %02X", c);
      out_ << b;
    }
    if (r.out.size() == 4) {
      uint32_t v = 0;
      for (int i = 3; i >= 0; --i) v = (v << 8) | r.out[i];
      out_ << " (" << v << ")";
    }
  }
  out_ << "\n";
}

bool Script::Line(const std::string& raw) {
  const std::string line = raw.substr(0, raw.find('#'));
  auto words = Split(line);
  if (words.empty()) return true;
  out_ << "> " << line << "\n";
  const std::string cmd = words[0];
  if (cmd == "readers") {
    for (auto& [reader, device] : vqce::smartcard::Readers()) {
      out_ << "  \"" << Narrow(reader) << "\" on " << Narrow(device) << "\n";
    }
    return true;
  }
  if (cmd == "sleep" && words.size() == 2) {
    Sleep(static_cast<DWORD>(strtoul(words[1].c_str(), nullptr, 0)));
    return true;
  }
  if (words.size() < 2) {
    out_ << "  needs a reader name\n";
    return false;
  }
  const std::string name = words[1];
  std::vector<std::string> args(words.begin() + 2, words.end());
  if (cmd == "plug") return Plug(name, args);
  Reader* r = Find(name);
  if (!r) return false;
  if (cmd == "unplug") {
    // Background calls go on: join prints how the unplug ended them.
    const bool gone = vqce::usb::Unplug(r->usbId);
    out_ << "  " << (gone ? "unplugged" : "was not plugged") << "\n";
    return true;
  }
  if (cmd == "insert" && args.size() == 1) {
    auto card = MakeCard(args[0]);
    if (!card) {
      out_ << "  unknown card kind " << args[0] << "\n";
      return false;
    }
    r->sim->InsertCard(card);
    return true;
  }
  if (cmd == "remove") {
    r->sim->RemoveCard();
    return true;
  }
  if (cmd == "mute") {
    const bool on = args.empty() || args[0] != "off";
    r->sim->UpdateFaults([on](vqsim::Faults& f) { f.muteReader = on; });
    return true;
  }
  if (cmd == "stall") return Stall(*r, args);
  if (cmd == "open") {
    if (!r->device.open) {
      out_ << "  no stream device\n";
      return false;
    }
    SetLastError(0);
    const DWORD_PTR h = r->device.open(r->device.context, 0, 0);
    const DWORD error = h ? 0 : GetLastError();
    if (h) r->open = h;
    out_ << "VQU_Open(" << Narrow(r->device.name) << ") -> " << (h ? "handle" : "0") << ", last error " << error
         << "\n";
    return true;
  }
  if (cmd == "close") {
    if (!r->device.close) return false;
    SetLastError(0);
    const BOOL ok = r->device.close(r->device.context);
    out_ << "VQU_Close(" << Narrow(r->device.name) << ") -> " << (ok ? "TRUE" : "FALSE") << ", last error "
         << (ok ? 0 : GetLastError()) << "\n";
    return true;
  }
  if (cmd == "ioctl" || cmd == "bg") return Ioctl(*r, name, args, cmd == "bg");
  if (cmd == "join") {
    Join(name, *r);
    return true;
  }
  out_ << "  unknown command " << cmd << "\n";
  return false;
}

bool Script::Plug(const std::string& name, const std::vector<std::string>& args) {
  vqsim::ReaderConfig config;
  std::string card;
  for (const auto& a : args) {
    const auto eq = a.find('=');
    const std::string key = a.substr(0, eq), value = eq == std::string::npos ? "" : a.substr(eq + 1);
    if (key == "model") {
      config.model = value;
    } else if (key == "firmware") {
      config.firmware = value;
    } else if (key == "card") {
      card = value;
    } else {
      out_ << "  unknown setting " << a << "\n";
      return false;
    }
  }
  Reader r;
  r.sim = std::make_shared<vqsim::SimReader>(config);
  if (!card.empty()) {
    auto c = MakeCard(card);
    if (!c) {
      out_ << "  unknown card kind " << card << "\n";
      return false;
    }
    r.sim->InsertCard(c);
  }
  const auto before = vqce::devices::List();
  auto plugged = vqce::usb::Plug(r.sim);
  r.usbId = plugged.id;
  r.claimed = plugged.claimed;
  for (const auto& d : vqce::devices::List()) {
    bool old = false;
    for (const auto& b : before) old = old || b.handle == d.handle;
    if (!old) r.device = d;
  }
  if (r.claimed && r.device.context) {
    out_ << "  attached as " << Narrow(r.device.name) << "\n";
  } else {
    out_ << "  not taken by the driver\n";
  }
  readers_[name] = std::move(r);
  return true;
}

bool Script::Ioctl(Reader& r, const std::string& name, const std::vector<std::string>& args, bool background) {
  if (args.empty()) return false;
  auto code = IoctlCode(args[0]);
  if (!code) {
    out_ << "  unknown I/O control " << args[0] << "\n";
    return false;
  }
  const bool tracking = *code == 0x310028 || *code == 0x31002C;
  DWORD outSize = tracking ? 0 : 512;
  std::vector<uint8_t> in;
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i].rfind("out=", 0) == 0) {
      outSize = static_cast<DWORD>(strtoul(args[i].c_str() + 4, nullptr, 0));
    } else if (!AppendInput(in, args[i])) {
      out_ << "  bad input " << args[i] << "\n";
      return false;
    }
  }
  const DWORD_PTR h = r.open ? r.open : r.device.context;
  PFN_STREAM_IOCONTROL ioctl = r.device.ioControl;
  if (!ioctl) {
    out_ << "  no stream device\n";
    return false;
  }
  const std::string what = "VQU_IOControl(" + Narrow(r.device.name) + ", " + IoctlName(*code) + ")";
  if (background) {
    // Returns once the call waits (for the reader, for a card) or has
    // ended, so that the next line happens during the call; at most
    // kBackgroundStartLimit.
    auto thread = std::make_shared<std::atomic<std::thread::id>>();
    auto call = std::async(std::launch::async, [=] {
      thread->store(std::this_thread::get_id());
      return Call(ioctl, h, *code, in, outSize);
    });
    const auto limit = std::chrono::steady_clock::now() + kBackgroundStartLimit;
    bool underWay = false;
    while (!underWay && std::chrono::steady_clock::now() < limit) {
      underWay = call.wait_for(std::chrono::milliseconds(1)) == std::future_status::ready ||
                 (thread->load() != std::thread::id() && vqce::ThreadWaiting(thread->load()));
    }
    r.background.emplace_back(what, std::move(call));
    out_ << "  " << name << ": started in the background" << (underWay ? "" : " (not yet waiting)") << "\n";
    return true;
  }
  Print(what, Call(ioctl, h, *code, in, outSize));
  return true;
}

bool Script::Stall(Reader& r, const std::vector<std::string>& args) {
  auto pipe = PipeNamed("bulk-in");
  auto stall = StallNamed("error");
  for (const auto& a : args) {
    if (auto p = PipeNamed(a)) {
      pipe = p;
    } else if (auto s = StallNamed(a)) {
      stall = s;
    } else {
      out_ << "  unknown pipe or stall " << a << "\n";
      return false;
    }
  }
  if (!vqce::usb::SetStall(r.usbId, *pipe, *stall)) {
    out_ << "  not plugged\n";
    return false;
  }
  return true;
}

void Script::Join(const std::string&, Reader& r) {
  for (auto& [what, f] : r.background) Print("(background) " + what, f.get());
  r.background.clear();
}

}  // namespace cehost

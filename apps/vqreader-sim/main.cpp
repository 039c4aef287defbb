// vqreader-sim: serves one simulated reader of the family on a Unix socket
// until stopped (SIGINT, SIGTERM). SIGUSR1 removes the card, SIGUSR2 inserts
// the card of --card again. With --control it is instead a small client that
// sends one control message to a running vqreader-sim.
#include <csignal>
#include <cstdio>
#include <iostream>

#include "CommandLine.h"
#include "ExitStatus.h"
#include "vqsim/SimReader.h"
#include "vqsim/SocketLink.h"
#include "vqsim/SocketServer.h"

namespace {

vqsim::SocketServer* g_server = nullptr;

void OnSignal(int sig) {
  if (!g_server) return;
  if (sig == SIGUSR1) g_server->PostRemoveCard();
  else if (sig == SIGUSR2) g_server->PostInsertCard();
  else g_server->Stop();
}

const char kControlCommands[] =
    "vqreader-sim: control commands: insert [KIND [ATRHEX]], remove, unplug, busy on|off, stall, identity\n";

// Why the card of an insert command cannot be made; empty when it can.
std::string CardProblem(const std::vector<std::string>& args) {
  if (args.size() < 2) return "";
  std::string hex;
  for (size_t i = 2; i < args.size(); ++i) hex += (i > 2 ? " " : "") + args[i];
  bool hexOk = true, known = false;
  const std::vector<uint8_t> atr = vqsim::FromHex(hex, &hexOk);
  if (!hexOk) return "the ATR is not a hex string: " + hex;
  vqsim::MakeCard(args[1], atr, &known);
  if (!known) return "unknown card kind " + args[1] + " (" + vqsim::CardKinds() + ")";
  return "";
}

int Control(const std::string& path, const std::vector<std::string>& args) {
  const std::string cmd = args.empty() ? "" : args[0];
  const bool known = cmd == "insert" || ((cmd == "remove" || cmd == "unplug" || cmd == "stall" || cmd == "identity") &&
                                         args.size() == 1) ||
                     (cmd == "busy" && args.size() == 2 && (args[1] == "on" || args[1] == "off"));
  if (!known) {
    std::cerr << kControlCommands;
    return launch::kUsage;
  }
  if (cmd == "insert") {
    if (const std::string problem = CardProblem(args); !problem.empty()) {
      std::cerr << "vqreader-sim: insert: " << problem << "\n";
      return launch::kUsage;
    }
  }
  std::string error;
  auto link = vqsim::SocketLink::Connect(path, &error);
  if (!link) {
    std::cerr << "vqreader-sim: " << error << "\n";
    return launch::kNoInput;
  }
  bool ok = false;
  if (cmd == "insert") {
    std::string spec;
    for (size_t i = 1; i < args.size(); ++i) spec += (i > 1 ? " " : "") + args[i];
    ok = link->InsertCard(spec);
  } else if (cmd == "remove") {
    ok = link->RemoveCard();
  } else if (cmd == "unplug") {
    ok = link->Unplug();
  } else if (cmd == "busy") {
    ok = link->SetBusy(args[1] == "on");
  } else if (cmd == "stall") {
    ok = link->StallBulk();
  } else if (cmd == "identity") {
    std::printf("vendor %04X product %04X location %08X busy %d\n", link->VendorId(), link->ProductId(),
                link->LocationId(), link->Busy() ? 1 : 0);
    return launch::kOk;
  }
  if (!ok) std::cerr << "vqreader-sim: " << cmd << ": the reader at " << path << " refused it or did not answer\n";
  return ok ? launch::kOk : launch::kFailed;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Serves one simulated reader on a Unix socket."};
  std::string socket, model = "VQ480T", firmware = "0100", kind = "t0", atrHex, control;
  uint32_t location = 0x14100000;
  std::vector<std::string> controlArgs;
  app.add_option("--socket", socket, "socket path to serve on");
  app.add_option("--model", model, "model text of the information block");
  app.add_option("--firmware", firmware, "four firmware digits")->check([](const std::string& s) {
    return s.size() == 4 && s.find_first_not_of("0123456789") == std::string::npos ? "" : "four digits 0-9";
  });
  app.add_option("--card", kind, std::string("card in the slot: ") + vqsim::CardKinds());
  app.add_option("--atr", atrHex, "ATR of the card in hex, direct form");
  app.add_option("--location", location, "USB location id");
  app.add_option("--control", control, "send a control message to the vqreader-sim on this socket");
  app.add_option("command", controlArgs, "control command and its arguments");
  if (const std::optional<int> end = launch::Parse(app, argc, argv)) return *end;

  if (!control.empty()) return Control(control, controlArgs);
  if (socket.empty()) {
    std::cerr << "vqreader-sim: --socket PATH is required\n";
    return launch::kUsage;
  }
  if (!controlArgs.empty()) {
    std::cerr << "vqreader-sim: a command (" << controlArgs[0] << ") is only taken with --control PATH\n";
    return launch::kUsage;
  }
  bool hexOk = true, known = false;
  std::vector<uint8_t> atr = vqsim::FromHex(atrHex, &hexOk);
  if (!hexOk) {
    std::cerr << "vqreader-sim: --atr: not a hex string: " << atrHex << "\n";
    return launch::kUsage;
  }
  auto card = vqsim::MakeCard(kind, atr, &known);
  if (!known) {
    std::cerr << "vqreader-sim: unknown card kind " << kind << " (" << vqsim::CardKinds() << ")\n";
    return launch::kUsage;
  }
  vqsim::ReaderConfig cfg;
  cfg.model = model;
  cfg.firmware = firmware;
  cfg.locationId = location;
  vqsim::SimReader reader(cfg);
  if (card) reader.InsertCard(card);
  vqsim::SocketServer server(reader, kind, atr);
  std::string error;
  if (!server.Listen(socket, &error)) {
    std::cerr << "vqreader-sim: " << error << "\n";
    return launch::kCannotMake;
  }
  g_server = &server;
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  for (int s : {SIGINT, SIGTERM, SIGUSR1, SIGUSR2}) sigaction(s, &sa, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
  server.Run();
  g_server = nullptr;
  return launch::kOk;
}

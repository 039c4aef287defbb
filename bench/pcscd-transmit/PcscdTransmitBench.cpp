// SCardTransmit round trips per second through pcscd, the ifdhandler bundle
// and a vqreader-sim reader with a T=1 card: a 5-byte APDU (8 bytes back) and
// a 261-byte APDU (255 bytes echoed back).
//
// The floor is measured in the same run, by the same daemon and client: a
// second reader whose handler (EchoHandler.cpp) answers every command at once
// with as many bytes as the card does (10 and 257 here). Each figure is
// printed at the end as a multiple of the floor.
//
// The benchmark starts its own daemon in a private mount namespace (as the
// integration tests do; root, or a user namespace otherwise) and stops it,
// and the simulator, by pid when it ends.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <winscard.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

const char* const kReader = "TERVANE VQ480T 00 00";
const char* const kFloorName = "Echo floor";  // the reader of the echo handler

struct Setup {
  std::string dir;
  pid_t sim = -1;
  pid_t daemon = -1;
  SCARDCONTEXT context = 0;
  SCARDHANDLE card = 0;       // the card in the ifdhandler's reader
  SCARDHANDLE floorCard = 0;  // the echo handler's card
};

Setup g;

pid_t Spawn(const std::vector<std::string>& argv, const std::string& log,
            const std::vector<std::string>& env = {}) {
  pid_t pid = fork();
  if (pid != 0) return pid;
  int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd >= 0) {
    dup2(fd, 1);
    dup2(fd, 2);
  }
  for (const std::string& e : env) putenv(const_cast<char*>(e.c_str()));
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  execvp(args[0], args.data());
  _exit(127);
}

bool WaitForFile(const std::string& path, pid_t owner) {
  for (int i = 0; i < 500; ++i) {
    if (std::filesystem::exists(path)) return true;
    if (waitpid(owner, nullptr, WNOHANG) == owner) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

void Stop(pid_t& pid, int sig) {
  if (pid <= 0) return;
  kill(pid, sig);
  for (int i = 0; i < 500 && waitpid(pid, nullptr, WNOHANG) == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  if (waitpid(pid, nullptr, WNOHANG) == 0) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  pid = -1;
}

void TearDown() {
  if (g.card) SCardDisconnect(g.card, SCARD_LEAVE_CARD);
  if (g.floorCard) SCardDisconnect(g.floorCard, SCARD_LEAVE_CARD);
  if (g.context) SCardReleaseContext(g.context);
  Stop(g.daemon, SIGINT);
  Stop(g.sim, SIGTERM);
  if (!g.dir.empty()) std::filesystem::remove_all(g.dir);
}

// Waits (at most 10 s) for the card in `reader` and connects to it with T=1.
bool Connect(const char* reader, SCARDHANDLE* card) {
  SCARD_READERSTATE state{};
  state.szReader = reader;
  state.dwCurrentState = SCARD_STATE_UNAWARE;
  for (int i = 0; i < 20 && !(state.dwEventState & SCARD_STATE_PRESENT); ++i) {
    SCardGetStatusChange(g.context, 500, &state, 1);
    state.dwCurrentState = state.dwEventState;
  }
  DWORD active = 0;
  return SCardConnect(g.context, reader, SCARD_SHARE_SHARED, SCARD_PROTOCOL_T1, card, &active) ==
         SCARD_S_SUCCESS;
}

bool SetUp() {
  char templ[] = "/tmp/vq-bench-XXXXXX";
  if (!mkdtemp(templ)) return false;
  g.dir = templ;
  std::string socket = g.dir + "/reader.sock";
  std::filesystem::create_directory(g.dir + "/conf");
  std::filesystem::create_directory(g.dir + "/run");
  std::ofstream(g.dir + "/conf/reader.conf")
      << "FRIENDLYNAME \"TERVANE VQ480T\"\nLIBPATH " VQ_BUNDLE_SO "\nCHANNELID 1\n\n"
      << "FRIENDLYNAME \"" << kFloorName << "\"\nLIBPATH " VQ_ECHO_HANDLER_SO "\nCHANNELID 2\n";

  g.sim = Spawn({VQ_READER_SIM, "--socket", socket, "--card", "t1"}, g.dir + "/sim.log");
  if (!WaitForFile(socket, g.sim)) return false;

  std::string script = "mount -t tmpfs -o size=1m,mode=755 tmpfs /run && mkdir /run/pcscd && "
                       "mount --bind " + g.dir + "/run /run/pcscd && exec pcscd -f -c " + g.dir +
                       "/conf";
  std::vector<std::string> unshare = {"unshare", geteuid() == 0 ? "-m" : "-Urm", "--propagation",
                                      "private", "sh", "-c", script};
  g.daemon = Spawn(unshare, g.dir + "/pcscd.log", {"VQUSB_SIM_SOCKETS=" + socket});
  std::string comm = g.dir + "/run/pcscd.comm";
  if (!WaitForFile(comm, g.daemon)) return false;
  setenv("PCSCLITE_CSOCK_NAME", comm.c_str(), 1);

  if (SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &g.context) != SCARD_S_SUCCESS)
    return false;
  // The floor reader's name carries the index pcscd gave it.
  std::string floorReader;
  DWORD size = SCARD_AUTOALLOCATE;
  char* names = nullptr;
  if (SCardListReaders(g.context, nullptr, reinterpret_cast<char*>(&names), &size) ==
      SCARD_S_SUCCESS) {
    for (const char* n = names; *n; n += strlen(n) + 1)
      if (std::string(n).rfind(kFloorName, 0) == 0) floorReader = n;
    SCardFreeMemory(g.context, names);
  }
  return Connect(kReader, &g.card) && !floorReader.empty() &&
         Connect(floorReader.c_str(), &g.floorCard);
}

void Transmit(benchmark::State& state, SCARDHANDLE card, const std::vector<BYTE>& apdu,
              DWORD expected) {
  BYTE answer[300];
  for (auto _ : state) {
    DWORD length = sizeof answer;
    LONG rv = SCardTransmit(card, SCARD_PCI_T1, apdu.data(), apdu.size(), nullptr, answer,
                            &length);
    if (rv != SCARD_S_SUCCESS || length != expected) {
      state.SkipWithError("SCardTransmit failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
}

const std::vector<BYTE> kApdu5 = {0x00, 0x84, 0x00, 0x00, 0x08};

std::vector<BYTE> Apdu261() {
  std::vector<BYTE> apdu = {0x80, 0xEE, 0x00, 0x00, 0xFF};
  for (int i = 0; i < 255; ++i) apdu.push_back(static_cast<BYTE>(i));
  apdu.push_back(0x00);
  return apdu;
}

void BM_Transmit5(benchmark::State& state) { Transmit(state, g.card, kApdu5, 8 + 2); }
BENCHMARK(BM_Transmit5)->UseRealTime();

void BM_Transmit5_Floor(benchmark::State& state) { Transmit(state, g.floorCard, kApdu5, 8 + 2); }
BENCHMARK(BM_Transmit5_Floor)->UseRealTime();

void BM_Transmit261(benchmark::State& state) { Transmit(state, g.card, Apdu261(), 255 + 2); }
BENCHMARK(BM_Transmit261)->UseRealTime();

void BM_Transmit261_Floor(benchmark::State& state) {
  Transmit(state, g.floorCard, Apdu261(), 255 + 2);
}
BENCHMARK(BM_Transmit261_Floor)->UseRealTime();

// The console report, and each run's time per round trip kept for the
// comparison with the floor at the end.
class FloorReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs)
      if (run.run_type == Run::RT_Iteration && !run.error_occurred && run.iterations > 0)
        seconds_[run.run_name.function_name] =
            run.real_accumulated_time / static_cast<double>(run.iterations);
  }

  void PrintRatios() const {
    std::printf("\nTime per round trip as a multiple of the floor (pcscd with a handler that"
                " answers at once, as many bytes as the card):\n");
    for (const char* name : {"BM_Transmit5", "BM_Transmit261"}) {
      auto figure = seconds_.find(name);
      auto floor = seconds_.find(std::string(name) + "_Floor");
      if (figure == seconds_.end() || floor == seconds_.end() || floor->second <= 0) continue;
      std::printf("  %-16s %8.1f us  floor %8.1f us  x%.2f\n", name, figure->second * 1e6,
                  floor->second * 1e6, figure->second / floor->second);
    }
  }

 private:
  std::map<std::string, double> seconds_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  if (!SetUp()) {
    std::fprintf(stderr, "pcscd-transmit: could not start pcscd and vqreader-sim (logs in %s)\n",
                 g.dir.c_str());
    g.dir.clear();  // keep the logs
    TearDown();
    return 1;
  }
  FloorReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  benchmark::Shutdown();
  TearDown();
  return 0;
}

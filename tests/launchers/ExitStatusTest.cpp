// One exit-status scheme in every launcher: 0 success, 1 a scripted action
// or operation failed, 64 usage, 65 bad data, 66 missing input, 73 output
// that cannot be made; --help is a success.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include <vqtest/Launch.h>

namespace {

namespace fs = std::filesystem;

struct Case {
  std::string command;
  int status;
  std::string says;
};

void ExpectAll(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    const vqtest::LaunchResult r = vqtest::Launch(c.command);
    EXPECT_EQ(r.status, c.status) << c.command << "\n" << r.out;
    EXPECT_TRUE(r.Has(c.says)) << c.command << "\n" << r.out;
  }
}

TEST(ExitStatus, CeHost) {
  const std::string ce = CE_HOST;
  ExpectAll({
      {ce + " --help", 0, "--speed"},
      {"echo 'sleep 10' | " + ce + " --speed 1 -", 0, "USBUnInstallDriver() -> TRUE"},
      {"echo 'sleep 10' | " + ce + " --speed 1000000 -", 0, "USBUnInstallDriver() -> TRUE"},
      {ce + " --speed 0 /dev/null", 64, "--speed: a number from 1 (real time) to 1000000, not 0"},
      {ce + " --speed -2 /dev/null", 64, "--speed: a number from 1 (real time) to 1000000, not -2"},
      {ce + " --speed 0.99 /dev/null", 64, "not 0.99"},
      {ce + " --speed 1000001 /dev/null", 64, "not 1000001"},
      {ce + " --speed nan /dev/null", 64, "not nan"},
      {ce + " --speed fast /dev/null", 64, "not fast"},
      {ce + " --bogus", 64, "--bogus"},
      {ce + " /nonexistent/demo.ce", 66, "ce-host: script /nonexistent/demo.ce: cannot be read"},
      {ce + " --library /nonexistent/libVQRDCE.so -", 66, "ce-host: --library /nonexistent/libVQRDCE.so: no such file"},
      {ce + " --library /etc/hostname -", 65, "ce-host: cannot load /etc/hostname"},
      {"echo 'frobnicate r1' | " + ce + " -", 1, "USBUnInstallDriver() -> TRUE"},
  });
}

TEST(ExitStatus, EngineDemo) {
  const std::string demo = VQENGINE_DEMO;
  ExpectAll({
      {demo + " --help", 0, "--card"},
      {demo + " --card t1", 0, "T=1"},
      {demo + " --card t9", 64, "--card: t9 not in {t0,t1,t1-crc,inverse}"},
      {demo + " extra", 64, "extra"},
  });
}

// The simulator's control client says why it refuses a command, before it
// reaches the reader.
TEST(ExitStatus, ReaderSimulator) {
  const std::string sim = VQREADER_SIM;
  const fs::path socket = fs::temp_directory_path() / ("vqexit-" + std::to_string(::getpid()) + ".sock");
  const fs::path gone = fs::temp_directory_path() / ("vqexit-" + std::to_string(::getpid()) + "-gone.sock");
  const pid_t server = ::fork();
  ASSERT_GE(server, 0);
  if (server == 0) {
    ::execl(sim.c_str(), sim.c_str(), "--socket", socket.c_str(), "--card", "t1", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  for (int i = 0; i < 500 && !fs::exists(socket); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  const std::string control = sim + " --control " + socket.string();
  ExpectAll({
      {sim + " --help", 0, "--control"},
      {sim, 64, "vqreader-sim: --socket PATH is required"},
      {sim + " --socket " + socket.string() + " remove", 64, "a command (remove) is only taken with --control PATH"},
      {sim + " --socket /x.sock --card t9", 64, "vqreader-sim: unknown card kind t9 (t0, t1,"},
      {sim + " --socket /x.sock --atr 3G", 64, "vqreader-sim: --atr: not a hex string: 3G"},
      {sim + " --socket /x.sock --firmware 12", 64, "four digits"},
      {sim + " --socket /nonexistent/r.sock", 73, "cannot listen on /nonexistent/r.sock"},
      {control + " insert t9", 64, "vqreader-sim: insert: unknown card kind t9 (t0, t1,"},
      {control + " insert t1 3B 1", 64, "vqreader-sim: insert: the ATR is not a hex string: 3B 1"},
      {control + " frobnicate", 64, "control commands: insert [KIND [ATRHEX]], remove"},
      {control + " busy maybe", 64, "control commands:"},
      {control + " insert t0 3B 00", 0, ""},
      {control + " insert", 0, ""},
      {control + " identity", 0, "vendor "},
      {sim + " --control " + gone.string() + " remove", 66, "cannot connect to " + gone.string()},
      {control + " unplug", 0, ""},
  });
  ::kill(server, SIGTERM);
  int status = -1;
  ASSERT_EQ(::waitpid(server, &status, 0), server);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  fs::remove(socket);
}

}  // namespace

// A reader served on a Unix socket, reached through SocketLink: in process
// (server on a thread) and as the vqreader-sim program.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "SimTestUtil.h"
#include "vqsim/Cards.h"
#include "vqsim/SocketLink.h"
#include "vqsim/SocketServer.h"

using namespace vqsim;

namespace {

std::string TempSocket(const char* tag) {
  return "/tmp/vqsim-" + std::string(tag) + "-" + std::to_string(::getpid()) + ".sock";
}

// Bulk-in transfers until one times out.
std::vector<uint8_t> ReadFrame(UsbLink& link) {
  std::vector<uint8_t> all;
  uint8_t buf[512];
  size_t got = 0;
  while (link.BulkIn(buf, sizeof buf, &got, 50) == LinkStatus::Ok) all.insert(all.end(), buf, buf + got);
  return all;
}

struct Served {
  SimReader reader{ReaderConfig{"VQ480T", "0070", kVendorId, kProductId, 0x00220000}};
  SocketServer server{reader, "t1", {}};
  std::string path = TempSocket("inproc");
  std::thread thread;
  Served() {
    reader.InsertCard(T1Card());
    std::string err;
    EXPECT_TRUE(server.Listen(path, &err)) << err;
    thread = std::thread([this] { server.Run(); });
  }
  void Stop() {
    if (thread.joinable()) {
      server.Stop();
      thread.join();
    }
  }
  ~Served() { Stop(); }
};

TEST(SocketLink, IdentityFramesNoticesAndControl) {
  Served s;
  std::string err;
  auto link = SocketLink::Connect(s.path, &err);
  ASSERT_TRUE(link) << err;
  EXPECT_EQ(link->VendorId(), kVendorId);
  EXPECT_EQ(link->ProductId(), kProductId);
  EXPECT_EQ(link->LocationId(), 0x00220000u);

  auto req = simtest::Request(kMsgPowerOn, 17);
  ASSERT_EQ(link->BulkOut(req.data(), req.size()), LinkStatus::Ok);
  auto a = ReadFrame(*link);
  ASSERT_GE(a.size(), kHeaderSize);
  EXPECT_EQ(ParseHeader(a).seq, 17);
  auto p = simtest::PayloadOf(a);
  EXPECT_EQ(std::vector<uint8_t>(p.begin() + 1, p.end()), atr::T1Lrc());

  uint8_t n[2];
  size_t got = 0;
  ASSERT_EQ(link->InterruptIn(n, 2, &got, 50), LinkStatus::Ok);  // the insertion at start
  EXPECT_EQ(link->InterruptIn(n, 2, &got, 20), LinkStatus::Timeout);

  // A waiting interrupt read is answered by a removal from another client.
  std::thread waiter([&] {
    uint8_t m[2] = {0, 0xFF};
    size_t k = 0;
    EXPECT_EQ(link->InterruptIn(m, 2, &k, 60000), LinkStatus::Ok);
    EXPECT_EQ(m[0], kNotifySlotChange);
    EXPECT_EQ(m[1] & 1, 0);
  });
  auto control = SocketLink::Connect(s.path);
  ASSERT_TRUE(control);
  EXPECT_TRUE(control->RemoveCard());
  waiter.join();
  EXPECT_TRUE(control->InsertCard("t0 3B 02 56 51"));
  EXPECT_FALSE(control->InsertCard("bogus"));
  EXPECT_TRUE(control->SetBusy(true));
  EXPECT_TRUE(link->Busy());
  EXPECT_EQ(s.reader.CurrentCard()->Kind(), "t0");

  EXPECT_TRUE(control->Unplug());
  EXPECT_EQ(link->BulkOut(req.data(), req.size()), LinkStatus::Unplugged);
}

TEST(SocketLink, ServerGoingAwayMidTransferIsAFailedTransfer) {
  Served s;
  auto link = SocketLink::Connect(s.path);
  ASSERT_TRUE(link);
  int wakes = 0;
  link->SetWakeup([&] { ++wakes; });
  s.reader.UpdateFaults([](Faults& f) { f.muteReader = true; });
  auto req = simtest::Request(kMsgGetSlotStatus, 1);
  ASSERT_EQ(link->BulkOut(req.data(), req.size()), LinkStatus::Ok);
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    s.Stop();
  });
  uint8_t buf[512];
  size_t got = 0;
  EXPECT_EQ(link->BulkIn(buf, sizeof buf, &got, 60000), LinkStatus::Error);
  stopper.join();
  EXPECT_EQ(link->BulkOut(req.data(), req.size()), LinkStatus::Error);
  EXPECT_GE(wakes, 1);
  EXPECT_FALSE(SocketLink::Connect(s.path));
}

TEST(ReaderSimProgram, ServesAndTakesControlAndSignals) {
  const std::string prog = VQREADER_SIM_PATH;
  if (prog.empty()) GTEST_SKIP() << "vqreader-sim not built";
  const std::string path = TempSocket("prog");
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::execl(prog.c_str(), prog.c_str(), "--socket", path.c_str(), "--model", "VQ380", "--firmware", "0040", "--card",
            "t1-crc", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  std::unique_ptr<SocketLink> link;
  for (int i = 0; i < 500 && !link; ++i) {
    link = SocketLink::Connect(path);
    if (!link) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(link);
  auto req = simtest::Request(kMsgGetInfo, 3);
  link->BulkOut(req.data(), req.size());
  auto info = simtest::PayloadOf(ReadFrame(*link));
  ASSERT_EQ(info.size(), 16u);
  EXPECT_EQ(std::string(info.begin() + 4, info.end()), "VQ380-  0040");

  uint8_t n[2];
  size_t got = 0;
  ASSERT_EQ(link->InterruptIn(n, 2, &got, 1000), LinkStatus::Ok);  // inserted at start
  const std::string cmd = prog + " --control " + path + " remove";
  EXPECT_EQ(std::system(cmd.c_str()), 0);
  ASSERT_EQ(link->InterruptIn(n, 2, &got, 5000), LinkStatus::Ok);
  EXPECT_EQ(n[1] & 1, 0);
  ::kill(pid, SIGUSR2);  // the t1-crc card again
  ASSERT_EQ(link->InterruptIn(n, 2, &got, 5000), LinkStatus::Ok);
  EXPECT_EQ(n[1] & 1, 1);
  req = simtest::Request(kMsgPowerOn, 4);
  link->BulkOut(req.data(), req.size());
  auto p = simtest::PayloadOf(ReadFrame(*link));
  EXPECT_EQ(std::vector<uint8_t>(p.begin() + 1, p.end()), atr::T1Crc());

  ::kill(pid, SIGTERM);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(link->BulkOut(req.data(), req.size()), LinkStatus::Error);
}

}  // namespace

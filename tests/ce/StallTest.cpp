// Halted USB pipes under the driver: a failed transfer is a failure, within
// the read's bound, and nothing reads on in a busy loop.
#include <future>

#include "CeFixture.h"
#include "Frame.h"

namespace cetest {
namespace {

using vqce::usb::Endpoint;
using vqce::usb::Stall;

// Waits for a call running on another thread; a call still running after
// 10 s of real time is freed by unplugging its reader, and counts as hung.
template <typename T>
bool Ends(std::future<T>& f, const Reader& r) {
  if (f.wait_for(std::chrono::seconds(10)) == std::future_status::ready) return true;
  vqce::usb::Unplug(r.id);
  return false;
}

struct StallCase {
  const char* name;
  uint32_t protocol;
  Endpoint pipe;
  Stall stall;
  bool duringRead;  // halted while the transmit waits for its answer
  size_t reads;     // bulk-in reads the transmit makes
};

void PrintTo(const StallCase& c, std::ostream* os) { *os << c.name; }

class PipeStall : public CeDriver, public ::testing::WithParamInterface<StallCase> {};

TEST_P(PipeStall, TransmitFailsWithinItsBoundAndTheReaderAnswersAfterwards) {
  const StallCase& c = GetParam();
  Reader r = Plug("VQ480T", "0100", c.protocol == ProtocolT0 ? std::shared_ptr<vqsim::Card>(vqsim::T0Card())
                                                             : std::shared_ptr<vqsim::Card>(vqsim::T1Card()));
  ASSERT_TRUE(r.claimed);
  DWORD_PTR h = OpenWithCard(r, c.protocol);
  const size_t readsBefore = vqce::usb::TransfersIssued(r.id, Endpoint::BulkIn);
  if (c.duringRead) {
    r.sim->UpdateFaults([](vqsim::Faults& f) { f.muteReader = true; });
  } else {
    ASSERT_TRUE(vqce::usb::SetStall(r.id, c.pipe, c.stall));
  }
  const DWORD before = GetTickCount();
  auto transmit = std::async(std::launch::async, [&] {
    return Ioctl(h, IOCTL_SMARTCARD_TRANSMIT, Request(c.protocol, {0x00, 0x84, 0x00, 0x00, 0x08}), 300);
  });
  if (c.duringRead) {
    ASSERT_TRUE(Eventually([&] { return vqce::usb::TransfersIssued(r.id, Endpoint::BulkIn) > readsBefore; }));
    ASSERT_TRUE(vqce::usb::SetStall(r.id, c.pipe, c.stall));
  }
  ASSERT_TRUE(Ends(transmit, r)) << "the transmit read on without end";
  const DWORD elapsed = GetTickCount() - before;
  auto result = transmit.get();
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.error, static_cast<DWORD>(ERROR_GEN_FAILURE));
  EXPECT_EQ(result.returned, 0u);
  EXPECT_EQ(vqce::usb::TransfersIssued(r.id, Endpoint::BulkIn) - readsBefore, c.reads)
      << "a failed transfer ends the exchange";
  if (c.stall == Stall::Hang) {
    EXPECT_GE(elapsed, ReadTimeoutCommand) << "a transfer that never completes waits out the read time-out";
  }

  // The reader lock was given back: calls behind it are answered.
  auto state = Ioctl(h, IOCTL_SMARTCARD_GET_STATE, {}, 4);
  EXPECT_TRUE(state.ok) << state.error;
  EXPECT_EQ(state.Value(), CardStateSpecific);
  EXPECT_TRUE(Attr(h, SCARD_ATTR_VENDOR_NAME).ok);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PipeStall,
    ::testing::Values(StallCase{"T0BulkInErrorWhileWaiting", ProtocolT0, Endpoint::BulkIn, Stall::Error, true, 1},
                      StallCase{"T1BulkInErrorWhileWaiting", ProtocolT1, Endpoint::BulkIn, Stall::Error, true, 1},
                      StallCase{"T0BulkInErrorFromTheStart", ProtocolT0, Endpoint::BulkIn, Stall::Error, false, 1},
                      StallCase{"T0BulkInNeverCompletes", ProtocolT0, Endpoint::BulkIn, Stall::Hang, false, 1},
                      StallCase{"T1BulkInNeverCompletes", ProtocolT1, Endpoint::BulkIn, Stall::Hang, false, 1},
                      StallCase{"T0BulkOutError", ProtocolT0, Endpoint::BulkOut, Stall::Error, false, 0},
                      StallCase{"T1BulkOutNeverCompletes", ProtocolT1, Endpoint::BulkOut, Stall::Hang, false, 0}),
    [](const ::testing::TestParamInfo<StallCase>& info) { return std::string(info.param.name); });

using CardStatusThread = CeDriver;

TEST_F(CardStatusThread, FailingInterruptPipeIsReadAgainAfterAPauseAndTheThreadEndsOnUnplug) {
  Reader r = Plug();
  ASSERT_TRUE(r.claimed);
  ASSERT_TRUE(vqce::usb::SetStall(r.id, Endpoint::InterruptIn, Stall::Error));

  // Reads over 30 s of platform time: the pause after a failure doubles from
  // 10 ms to 1 s, so at most 8 reads before the pause reaches 1 s and one a
  // second after that (a busy loop makes thousands).
  const size_t readsBefore = vqce::usb::TransfersIssued(r.id, Endpoint::InterruptIn);
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < 30000) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  const size_t reads = vqce::usb::TransfersIssued(r.id, Endpoint::InterruptIn) - readsBefore;
  EXPECT_LE(reads, 8u + 30u + 2u);

  // It keeps reading: once the pipe works again, an insertion is seen.
  ASSERT_TRUE(vqce::usb::SetStall(r.id, Endpoint::InterruptIn, Stall::None));
  r.sim->InsertCard(vqsim::T0Card());
  EXPECT_TRUE(Eventually([&] { return CardState(r.ext) == CardStateSwallowed; }));

  // Failing again, it ends on unplug within the first of tear-down's 3 s
  // waits: the pause is cut short.
  ASSERT_TRUE(vqce::usb::SetStall(r.id, Endpoint::InterruptIn, Stall::Error));
  ASSERT_TRUE(Eventually([&] { return vqce::usb::TransfersIssued(r.id, Endpoint::InterruptIn) > readsBefore + reads + 3; }));
  vqce::Clock::SetSpeed(1);
  const DWORD unplugAt = GetTickCount();
  const bool unplugged = vqce::usb::Unplug(r.id);
  const DWORD took = GetTickCount() - unplugAt;
  vqce::Clock::SetSpeed(1000);  // before any assertion can end the test
  ASSERT_TRUE(unplugged);
  EXPECT_LT(took, 3000u);
  EXPECT_TRUE(vqce::smartcard::Readers().empty());
}

}  // namespace
}  // namespace cetest

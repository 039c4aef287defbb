// The card-status thread after a failed interrupt read: it reads again after
// a pause of 10 ms, doubled after every further failure up to 1 s.
#include "CeFixture.h"

namespace cetest {
namespace {

using vqce::usb::Endpoint;
using vqce::usb::Stall;

using NoticePause = CeDriver;

TEST_F(NoticePause, FirstPauseTenMillisecondsDoublingToOneSecond) {
  Reader r = Plug();
  ASSERT_TRUE(r.claimed);
  // Reads again at 10, 30, 70, 150, 310, 630, 1270, 2270, 3270, 4270 ms after
  // the pipe fails: 6 within the first second, 9 within 3.5 s. A first pause
  // of 5 or 20 ms, or a ceiling of 500 ms, 1.5 s or 2 s, gives other counts;
  // the counts are taken 230 ms and more from the nearest read.
  // The card-status thread waits in its first read.
  ASSERT_TRUE(Eventually([&] { return vqce::usb::TransfersIssued(r.id, Endpoint::InterruptIn) > 0; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  vqce::Clock::SetSpeed(2);
  const size_t before = vqce::usb::TransfersIssued(r.id, Endpoint::InterruptIn);
  const DWORD start = GetTickCount();
  ASSERT_TRUE(vqce::usb::SetStall(r.id, Endpoint::InterruptIn, Stall::Error));
  size_t inOneSecond = 0;
  bool oneSecond = false;
  while (GetTickCount() - start < 3500) {
    if (!oneSecond && GetTickCount() - start >= 1000) {
      inOneSecond = vqce::usb::TransfersIssued(r.id, Endpoint::InterruptIn) - before;
      oneSecond = true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  const size_t inThreeAndAHalfSeconds = vqce::usb::TransfersIssued(r.id, Endpoint::InterruptIn) - before;
  vqce::Clock::SetSpeed(1000);
  EXPECT_EQ(inOneSecond, 6u);
  EXPECT_EQ(inThreeAndAHalfSeconds, 9u);
}

}  // namespace
}  // namespace cetest

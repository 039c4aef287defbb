// Card tracking: waits ended by insertion, removal, cancel, close (however
// many wait) and unplug; a transmit in progress when the reader goes.
#include <future>

#include "CeFixture.h"

namespace cetest {
namespace {

class Tracking : public CeDriver {
 protected:
  void SetUp() override {
    CeDriver::SetUp();
    reader = Plug();
    ASSERT_TRUE(reader.claimed);
    h = Open(reader);
    ASSERT_NE(h, 0u);
  }
  // Starts a tracking wait on another thread and returns once that thread
  // is blocked in it (or the call has ended).
  std::future<Result> Wait(DWORD code) {
    auto thread = std::make_shared<std::atomic<std::thread::id>>();
    auto f = std::async(std::launch::async, [this, code, thread] {
      thread->store(std::this_thread::get_id());
      return Ioctl(h, code, {}, 0);
    });
    EXPECT_TRUE(Eventually([&] {
      return (thread->load() != std::thread::id() && vqce::ThreadWaiting(thread->load())) ||
             f.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    }));
    return f;
  }
  // Tracking waits under way in the driver.
  size_t Waits() {
    EnterCriticalSection(&reader.ext->OsData->ReaderLock);
    const size_t n = BlockOf(reader.ext)->TrackingWaits;
    LeaveCriticalSection(&reader.ext->OsData->ReaderLock);
    return n;
  }
  Reader reader;
  DWORD_PTR h = 0;
};

TEST_F(Tracking, AlreadyTrueAnswersAtOnce) {
  EXPECT_TRUE(Ioctl(h, IOCTL_SMARTCARD_IS_ABSENT, {}, 0).ok);
  reader.sim->InsertCard(vqsim::T0Card());
  ASSERT_TRUE(Eventually([&] { return CardState(reader.ext) == CardStateSwallowed; }));
  EXPECT_TRUE(Ioctl(h, IOCTL_SMARTCARD_RESET_TRACKING, {}, 0).ok);  // the insertion's signal
  EXPECT_TRUE(Ioctl(h, IOCTL_SMARTCARD_IS_PRESENT, {}, 0).ok);
}

TEST_F(Tracking, InsertionAndRemovalEndTheWaits) {
  auto present = Wait(IOCTL_SMARTCARD_IS_PRESENT);
  reader.sim->InsertCard(vqsim::T0Card());
  auto r = present.get();
  EXPECT_TRUE(r.ok) << r.error;
  EXPECT_EQ(CardState(reader.ext), CardStateSwallowed);
  EXPECT_EQ(reader.ext->DeviceData->CardTrackingArmed, 0);

  auto absent = Wait(IOCTL_SMARTCARD_IS_ABSENT);
  reader.sim->RemoveCard();
  r = absent.get();
  EXPECT_TRUE(r.ok) << r.error;
  EXPECT_EQ(CardState(reader.ext), CardStateAbsent);
}

TEST_F(Tracking, CancelFromAnotherThread) {
  auto present = Wait(IOCTL_SMARTCARD_IS_PRESENT);
  EXPECT_TRUE(Ioctl(h, IOCTL_SMARTCARD_CANCEL_TRACKING, {}, 0).ok);
  auto r = present.get();
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, static_cast<DWORD>(ERROR_OPERATION_ABORTED));
}

TEST_F(Tracking, CloseDuringAWaitCancelsTwice) {
  auto present = Wait(IOCTL_SMARTCARD_IS_PRESENT);
  EXPECT_TRUE(VQU_Close(h));
  auto r = present.get();
  EXPECT_EQ(r.error, static_cast<DWORD>(ERROR_OPERATION_ABORTED));

  // The second cancel is still there after the next open...
  ASSERT_EQ(Open(reader), h);
  EXPECT_EQ(Ioctl(h, IOCTL_SMARTCARD_IS_PRESENT, {}, 0).error, static_cast<DWORD>(ERROR_OPERATION_ABORTED));
  // ...until tracking is reset (here the signal was used up already; reset
  // after another close to see it cleared).
  auto again = Wait(IOCTL_SMARTCARD_IS_PRESENT);
  EXPECT_TRUE(VQU_Close(h));
  EXPECT_EQ(again.get().error, static_cast<DWORD>(ERROR_OPERATION_ABORTED));
  ASSERT_EQ(Open(reader), h);
  EXPECT_TRUE(Ioctl(h, IOCTL_SMARTCARD_RESET_TRACKING, {}, 0).ok);
  auto fresh = Wait(IOCTL_SMARTCARD_IS_PRESENT);
  reader.sim->InsertCard(vqsim::T0Card());
  auto done = fresh.get();
  EXPECT_TRUE(done.ok) << "ended by the insertion, not by a stale cancel: " << done.error;
}

TEST_F(Tracking, CloseEndsEveryPendingWait) {
  for (const size_t count : {3u, 5u}) {
    SCOPED_TRACE(count);
    std::vector<std::future<Result>> waits;
    for (size_t i = 0; i < count; ++i) waits.push_back(Wait(IOCTL_SMARTCARD_IS_PRESENT));
    EXPECT_EQ(Waits(), count);
    EXPECT_TRUE(VQU_Close(h));
    size_t ended = 0;
    for (auto& w : waits) {
      if (w.wait_for(std::chrono::seconds(10)) != std::future_status::ready) continue;
      ++ended;
      EXPECT_EQ(w.get().error, static_cast<DWORD>(ERROR_OPERATION_ABORTED));
    }
    EXPECT_EQ(ended, count) << "a wait outlived the close";
    if (ended != count) {
      vqce::usb::Unplug(reader.id);  // frees the waits left behind
      return;
    }
    // None is left after a reopen, and no cancel is left over either.
    ASSERT_EQ(Open(reader), h);
    EXPECT_EQ(Waits(), 0u);
    auto fresh = Wait(IOCTL_SMARTCARD_IS_PRESENT);
    reader.sim->InsertCard(vqsim::T0Card());
    auto done = fresh.get();
    EXPECT_TRUE(done.ok) << "ended by the insertion: " << done.error;
    reader.sim->RemoveCard();
    ASSERT_TRUE(Eventually([&] { return CardState(reader.ext) == CardStateAbsent; }));
    EXPECT_TRUE(Ioctl(h, IOCTL_SMARTCARD_RESET_TRACKING, {}, 0).ok);
  }
}

TEST_F(Tracking, InsertionWhileClosedIsSeenAfterOpen) {
  EXPECT_TRUE(VQU_Close(h));
  reader.sim->InsertCard(vqsim::T0Card());
  ASSERT_TRUE(Eventually([&] { return CardState(reader.ext) == CardStateSwallowed; }));
  ASSERT_EQ(Open(reader), h);
  EXPECT_TRUE(Ioctl(h, IOCTL_SMARTCARD_IS_PRESENT, {}, 0).ok);
  // No tracking signal was left behind by the closed reader.
  auto absent = Wait(IOCTL_SMARTCARD_IS_ABSENT);
  reader.sim->RemoveCard();
  EXPECT_TRUE(absent.get().ok);
  EXPECT_EQ(CardState(reader.ext), CardStateAbsent) << "ended by the removal";
}

TEST_F(Tracking, UnplugDuringAWait) {
  auto present = Wait(IOCTL_SMARTCARD_IS_PRESENT);
  ASSERT_TRUE(vqce::usb::Unplug(reader.id));
  auto r = present.get();
  EXPECT_EQ(r.error, static_cast<DWORD>(ERROR_OPERATION_ABORTED));
  EXPECT_FALSE(Ioctl(h, IOCTL_SMARTCARD_GET_STATE, {}, 4).ok);
  EXPECT_TRUE(vqce::smartcard::Readers().empty());
}

TEST_F(Tracking, UnplugDuringATransmit) {
  reader.sim->InsertCard(vqsim::T0Card());
  ASSERT_TRUE(Eventually([&] { return CardState(reader.ext) == CardStateSwallowed; }));
  ASSERT_TRUE(Ioctl(h, IOCTL_SMARTCARD_POWER, U32(SCARD_COLD_RESET), 64).ok);
  ASSERT_TRUE(Ioctl(h, IOCTL_SMARTCARD_SET_PROTOCOL, U32(ProtocolT0), 4).ok);
  // The reader stops answering: the transmit waits for its answer.
  reader.sim->UpdateFaults([](vqsim::Faults& f) { f.muteReader = true; });
  reader.sim->ClearReceived();
  auto transmit = std::async(std::launch::async, [this] {
    return Ioctl(h, IOCTL_SMARTCARD_TRANSMIT, Request(ProtocolT0, {0x00, 0x84, 0x00, 0x00, 0x08}), 300);
  });
  ASSERT_TRUE(Eventually([&] { return !reader.sim->Received().empty(); }));
  ASSERT_TRUE(vqce::usb::Unplug(reader.id));
  auto r = transmit.get();
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, static_cast<DWORD>(ERROR_GEN_FAILURE));
}

TEST_F(Tracking, CallsRacingAnUnplugEndWithBadDevice) {
  std::atomic<int> calls{0};
  auto caller = std::async(std::launch::async, [&] {
    for (;;) {
      auto r = Ioctl(h, IOCTL_SMARTCARD_GET_STATE, {}, 4);
      ++calls;
      if (!r.ok && r.error == ERROR_BAD_DEVICE) return true;
      if (!r.ok && calls > 1000000) return false;
    }
  });
  ASSERT_TRUE(Eventually([&] { return calls > 10; }));
  ASSERT_TRUE(vqce::usb::Unplug(reader.id));
  EXPECT_TRUE(caller.get());
}

TEST_F(Tracking, MuteReaderTimesOutOnThePlatformClock) {
  reader.sim->UpdateFaults([](vqsim::Faults& f) { f.muteReader = true; });
  const DWORD before = GetTickCount();
  auto escape = Ioctl(h, IOCTL_SMARTCARD_VENDOR_ESCAPE, {1}, 16);
  EXPECT_EQ(escape.error, static_cast<DWORD>(ERROR_GEN_FAILURE));
  EXPECT_GE(GetTickCount() - before, 60000u) << "the 60-second read time-out passed on the platform clock";
}

}  // namespace
}  // namespace cetest

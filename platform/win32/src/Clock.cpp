#include "vqwin/Clock.h"

#include <chrono>
#include <thread>

namespace vqwin {
namespace {

uint64_t SteadyMs() {
  using namespace std::chrono;
  return static_cast<uint64_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

Clock g_defaultClock;
Clock* g_current = &g_defaultClock;

}  // namespace

Clock::Clock(Mode mode, uint64_t startMs)
    : mode_(mode), virtualNow_(startMs), realOrigin_(SteadyMs() - startMs) {}

uint64_t Clock::Now() const {
  return mode_ == Mode::Virtual ? virtualNow_ : SteadyMs() - realOrigin_;
}

void Clock::Sleep(uint64_t ms) {
  if (mode_ == Mode::Virtual) {
    virtualNow_ += ms;
  } else {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  }
}

void Clock::SleepUntil(uint64_t deadlineMs) {
  const uint64_t now = Now();
  if (deadlineMs > now) Sleep(deadlineMs - now);
}

Clock& CurrentClock() { return *g_current; }

void SetCurrentClock(Clock* clock) { g_current = clock ? clock : &g_defaultClock; }

}  // namespace vqwin

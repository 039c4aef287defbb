#include "vqce/Clock.h"

#include <atomic>
#include <mutex>
#include <thread>

namespace vqce {
namespace {

using Steady = std::chrono::steady_clock;

// Platform time is kept as an origin (platform ms at `realOrigin`) plus the
// real time since then times the speed; a change of speed moves the origin so
// that the clock never jumps back.
struct ClockState {
  std::mutex mutex;
  Steady::time_point realOrigin = Steady::now();
  double platformOriginMs = 0;
  double speed = 1;
};

ClockState& State() {
  static ClockState state;
  return state;
}

double NowLocked(ClockState& s) {
  const double realMs =
      std::chrono::duration<double, std::milli>(Steady::now() - s.realOrigin).count();
  return s.platformOriginMs + realMs * s.speed;
}

}  // namespace

uint64_t Clock::NowMs() {
  ClockState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  return static_cast<uint64_t>(NowLocked(s));
}

void Clock::SetSpeed(double speed) {
  ClockState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.platformOriginMs = NowLocked(s);
  s.realOrigin = Steady::now();
  s.speed = speed < 1 ? 1 : speed;
}

double Clock::Speed() {
  ClockState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.speed;
}

std::chrono::microseconds Clock::RealDuration(uint64_t ms) {
  const double us = static_cast<double>(ms) * 1000.0 / Speed();
  // Round up so that a wait never ends before its platform time has passed.
  return std::chrono::microseconds(static_cast<int64_t>(us) + (us > static_cast<int64_t>(us) ? 1 : 0));
}

void Clock::SleepMs(uint64_t ms) {
  if (ms == 0) {
    std::this_thread::yield();
    return;
  }
  const uint64_t deadline = NowMs() + ms;
  for (uint64_t now = NowMs(); now < deadline; now = NowMs()) {
    std::this_thread::sleep_for(RealDuration(deadline - now));
  }
}

}  // namespace vqce

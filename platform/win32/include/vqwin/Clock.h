// The simulated PC's clock. GetTickCount, Sleep, GetLocalTime and the VCL
// timers all read this one clock: real time when a person runs a program,
// virtual time in tests and scripted runs (Sleep advances it, nothing waits).
#pragma once

#include <cstdint>

namespace vqwin {

class Clock {
 public:
  enum class Mode { Real, Virtual };

  explicit Clock(Mode mode = Mode::Virtual, uint64_t startMs = 0);

  Mode mode() const { return mode_; }

  // Milliseconds since the machine started.
  uint64_t Now() const;

  // Lets `ms` milliseconds pass: a virtual clock moves on at once, a real one
  // blocks the calling thread.
  void Sleep(uint64_t ms);

  // Waits until the clock reads at least `deadlineMs` (Sleep for the rest).
  void SleepUntil(uint64_t deadlineMs);

 private:
  Mode mode_;
  uint64_t virtualNow_;
  uint64_t realOrigin_;  // steady-clock ms at construction, minus startMs
};

// The clock of the current machine. Until a machine sets its own, a virtual
// clock starting at 0.
Clock& CurrentClock();
void SetCurrentClock(Clock* clock);  // nullptr restores the default

}  // namespace vqwin

// The clock of the Windows CE stand-in. Sleep, GetTickCount and every timed
// wait read it. It runs `speed` times faster than real time: 1 for a person
// watching ce-host, 1000 or more in tests, so that a 60-second read time-out
// passes in 60 ms and the order of events stays the same.
#pragma once

#include <chrono>
#include <cstdint>

namespace vqce {

class Clock {
 public:
  // Milliseconds of platform time since the stand-in started.
  static uint64_t NowMs();
  // How many platform milliseconds pass per real millisecond (at least 1).
  static void SetSpeed(double speed);
  static double Speed();
  // The real duration that `ms` platform milliseconds take.
  static std::chrono::microseconds RealDuration(uint64_t ms);
  // Lets `ms` platform milliseconds pass on the calling thread.
  static void SleepMs(uint64_t ms);
};

}  // namespace vqce

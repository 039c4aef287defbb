// The stand-in's clock, and sleep() for the code built on the stand-in: the
// definition is hidden, so it serves the calls of the module it is linked
// into and leaves the rest of the process (pcscd, say) on the C library's.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "vqiokit/SimDevices.h"

namespace vqiokit {
namespace {

std::atomic<bool> g_virtual{false};
std::atomic<uint64_t> g_virtualNow{0};

uint64_t RealNowMs() {
  using namespace std::chrono;
  static const auto origin = steady_clock::now();
  return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now() - origin).count());
}

}  // namespace

void UseVirtualClock(bool on) { g_virtual = on; }

uint64_t NowMs() { return g_virtual ? g_virtualNow.load() : RealNowMs(); }

void SleepMs(uint64_t ms) {
  if (g_virtual)
    g_virtualNow += ms;
  else
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace vqiokit

extern "C" __attribute__((visibility("hidden"))) unsigned int sleep(unsigned int seconds) {
  vqiokit::SleepMs(uint64_t{seconds} * 1000);
  return 0;
}

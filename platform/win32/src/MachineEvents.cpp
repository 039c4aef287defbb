// Events that other programs of the machine finish later (vqwin/MachineEvents.h).
#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "vqwin/Clock.h"
#include "vqwin/Machine.h"
#include "vqwin/MachineEvents.h"

namespace vqwin {
namespace {

struct Event {
  const Machine* machine;
  std::string folder;  // with the pointer: a later machine at the same address is another one
  uint64_t due;
  uint64_t order;
  std::function<void()> action;
};

std::mutex g_mutex;
std::vector<Event> g_events;
uint64_t g_order = 0;
bool g_running = false;

bool OfCurrent(const Event& e, const Machine* m) {
  return m != nullptr && e.machine == m && e.folder == m->folder().string();
}

}  // namespace

void ScheduleMachineEvent(uint64_t dueMs, std::function<void()> action) {
  const Machine& m = CurrentMachine();
  std::lock_guard<std::mutex> lock(g_mutex);
  g_events.push_back(Event{&m, m.folder().string(), dueMs, g_order++, std::move(action)});
}

void RunDueMachineEvents() {
  const Machine* m = CurrentMachineIfAny();
  for (;;) {
    Event next;
    {
      std::lock_guard<std::mutex> lock(g_mutex);
      if (g_running || m == nullptr) return;
      // Events of machines that are gone or no longer current are dropped.
      g_events.erase(std::remove_if(g_events.begin(), g_events.end(),
                                    [m](const Event& e) { return !OfCurrent(e, m); }),
                     g_events.end());
      const uint64_t now = CurrentClock().Now();
      auto due = g_events.end();
      for (auto it = g_events.begin(); it != g_events.end(); ++it)
        if (it->due <= now && (due == g_events.end() || it->due < due->due ||
                               (it->due == due->due && it->order < due->order)))
          due = it;
      if (due == g_events.end()) return;
      next = std::move(*due);
      g_events.erase(due);
      g_running = true;
    }
    try {
      next.action();
    } catch (...) {
    }
    std::lock_guard<std::mutex> lock(g_mutex);
    g_running = false;
  }
}

int PendingMachineEvents() {
  const Machine* m = CurrentMachineIfAny();
  std::lock_guard<std::mutex> lock(g_mutex);
  return static_cast<int>(std::count_if(g_events.begin(), g_events.end(),
                                        [m](const Event& e) { return OfCurrent(e, m); }));
}

}  // namespace vqwin

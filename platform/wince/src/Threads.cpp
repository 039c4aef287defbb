#include "Threads.h"

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <system_error>
#include <thread>

namespace vqce::detail {
namespace {

// At most this many threads wait for a task; more end.
constexpr size_t kMaxWaiting = 16;

struct Task {
  void (*run)(void*) = nullptr;
  void* arg = nullptr;
};

struct Pool {
  std::mutex mutex;
  std::condition_variable cv;
  // Tasks handed over and not yet taken: never more than threads waiting.
  Task handed[kMaxWaiting];
  size_t first = 0, count = 0;
  size_t waiting = 0;
};

// Never destroyed: waiting threads may outlive the program's static objects.
Pool& P() {
  static Pool* pool = new Pool;
  return *pool;
}

void Run(Task task) {
  for (;;) {
    task.run(task.arg);
    std::unique_lock<std::mutex> lock(P().mutex);
    if (P().waiting >= kMaxWaiting) return;
    ++P().waiting;
    P().cv.wait(lock, [] { return P().count > 0; });
    --P().waiting;
    task = P().handed[P().first];
    P().first = (P().first + 1) % kMaxWaiting;
    --P().count;
  }
}

}  // namespace

bool StartThread(void (*run)(void*), void* arg) {
  {
    std::lock_guard<std::mutex> lock(P().mutex);
    if (P().waiting > P().count) {
      P().handed[(P().first + P().count) % kMaxWaiting] = Task{run, arg};
      ++P().count;
      P().cv.notify_one();
      return true;
    }
  }
  try {
    std::thread(Run, Task{run, arg}).detach();
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

}  // namespace vqce::detail

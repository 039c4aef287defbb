#include "Handles.h"

#include <unordered_map>

namespace vqce::detail {
namespace {

struct Table {
  std::mutex mutex;
  std::unordered_map<uintptr_t, std::shared_ptr<KernelObject>> objects;
  uintptr_t next = 0x1000;
};

Table& Objects() {
  static Table table;
  return table;
}

}  // namespace

// Never destroyed: detached threads may still signal while the process ends.
std::mutex& WaitMutex() {
  static auto* mutex = new std::mutex;
  return *mutex;
}

std::condition_variable& WaitCv() {
  static auto* cv = new std::condition_variable;
  return *cv;
}

HANDLE AddObject(std::shared_ptr<KernelObject> object) {
  Table& t = Objects();
  std::lock_guard<std::mutex> lock(t.mutex);
  const uintptr_t value = t.next;
  t.next += 4;
  t.objects.emplace(value, std::move(object));
  return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> FindObject(HANDLE handle) {
  Table& t = Objects();
  std::lock_guard<std::mutex> lock(t.mutex);
  auto it = t.objects.find(reinterpret_cast<uintptr_t>(handle));
  return it == t.objects.end() ? nullptr : it->second;
}

bool RemoveObject(HANDLE handle) {
  std::shared_ptr<KernelObject> doomed;  // destroyed outside the table lock
  Table& t = Objects();
  std::lock_guard<std::mutex> lock(t.mutex);
  auto it = t.objects.find(reinterpret_cast<uintptr_t>(handle));
  if (it == t.objects.end()) return false;
  doomed = std::move(it->second);
  t.objects.erase(it);
  return true;
}

}  // namespace vqce::detail

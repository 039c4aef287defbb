// Kernel objects behind HANDLE values: events and threads, kept in one table
// so that a closed or bogus handle is refused instead of followed.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <memory>
#include <mutex>

namespace vqce::detail {

struct KernelObject {
  virtual ~KernelObject() = default;
  // Under WaitMutex(): is the object signalled? An auto-reset event is
  // consumed when `consume` is set.
  virtual bool TrySatisfy(bool consume) = 0;
};

// Every waitable state change happens under this mutex and notifies WaitCv().
std::mutex& WaitMutex();
std::condition_variable& WaitCv();

HANDLE AddObject(std::shared_ptr<KernelObject> object);
std::shared_ptr<KernelObject> FindObject(HANDLE handle);
bool RemoveObject(HANDLE handle);

template <class T>
std::shared_ptr<T> Find(HANDLE handle) {
  return std::dynamic_pointer_cast<T>(FindObject(handle));
}

}  // namespace vqce::detail

// Core library: last error, local memory, critical sections, interlocked
// arithmetic, events, threads, Sleep and the tick count.
#include <windows.h>

#include <atomic>
#include <list>
#include <algorithm>
#include <cstdlib>
#include <thread>
#include <vector>

#include "Handles.h"
#include "Threads.h"
#include "vqce/Clock.h"
#include "vqce/Failures.h"

using vqce::Clock;
using vqce::detail::KernelObject;
using vqce::detail::WaitCv;
using vqce::detail::WaitMutex;

namespace {

thread_local DWORD t_lastError = 0;
std::atomic<DWORD> g_nextThreadId{1};
thread_local DWORD t_threadId = 0;

struct Event : KernelObject {
  bool manualReset = false;
  bool signalled = false;
  bool TrySatisfy(bool consume) override {
    if (!signalled) return false;
    if (consume && !manualReset) signalled = false;
    return true;
  }
};

// A thread inside WaitForMultipleObjects (any-of mode). Setting an
// auto-reset event hands the signal to the longest waiting such thread at
// once, as the platform does, so that a second SetEvent that follows finds
// the event free to be set again.
struct Waiter {
  std::vector<KernelObject*> objects;
  int satisfied = -1;
  std::thread::id thread = std::this_thread::get_id();
};
std::list<Waiter*>& Waiters() {
  static auto* waiters = new std::list<Waiter*>;
  return *waiters;
}

struct Thread : KernelObject {
  LPTHREAD_START_ROUTINE start = nullptr;
  LPVOID parameter = nullptr;
  bool suspended = false;
  bool done = false;
  DWORD exitCode = STILL_ACTIVE;
  DWORD id = 0;
  bool TrySatisfy(bool) override { return done; }
};

std::atomic<int> g_failThreads{0};
std::atomic<int> g_failAllocs{0};
std::atomic<int> g_failEvents{0};
std::atomic<long> g_localBlocks{0};

bool Take(std::atomic<int>& counter) {
  int n = counter.load();
  while (n > 0) {
    if (counter.compare_exchange_weak(n, n - 1)) return true;
  }
  return false;
}

// A thread made by CreateThread, on a thread of the pool.
void RunThread(void* arg) {
  auto* self = static_cast<std::shared_ptr<Thread>*>(arg);
  Thread& thread = **self;
  t_threadId = thread.id;
  t_lastError = 0;
  {
    std::unique_lock<std::mutex> lock(WaitMutex());
    WaitCv().wait(lock, [&] { return !thread.suspended; });
  }
  const DWORD code = thread.start(thread.parameter);
  t_threadId = 0;
  {
    std::lock_guard<std::mutex> lock(WaitMutex());
    thread.done = true;
    thread.exitCode = code;
    // Let go of the object before anyone sees the thread end, so that
    // whoever closes the handle after the wait frees it.
    delete self;
  }
  WaitCv().notify_all();
}

}  // namespace

namespace vqce::failures {
void FailNextThreadCreations(int n) { g_failThreads = n; }
void FailNextAllocations(int n) { g_failAllocs = n; }
void FailNextEventCreations(int n) { g_failEvents = n; }
void Reset() {
  g_failThreads = 0;
  g_failAllocs = 0;
  g_failEvents = 0;
}
}  // namespace vqce::failures

long vqce::LocalBlocksInUse() { return g_localBlocks.load(); }

size_t vqce::ThreadsWaiting() {
  std::lock_guard<std::mutex> lock(WaitMutex());
  return Waiters().size();
}

bool vqce::ThreadWaiting(std::thread::id thread) {
  std::lock_guard<std::mutex> lock(WaitMutex());
  return std::any_of(Waiters().begin(), Waiters().end(),
                     [&](const Waiter* w) { return w->thread == thread && w->satisfied < 0; });
}

extern "C" {

DWORD GetLastError(void) { return t_lastError; }
void SetLastError(DWORD dwErrCode) { t_lastError = dwErrCode; }

HLOCAL LocalAlloc(UINT uFlags, SIZE_T uBytes) {
  if (Take(g_failAllocs)) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return NULL;
  }
  void* p = (uFlags & LMEM_ZEROINIT) ? std::calloc(1, uBytes ? uBytes : 1)
                                     : std::malloc(uBytes ? uBytes : 1);
  if (!p) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  if (p) ++g_localBlocks;
  return p;
}

HLOCAL LocalFree(HLOCAL hMem) {
  if (hMem) --g_localBlocks;
  std::free(hMem);
  return NULL;
}

void InitializeCriticalSection(LPCRITICAL_SECTION cs) {
  cs->LockImpl = new std::recursive_mutex;
  cs->OwnerThread = 0;
  cs->LockCount = 0;
}

void DeleteCriticalSection(LPCRITICAL_SECTION cs) {
  delete static_cast<std::recursive_mutex*>(cs->LockImpl);
  cs->LockImpl = nullptr;
}

void EnterCriticalSection(LPCRITICAL_SECTION cs) {
  static_cast<std::recursive_mutex*>(cs->LockImpl)->lock();
}

void LeaveCriticalSection(LPCRITICAL_SECTION cs) {
  static_cast<std::recursive_mutex*>(cs->LockImpl)->unlock();
}

LONG InterlockedIncrement(LONG volatile* p) {
  return __atomic_add_fetch(const_cast<LONG*>(p), 1, __ATOMIC_SEQ_CST);
}

LONG InterlockedDecrement(LONG volatile* p) {
  return __atomic_sub_fetch(const_cast<LONG*>(p), 1, __ATOMIC_SEQ_CST);
}

LONG InterlockedExchange(LONG volatile* p, LONG v) {
  return __atomic_exchange_n(const_cast<LONG*>(p), v, __ATOMIC_SEQ_CST);
}

LONG InterlockedCompareExchange(LONG volatile* p, LONG exchange, LONG comparand) {
  LONG expected = comparand;
  __atomic_compare_exchange_n(const_cast<LONG*>(p), &expected, exchange, false, __ATOMIC_SEQ_CST,
                              __ATOMIC_SEQ_CST);
  return expected;
}

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES, BOOL bManualReset, BOOL bInitialState, LPCWSTR) {
  if (Take(g_failEvents)) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return NULL;
  }
  auto event = std::make_shared<Event>();
  event->manualReset = bManualReset != FALSE;
  event->signalled = bInitialState != FALSE;
  return vqce::detail::AddObject(event);
}

static BOOL SetEventState(HANDLE h, bool state) {
  auto event = vqce::detail::Find<Event>(h);
  if (!event) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  {
    std::lock_guard<std::mutex> lock(WaitMutex());
    event->signalled = state;
    if (state && !event->manualReset) {
      for (Waiter* w : Waiters()) {
        if (w->satisfied >= 0) continue;
        auto it = std::find(w->objects.begin(), w->objects.end(), event.get());
        if (it != w->objects.end()) {
          w->satisfied = static_cast<int>(it - w->objects.begin());
          event->signalled = false;
          break;
        }
      }
    }
  }
  if (state) WaitCv().notify_all();
  return TRUE;
}

BOOL SetEvent(HANDLE hEvent) { return SetEventState(hEvent, true); }
BOOL ResetEvent(HANDLE hEvent) { return SetEventState(hEvent, false); }

BOOL PulseEvent(HANDLE hEvent) {
  // Without waiters to release one by one, a pulse sets and at once resets.
  if (!SetEventState(hEvent, true)) return FALSE;
  return SetEventState(hEvent, false);
}

DWORD WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll,
                             DWORD dwMilliseconds) {
  if (nCount == 0 || nCount > MAXIMUM_WAIT_OBJECTS || !lpHandles) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  std::vector<std::shared_ptr<KernelObject>> objects;
  for (DWORD i = 0; i < nCount; ++i) {
    auto object = vqce::detail::FindObject(lpHandles[i]);
    if (!object) {
      SetLastError(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
    }
    objects.push_back(std::move(object));
  }
  const auto deadline = std::chrono::steady_clock::now() + Clock::RealDuration(dwMilliseconds);
  std::unique_lock<std::mutex> lock(WaitMutex());
  if (bWaitAll) {
    for (;;) {
      bool all = true;
      for (auto& o : objects) all = all && o->TrySatisfy(false);
      if (all) {
        for (auto& o : objects) o->TrySatisfy(true);
        return WAIT_OBJECT_0;
      }
      if (dwMilliseconds == 0) return WAIT_TIMEOUT;
      if (dwMilliseconds == INFINITE) {
        WaitCv().wait(lock);
      } else if (WaitCv().wait_until(lock, deadline) == std::cv_status::timeout) {
        return WAIT_TIMEOUT;
      }
    }
  }
  for (DWORD i = 0; i < nCount; ++i) {
    if (objects[i]->TrySatisfy(true)) return WAIT_OBJECT_0 + i;
  }
  if (dwMilliseconds == 0) return WAIT_TIMEOUT;
  Waiter self;
  for (auto& o : objects) self.objects.push_back(o.get());
  Waiters().push_back(&self);
  DWORD result = WAIT_TIMEOUT;
  for (;;) {
    if (self.satisfied >= 0) {
      result = WAIT_OBJECT_0 + static_cast<DWORD>(self.satisfied);
      break;
    }
    bool done = false;
    for (DWORD i = 0; i < nCount && !done; ++i) {
      if (objects[i]->TrySatisfy(true)) {
        result = WAIT_OBJECT_0 + i;
        done = true;
      }
    }
    if (done) break;
    if (dwMilliseconds == INFINITE) {
      WaitCv().wait(lock);
    } else if (WaitCv().wait_until(lock, deadline) == std::cv_status::timeout) {
      if (self.satisfied >= 0) continue;
      result = WAIT_TIMEOUT;
      for (DWORD i = 0; i < nCount; ++i) {
        if (objects[i]->TrySatisfy(true)) {
          result = WAIT_OBJECT_0 + i;
          break;
        }
      }
      break;
    }
  }
  Waiters().remove(&self);
  return result;
}

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
  return WaitForMultipleObjects(1, &hHandle, FALSE, dwMilliseconds);
}

BOOL CloseHandle(HANDLE hObject) {
  if (!vqce::detail::RemoveObject(hObject)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

DWORD GetCurrentThreadId(void) {
  if (t_threadId == 0) t_threadId = g_nextThreadId.fetch_add(1);
  return t_threadId;
}

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE lpStartAddress,
                    LPVOID lpParameter, DWORD dwCreationFlags, LPDWORD lpThreadId) {
  if (!lpStartAddress) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return NULL;
  }
  if (Take(g_failThreads)) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return NULL;
  }
  auto thread = std::make_shared<Thread>();
  thread->suspended = (dwCreationFlags & CREATE_SUSPENDED) != 0;
  thread->id = g_nextThreadId.fetch_add(1);
  thread->start = lpStartAddress;
  thread->parameter = lpParameter;
  // The running thread's own hold on its object, let go as it ends.
  auto* self = new std::shared_ptr<Thread>(thread);
  const bool started = vqce::detail::StartThread(&RunThread, self);
  if (!started) delete self;
  if (!started) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return NULL;
  }
  if (lpThreadId) *lpThreadId = thread->id;
  return vqce::detail::AddObject(thread);
}

DWORD ResumeThread(HANDLE hThread) {
  auto thread = vqce::detail::Find<Thread>(hThread);
  if (!thread) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0xFFFFFFFFu;
  }
  DWORD previous;
  {
    std::lock_guard<std::mutex> lock(WaitMutex());
    previous = thread->suspended ? 1 : 0;
    thread->suspended = false;
  }
  WaitCv().notify_all();
  return previous;
}

BOOL GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode) {
  auto thread = vqce::detail::Find<Thread>(hThread);
  if (!thread || !lpExitCode) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  std::lock_guard<std::mutex> lock(WaitMutex());
  *lpExitCode = thread->exitCode;
  return TRUE;
}

void Sleep(DWORD dwMilliseconds) { Clock::SleepMs(dwMilliseconds); }

DWORD GetTickCount(void) { return static_cast<DWORD>(Clock::NowMs()); }

int MultiByteToWideChar(UINT, DWORD, LPCSTR src, int cbMultiByte, LPWSTR dst, int cchWideChar) {
  // The system's texts are 8-bit ASCII; every byte becomes the code point of
  // the same value.
  if (!src || cbMultiByte == 0 || cchWideChar < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const int n = cbMultiByte < 0 ? static_cast<int>(strlen(src)) + 1 : cbMultiByte;
  if (cchWideChar == 0) return n;
  if (!dst || cchWideChar < n) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  for (int i = 0; i < n; ++i) dst[i] = static_cast<WCHAR>(static_cast<unsigned char>(src[i]));
  return n;
}

int WideCharToMultiByte(UINT, DWORD, LPCWSTR src, int cchWideChar, LPSTR dst, int cbMultiByte,
                        LPCSTR, LPBOOL usedDefault) {
  if (!src || cchWideChar == 0 || cbMultiByte < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const int n = cchWideChar < 0 ? static_cast<int>(wcslen(src)) + 1 : cchWideChar;
  if (cbMultiByte == 0) return n;
  if (!dst || cbMultiByte < n) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  BOOL replaced = FALSE;
  for (int i = 0; i < n; ++i) {
    const bool fits = static_cast<uint32_t>(src[i]) < 0x100;
    replaced = replaced || !fits;
    dst[i] = fits ? static_cast<char>(src[i]) : '?';
  }
  if (usedDefault) *usedDefault = replaced;
  return n;
}

}  // extern "C"

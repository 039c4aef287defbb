// Failures the core library produces on demand, so that a driver's recovery
// paths can be run: the next `n` calls of the kind fail as if the system had
// run out of resources.
#pragma once

#include <cstddef>
#include <thread>

namespace vqce::failures {

void FailNextThreadCreations(int n);
void FailNextAllocations(int n);
void FailNextEventCreations(int n);
void Reset();

}  // namespace vqce::failures

namespace vqce {

// Threads blocked in WaitForSingleObject/WaitForMultipleObjects (any-of
// waits with a time-out other than 0): lets a test know that a call it
// started is really waiting.
size_t ThreadsWaiting();
// Whether that thread is blocked in such a wait now (and not yet released).
bool ThreadWaiting(std::thread::id thread);
// Blocks of LocalAlloc not yet given back with LocalFree (below 0 when a
// block was freed twice).
long LocalBlocksInUse();

}  // namespace vqce

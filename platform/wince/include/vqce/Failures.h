// Failures the core library produces on demand, so that a driver's recovery
// paths can be run: the next `n` calls of the kind fail as if the system had
// run out of resources.
#pragma once

namespace vqce::failures {

void FailNextThreadCreations(int n);
void FailNextAllocations(int n);
void FailNextEventCreations(int n);
void Reset();

}  // namespace vqce::failures

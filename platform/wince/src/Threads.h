// The operating-system threads behind the stand-in's threads (CreateThread,
// a USB device's own thread, a device's detach). A thread whose task has
// ended waits for the next task instead of ending: creating and ending
// threads costs far more than a short-lived task, which is what a reader
// plugged in and out many times a second is made of. Handing a task over
// allocates nothing, so that what a task allocates and frees is all there is.
#pragma once

namespace vqce::detail {

// Runs run(arg) on a thread of its own at once (a waiting one, or a new
// one). False when no thread could be had.
bool StartThread(void (*run)(void*), void* arg);

}  // namespace vqce::detail

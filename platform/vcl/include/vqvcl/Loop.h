// The message loop's inputs: a source of user actions (a scripted session)
// consulted when the loop is idle, posted input, and the timers.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "vqvcl/DialogScript.h"

class TTimer;

namespace vcl {

class InputSource {
 public:
  virtual ~InputSource() = default;
  // The loop has nothing to do: run the next action, or let time pass.
  // False when the source has nothing more to give (the script is exhausted).
  virtual bool Step() = 0;
  // A dialog shows and no answer is queued: the source may give one.
  virtual std::optional<DialogAnswer> Answer(DialogKind) { return std::nullopt; }
};

void SetInputSource(InputSource* source);  // nullptr: none
InputSource* CurrentInputSource();

// Queues an action that the loop runs in order, before the timers.
void PostInput(std::function<void()> action);
// Runs a piece of input as the loop does: an exception that escapes it goes
// to Application->HandleException, and the program goes on.
void Dispatch(const std::function<void()>& action);

// Timers (TTimer registers itself while it runs).
void RegisterTimer(TTimer* timer);
void UnregisterTimer(TTimer* timer);
// The earliest due time of the running timers.
std::optional<uint64_t> NextTimerDue();

// Forgets every form, timer, posted input, dialog record and the input
// source, and makes a fresh Application and Screen (tests, a new session).
void ResetApplication();

// Runs `handler` once, the next time the program has the application free
// its forms (Application->DestroyComponents), while every form still exists:
// a launcher reads the windows' end state there. ResetApplication forgets a
// handler that has not run.
void BeforeFormsDestroyed(std::function<void()> handler);

}  // namespace vcl

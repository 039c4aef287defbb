#include <windows.h>

#include <algorithm>
#include <deque>
#include <utility>

#include "ExtCtrls.hpp"
#include "Forms.hpp"
#include "Internal.h"
#include "vqvcl/DialogScript.h"
#include "vqvcl/Loop.h"
#include "vqwin/Clock.h"
#include "vqwin/MessageBox.h"

TApplication* Application = nullptr;
TScreen* Screen = nullptr;

namespace {

struct LoopState {
  std::deque<std::function<void()>> posted;
  std::vector<TTimer*> timers;  // in the order they were started
  vcl::InputSource* source = nullptr;
  bool mainFormClosed = false;
  // A timer that was due again as soon as its handler returned lets the
  // input source act first next time, so that input is not starved.
  bool yieldToInput = false;
  std::function<void()> beforeFormsDestroyed;
};

LoopState& State() {
  static LoopState s;
  return s;
}

std::vector<TCustomForm*>& AllForms() {
  static std::vector<TCustomForm*> forms;
  return forms;
}

std::vector<TCustomForm*>& Modals() {
  static std::vector<TCustomForm*> modals;
  return modals;
}

// The running timer due first (at or before `limit`), earliest started first on ties.
TTimer* DueTimer(uint64_t limit) {
  TTimer* best = nullptr;
  for (TTimer* t : State().timers)
    if (t->Running() && t->Due() <= limit && (!best || t->Due() < best->Due())) best = t;
  return best;
}

struct Globals {
  Globals() {
    Application = new TApplication(nullptr);
    Screen = new TScreen(nullptr);
  }
};
Globals g_globals;

}  // namespace

namespace vcl::detail {
namespace {
TWinControl* FindHandle(TWinControl* w, HWND h) {
  if (w->GetHandle() == h) return w;
  for (TControl* c : w->Children())
    if (auto* cw = dynamic_cast<TWinControl*>(c))
      if (TWinControl* hit = FindHandle(cw, h)) return hit;
  return nullptr;
}
}  // namespace

std::string NameOfHandle(HWND h) {
  if (!h) return std::string();
  for (TCustomForm* f : AllForms())
    if (TWinControl* hit = FindHandle(f, h)) return hit->Name.str();
  return "?";
}

bool g_hookInstalled = false;
void EnsureMessageBoxHook() {
  if (g_hookInstalled) return;
  g_hookInstalled = true;
  // Win32's message boxes are answered by the dialog script.
  vqwin::SetMessageBoxHandler([](const vqwin::MessageBoxCall& call) {
    return vcl::ScriptedMessageBox(WideToUtf8(call.wideText), WideToUtf8(call.wideCaption), call.type,
                                   NameOfHandle(call.owner));
  });
}
std::vector<TCustomForm*>& FormsZOrder() { return AllForms(); }
std::vector<TCustomForm*>& ModalStack() { return Modals(); }
void FormDestroyed(TCustomForm* form) {
  if (Application) Application->FormDestroyed(form);
}
void MainFormClosed() { State().mainFormClosed = true; }
}  // namespace vcl::detail

namespace vcl {

void SetInputSource(InputSource* source) { State().source = source; }
InputSource* CurrentInputSource() { return State().source; }

void PostInput(std::function<void()> action) { State().posted.push_back(std::move(action)); }

void Dispatch(const std::function<void()>& action) {
  try {
    action();
  } catch (...) {
    if (Application) Application->HandleException(Application);
  }
}

void RegisterTimer(TTimer* timer) {
  auto& v = State().timers;
  if (std::find(v.begin(), v.end(), timer) == v.end()) v.push_back(timer);
}

void UnregisterTimer(TTimer* timer) {
  auto& v = State().timers;
  v.erase(std::remove(v.begin(), v.end(), timer), v.end());
}

std::optional<uint64_t> NextTimerDue() {
  std::optional<uint64_t> best;
  for (TTimer* t : State().timers)
    if (t->Running() && (!best || t->Due() < *best)) best = t->Due();
  return best;
}

void BeforeFormsDestroyed(std::function<void()> handler) { State().beforeFormsDestroyed = std::move(handler); }

void ResetApplication() {
  detail::g_hookInstalled = false;
  detail::EnsureMessageBoxHook();
  State().beforeFormsDestroyed = nullptr;
  delete Application;
  Application = nullptr;
  delete Screen;
  Screen = nullptr;
  // Forms owned by nobody else go too.
  while (!AllForms().empty()) AllForms().back()->Free();
  State().posted.clear();
  State().source = nullptr;
  State().mainFormClosed = false;
  State().yieldToInput = false;
  CurrentDialogScript().Clear();
  CurrentDialogScript().OnRecord = nullptr;
  Application = new TApplication(nullptr);
  Screen = new TScreen(nullptr);
}

}  // namespace vcl

// ---- TApplication

TApplication::TApplication(TComponent* AOwner) : TComponent(AOwner) {}

TApplication::~TApplication() {
  // Forms see OnDestroy while the application still exists.
  DestroyComponents();
  mainForm_ = nullptr;
}

void TApplication::DestroyComponents() {
  if (auto handler = std::exchange(State().beforeFormsDestroyed, nullptr); handler)
    vcl::Dispatch(handler);
  TComponent::DestroyComponents();
}

void TApplication::FormDestroyed(TCustomForm* form) {
  if (static_cast<TCustomForm*>(mainForm_) == form) mainForm_ = nullptr;
}

AnsiString TApplication::GetExeName() const {
  char buf[MAX_PATH + 1] = {};
  const DWORD n = GetModuleFileNameA(nullptr, buf, MAX_PATH);
  return AnsiString(buf, static_cast<int>(n));
}

void TApplication::Initialize() { vcl::detail::EnsureMessageBoxHook(); }

void TApplication::Run() {
  vcl::detail::EnsureMessageBoxHook();
  State().mainFormClosed = false;
  runEnd_ = "terminated";
  if (mainForm_ && ShowMainForm && !mainForm_->Visible) vcl::Dispatch([this] { mainForm_->Show(); });
  while (!terminated_) {
    if (!HandleMessage()) {
      runEnd_ = "script exhausted";
      return;
    }
  }
  runEnd_ = State().mainFormClosed ? "main form closed" : "terminated";
}

bool TApplication::HandleMessage() {
  LoopState& s = State();
  if (!s.posted.empty()) {
    auto action = std::move(s.posted.front());
    s.posted.pop_front();
    vcl::Dispatch(action);
    return true;
  }
  if (s.yieldToInput && s.source && !terminated_) {
    s.yieldToInput = false;
    if (s.source->Step()) return true;
  }
  if (TTimer* t = DueTimer(vqwin::CurrentClock().Now())) {
    t->Fire();
    // `t` may be gone: look again for a timer already due once more.
    s.yieldToInput = DueTimer(vqwin::CurrentClock().Now()) != nullptr;
    return true;
  }
  if (s.source && !terminated_) return s.source->Step();
  return false;
}

void TApplication::ProcessMessages() {
  LoopState& s = State();
  bool ran = false;
  for (size_t n = s.posted.size(); n > 0 && !s.posted.empty(); --n) {
    auto action = std::move(s.posted.front());
    s.posted.pop_front();
    vcl::Dispatch(action);
    ran = true;
  }
  // Each timer due now is served once.
  const uint64_t now = vqwin::CurrentClock().Now();
  std::vector<TTimer*> served;
  for (;;) {
    TTimer* best = nullptr;
    for (TTimer* t : s.timers)
      if (t->Running() && t->Due() <= now && std::find(served.begin(), served.end(), t) == served.end() &&
          (!best || t->Due() < best->Due()))
        best = t;
    if (!best) break;
    served.push_back(best);
    best->Fire();
    ran = true;
  }
  // A call that finds nothing to do still takes a little machine time, so
  // that a loop polling the tick count around it ends on a virtual clock.
  if (!ran && vqwin::CurrentClock().mode() == vqwin::Clock::Mode::Virtual) vqwin::CurrentClock().Sleep(1);
}

void TApplication::HandleException(TObject* sender) {
  try {
    throw;
  } catch (Exception& e) {
    if (OnException) OnException(sender, &e);
    else ShowException(&e);
  } catch (std::exception& e) {
    Exception ex(e.what());
    if (OnException) OnException(sender, &ex);
    else ShowException(&ex);
  } catch (...) {
    Exception ex("");
    ShowException(&ex);
  }
}

void TApplication::ShowException(Exception* e) {
  std::string msg = e ? e->Message.str() : std::string();
  if (!msg.empty() && static_cast<unsigned char>(msg.back()) > '.') msg += '.';
  std::string title = Title.str();
  if (title.empty()) {
    std::string exe = GetExeName().str();
    const size_t slash = exe.find_last_of("\\/");
    if (slash != std::string::npos) exe = exe.substr(slash + 1);
    const size_t dot = exe.rfind('.');
    title = dot == std::string::npos ? exe : exe.substr(0, dot);
  }
  MessageBox(msg.c_str(), title.c_str(), MB_OK | MB_ICONSTOP);
}

int TApplication::MessageBox(const char* text, const char* caption, int flags) {
  vcl::detail::EnsureMessageBoxHook();
  return MessageBoxA(nullptr, text, caption, static_cast<UINT>(flags));
}

// ---- TScreen

int TScreen::GetWidth() const { return GetSystemMetrics(SM_CXSCREEN); }
int TScreen::GetHeight() const { return GetSystemMetrics(SM_CYSCREEN); }
int TScreen::GetFormCount() const { return static_cast<int>(AllForms().size()); }

TCustomForm* TScreen::GetForm(int i) const {
  if (i < 0 || i >= GetFormCount()) throw EListError("List index out of bounds (" + AnsiString(i) + ")");
  return AllForms()[static_cast<size_t>(i)];
}

TCustomForm* TScreen::GetActiveForm() const {
  if (!Modals().empty()) return Modals().back();
  for (auto it = AllForms().rbegin(); it != AllForms().rend(); ++it)
    if ((*it)->Visible) return *it;
  return nullptr;
}

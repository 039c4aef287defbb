#include "vqwin/MessageBox.h"

#include <windows.h>

#include <mutex>

#include "vqwin/CodePage.h"

namespace vqwin {
namespace {

std::mutex g_mutex;
MessageBoxHandler g_handler;
std::vector<MessageBoxCall>& Record() {
  static std::vector<MessageBoxCall> record;
  return record;
}

int Show(MessageBoxCall call) {
  MessageBoxHandler handler;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    handler = g_handler;
  }
  call.answer = handler ? handler(call) : DefaultMessageBoxAnswer(call.type);
  std::lock_guard<std::mutex> lock(g_mutex);
  Record().push_back(call);
  return call.answer;
}

}  // namespace

int DefaultMessageBoxAnswer(UINT type) {
  static const int kButtons[][3] = {
      {IDOK, IDOK, IDOK},            {IDOK, IDCANCEL, IDCANCEL},  {IDABORT, IDRETRY, IDIGNORE},
      {IDYES, IDNO, IDCANCEL},       {IDYES, IDNO, IDNO},         {IDRETRY, IDCANCEL, IDCANCEL},
  };
  const UINT kind = type & MB_TYPEMASK;
  const UINT button = (type & MB_DEFMASK) >> 8;
  if (kind > 5) return IDOK;
  return kButtons[kind][button > 2 ? 0 : button];
}

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
  std::lock_guard<std::mutex> lock(g_mutex);
  std::swap(g_handler, handler);
  return handler;
}

MessageBoxHandler SetMessageBoxHandler(
    std::function<int(HWND, const char*, const char*, UINT)> handler) {
  if (!handler) return SetMessageBoxHandler(MessageBoxHandler());
  return SetMessageBoxHandler(MessageBoxHandler([handler](const MessageBoxCall& call) {
    return handler(call.owner, call.text.c_str(), call.caption.c_str(), call.type);
  }));
}

const std::vector<MessageBoxCall>& MessageBoxRecord() { return Record(); }

void ClearMessageBoxRecord() {
  std::lock_guard<std::mutex> lock(g_mutex);
  Record().clear();
}

}  // namespace vqwin

using namespace vqwin;

extern "C" {

int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType) {
  MessageBoxCall call;
  call.owner = hWnd;
  call.text = lpText ? lpText : "";
  call.caption = lpCaption ? lpCaption : "Error";  // Windows' caption for a null one
  call.wideText = ToWide(call.text);
  call.wideCaption = ToWide(call.caption);
  call.type = uType;
  return Show(std::move(call));
}

int WINAPI MessageBoxW(HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType) {
  MessageBoxCall call;
  call.owner = hWnd;
  call.wideText = lpText ? lpText : L"";
  call.wideCaption = lpCaption ? lpCaption : L"Error";
  call.text = FromWide(call.wideText);
  call.caption = FromWide(call.wideCaption);
  call.type = uType;
  call.wide = true;
  return Show(std::move(call));
}

}  // extern "C"

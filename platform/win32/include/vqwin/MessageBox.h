// Message boxes: every MessageBoxA/MessageBoxW is recorded and answered by a
// handler. The default handler answers with the box's default button (IDOK,
// IDYES, IDABORT, IDRETRY ... or the button MB_DEFBUTTON2/3 names).
#pragma once

#include <windef.h>

#include <functional>
#include <string>
#include <vector>

namespace vqwin {

struct MessageBoxCall {
  HWND owner = nullptr;
  std::string text, caption;      // bytes in the machine's ANSI code page
  std::wstring wideText, wideCaption;
  UINT type = 0;
  bool wide = false;              // MessageBoxW
  int answer = 0;
};

using MessageBoxHandler = std::function<int(const MessageBoxCall&)>;
// Installs the handler (nullptr restores the default); returns the previous one.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);
// The same with the narrow arguments only.
MessageBoxHandler SetMessageBoxHandler(std::function<int(HWND, const char* text,
                                                         const char* caption, UINT type)> handler);

int DefaultMessageBoxAnswer(UINT type);

// Every box shown since the last clear, with its answer.
const std::vector<MessageBoxCall>& MessageBoxRecord();
void ClearMessageBoxRecord();

}  // namespace vqwin

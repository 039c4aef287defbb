#include "Dialogs.hpp"

#include <windows.h>

#include "Internal.h"
#include "vqvcl/DialogScript.h"

TSaveDialog::TSaveDialog(TComponent* AOwner) : TComponent(AOwner) {}

namespace {

bool IsAbsolute(const std::string& p) {
  return (p.size() >= 2 && p[1] == ':') || (!p.empty() && (p[0] == '\\' || p[0] == '/'));
}

bool HasExtension(const std::string& p) {
  const size_t dot = p.rfind('.');
  const size_t slash = p.find_last_of("\\/");
  return dot != std::string::npos && (slash == std::string::npos || dot > slash);
}

std::string CurrentDirectory() {
  char buf[MAX_PATH + 1] = {};
  const DWORD n = GetCurrentDirectoryA(MAX_PATH, buf);
  return std::string(buf, n <= MAX_PATH ? n : 0);
}

}  // namespace

bool TSaveDialog::Execute() {
  for (;;) {
    vcl::DialogRecord rec;
    rec.kind = vcl::DialogKind::SaveDialog;
    rec.caption = vcl::detail::AnsiToUtf8(Title.IsEmpty() ? std::string("Save As") : Title.str());
    rec.text = vcl::detail::AnsiToUtf8(Filter.str());
    rec.result = IDCANCEL;
    auto answer = vcl::CurrentDialogScript().Next(vcl::DialogKind::SaveDialog);
    if (!answer) rec.note = "no answer scripted: cancelled";
    if (!answer || answer->id != IDOK) {
      rec.scripted = answer.has_value();
      vcl::CurrentDialogScript().Record(rec);
      return false;
    }
    std::string name = answer->fileName.empty() ? FileName.str() : vcl::detail::Utf8ToAnsi(answer->fileName);
    if (!DefaultExt.IsEmpty() && !HasExtension(name)) name += "." + DefaultExt.str();
    if (!IsAbsolute(name)) {
      std::string dir = InitialDir.IsEmpty() ? CurrentDirectory() : InitialDir.str();
      if (!dir.empty() && dir.back() != '\\') dir += '\\';
      name = dir + name;
    }
    rec.result = IDOK;
    rec.scripted = true;
    rec.fileName = vcl::detail::AnsiToUtf8(name);
    vcl::CurrentDialogScript().Record(rec);
    FileName = name;
    bool canClose = true;
    try {
      OnCanClose(this, canClose);
    } catch (...) {
      // Shown as the framework shows errors; the dialog stays up.
      Application->HandleException(this);
      canClose = false;
    }
    if (canClose) return true;
  }
}

void ShowMessage(const AnsiString& msg) {
  vcl::DialogRecord rec;
  rec.kind = vcl::DialogKind::ShowMessage;
  std::string exe = Application ? Application->Title.str() : std::string();
  if (exe.empty() && Application) {
    exe = Application->ExeName.get().str();
    const size_t slash = exe.find_last_of("\\/");
    if (slash != std::string::npos) exe = exe.substr(slash + 1);
    const size_t dot = exe.rfind('.');
    if (dot != std::string::npos) exe = exe.substr(0, dot);
  }
  rec.caption = vcl::detail::AnsiToUtf8(exe);
  rec.text = vcl::detail::AnsiToUtf8(msg.str());
  rec.type = MB_OK;
  rec.result = IDOK;
  if (auto a = vcl::CurrentDialogScript().Next(vcl::DialogKind::ShowMessage)) {
    rec.scripted = true;
    if (a->id != IDOK) rec.note = "answer " + vcl::DialogIdName(a->id) + " is not a button of this box: OK";
  } else {
    rec.note = "no answer scripted: OK";
  }
  vcl::CurrentDialogScript().Record(rec);
}

#include "vqvcl/DialogScript.h"

#include <windows.h>

#include <cstdlib>

#include "vqvcl/Loop.h"

namespace vcl {

const char* DialogKindName(DialogKind kind) {
  switch (kind) {
    case DialogKind::MessageBox: return "messagebox";
    case DialogKind::ShowMessage: return "showmessage";
    case DialogKind::SaveDialog: return "savedialog";
    case DialogKind::ModalForm: return "modalform";
  }
  return "?";
}

DialogScript& CurrentDialogScript() {
  static DialogScript script;
  return script;
}

std::optional<DialogAnswer> DialogScript::Next(DialogKind kind) {
  if (!queued_.empty()) {
    DialogAnswer a = queued_.front();
    queued_.erase(queued_.begin());
    return a;
  }
  if (InputSource* source = CurrentInputSource()) return source->Answer(kind);
  return std::nullopt;
}

void DialogScript::Record(const DialogRecord& record) {
  records_.push_back(record);
  if (OnRecord) OnRecord(records_.back());
}

namespace {
// The buttons of a message box type, left to right.
std::vector<int> Buttons(unsigned type) {
  switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL: return {IDOK, IDCANCEL};
    case MB_ABORTRETRYIGNORE: return {IDABORT, IDRETRY, IDIGNORE};
    case MB_YESNOCANCEL: return {IDYES, IDNO, IDCANCEL};
    case MB_YESNO: return {IDYES, IDNO};
    case MB_RETRYCANCEL: return {IDRETRY, IDCANCEL};
    default: return {IDOK};
  }
}
}  // namespace

int DefaultMessageBoxAnswer(unsigned type) {
  const std::vector<int> b = Buttons(type);
  const size_t def = (type & MB_DEFMASK) >> 8;
  return def < b.size() ? b[def] : b[0];
}

bool MessageBoxHasButton(unsigned type, int id) {
  for (int b : Buttons(type))
    if (b == id) return true;
  return false;
}

int ScriptedMessageBox(const std::string& textUtf8, const std::string& captionUtf8, unsigned type,
                       const std::string& owner) {
  DialogRecord rec;
  rec.kind = DialogKind::MessageBox;
  rec.caption = captionUtf8;
  rec.owner = owner;
  rec.text = textUtf8;
  rec.type = type;
  rec.result = DefaultMessageBoxAnswer(type);
  if (auto a = CurrentDialogScript().Next(DialogKind::MessageBox)) {
    if (MessageBoxHasButton(type, a->id)) {
      rec.result = a->id;
      rec.scripted = true;
    } else {
      rec.note = "answer " + DialogIdName(a->id) + " is not a button of this box: default taken";
    }
  } else {
    rec.note = "no answer scripted: default taken";
  }
  CurrentDialogScript().Record(rec);
  return rec.result;
}

namespace {
const struct {
  const char* name;
  int id;
} kIds[] = {{"IDOK", IDOK},       {"IDCANCEL", IDCANCEL}, {"IDABORT", IDABORT}, {"IDRETRY", IDRETRY},
            {"IDIGNORE", IDIGNORE}, {"IDYES", IDYES},       {"IDNO", IDNO}};
}  // namespace

std::string DialogIdName(int id) {
  for (const auto& e : kIds)
    if (e.id == id) return e.name;
  return std::to_string(id);
}

std::optional<int> ParseDialogId(const std::string& name) {
  for (const auto& e : kIds)
    if (name == e.name) return e.id;
  if (name.empty()) return std::nullopt;
  char* end = nullptr;
  const long v = std::strtol(name.c_str(), &end, 10);
  if (*end != '\0' || v < 0 || v > 0xFFFF) return std::nullopt;
  return static_cast<int>(v);
}

}  // namespace vcl

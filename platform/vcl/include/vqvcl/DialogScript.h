// The record of what the programs showed (message boxes, ShowMessage, save
// dialogs, modal forms) and the script that answers them. One mechanism for
// all of them: the Win32 message boxes route here too.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vcl {

enum class DialogKind { MessageBox, ShowMessage, SaveDialog, ModalForm };
const char* DialogKindName(DialogKind kind);

// An answer: a button id (IDOK, IDYES ...) and, for a file dialog confirmed
// with IDOK, the file name typed (empty: keep the proposed name).
struct DialogAnswer {
  int id = 0;
  std::string fileName;
};

struct DialogRecord {
  DialogKind kind;
  std::string caption;  // UTF-8
  std::string owner;    // Name of the owning form or control ("": none)
  std::string text;     // UTF-8 (a file dialog: its filter)
  unsigned type = 0;    // MB_ flags of a message box
  int result = 0;       // the button id (a modal form: its modal result)
  std::string fileName; // a file dialog: the full path chosen
  bool scripted = false;  // answered by the script, not by the default
  std::string note;     // why the default was taken, a refused answer ...
};

class DialogScript {
 public:
  // Answers taken, in order, by the next dialogs that show.
  void Queue(const DialogAnswer& answer) { queued_.push_back(answer); }
  // A dialog shows: the next queued answer, else the input source's.
  std::optional<DialogAnswer> Next(DialogKind kind);
  void Record(const DialogRecord& record);
  const std::vector<DialogRecord>& Records() const { return records_; }
  size_t PendingAnswers() const { return queued_.size(); }
  void Clear() { queued_.clear(); records_.clear(); }

  // Called with each new record (a session prints it).
  std::function<void(const DialogRecord&)> OnRecord;

 private:
  std::vector<DialogAnswer> queued_;
  std::vector<DialogRecord> records_;
};

DialogScript& CurrentDialogScript();

// The button that Enter presses in a message box of this type (the default
// button: the first unless MB_DEFBUTTONn says otherwise).
int DefaultMessageBoxAnswer(unsigned type);
// True when a message box of this type has that button.
bool MessageBoxHasButton(unsigned type, int id);
// Shows a message box through the script: records it and returns the
// scripted answer, or the default one.
int ScriptedMessageBox(const std::string& textUtf8, const std::string& captionUtf8, unsigned type,
                       const std::string& owner = std::string());

// Names of the button ids ("IDOK" ...) and back (also decimal numbers).
std::string DialogIdName(int id);
std::optional<int> ParseDialogId(const std::string& name);

}  // namespace vcl

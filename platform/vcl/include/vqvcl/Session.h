// A scripted session: user actions, answers and dumps, one a line, that drive
// the message loop of a program in place of a person.
//
//   # comment
//   select cbobox_SelectReader 2     choose item 2 (or an item by its text)
//   click bbtn_Check                 press a control
//   type edt_RefreshTime 250         the edit's text becomes "250"
//   key SelfForm Y                   a key on a form or control (Enter, Esc, #27)
//   hover lblYes                     the mouse moves over a control
//   close LogForm                    the form's close box
//   answer IDYES                     answers the next message box
//   save C:\x.log                    confirms the next save dialog (no name:
//                                    the proposed one); cancel: cancels it
//   wait 1000                        lets 1000 ms of machine time pass
//   dump SelfForm                    writes the form's text dump
//   render SelfForm out.png          draws the form to a PNG file (host path)
//
// Names are a control's or form's Name, optionally Form.Control. Answers are
// taken by the dialogs that show while the action before them runs.
#pragma once

#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include "vqvcl/Loop.h"

namespace vcl {

class Session : public InputSource {
 public:
  // `out` receives dumps, the record of each dialog and the errors.
  Session(const std::string& script, std::ostream& out);
  ~Session() override;
  static std::string ReadScript(std::istream& in);
  // A launcher's script: the lines of `scriptFile` (none when empty), then
  // each of `actions` as a line of its own.
  static std::string Compose(const std::string& scriptFile, const std::vector<std::string>& actions);

  // Makes this session the input source of the message loop (until destroyed).
  void Attach();

  bool Step() override;
  std::optional<DialogAnswer> Answer(DialogKind kind) override;

  bool Exhausted() const { return next_ >= lines_.size() && !waiting_; }
  int Errors() const { return errors_; }
  // The program has ended: each line it did not reach is reported as an
  // error ("not run: the program had ended"). The errors in all.
  int Finish();
  // Drives the message loop until the script is exhausted or the
  // application terminates (for forms run without Application->Run).
  void Run();

 private:
  struct Line {
    int number;
    std::string verb;
    std::string rest;
  };
  void Execute(const Line& line);
  void Error(const Line& line, const std::string& what);

  std::vector<Line> lines_;
  size_t next_ = 0;
  std::ostream& out_;
  bool waiting_ = false;
  uint64_t waitUntil_ = 0;
  int errors_ = 0;
  bool attached_ = false;
};

// Prints the text dump of each named window to `out`; a name that is no
// window is reported on `err` as "<program>: --dump NAME: no such window".
// False when one was missing.
bool DumpForms(const std::vector<std::string>& names, std::ostream& out, std::ostream& err,
               const std::string& program);

}  // namespace vcl

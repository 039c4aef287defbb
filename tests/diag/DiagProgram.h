// The program's four windows on a scratch machine, created as the program
// entry creates them; tests set the machine up first, then call Create().
#pragma once

#include "About.h"
#include "DiagMachine.h"
#include "Log.h"
#include "Main.h"
#include "service/SCM_Main.h"
#include "vqdiag.h"

#include <vcl.h>
#include <vqvcl/DialogScript.h>
#include <vqvcl/Loop.h>
#include <vqwin/CodePage.h>

#include <gtest/gtest.h>

#include <string>

namespace diagtest {

class DiagProgram : public ::testing::Test {
 protected:
  DiagProgram() { vcl::ResetApplication(); }
  ~DiagProgram() override {
    vcl::ResetApplication();
    if (unitsStarted_) FinishProgramUnits();
    SelfForm = nullptr;
    LogForm = nullptr;
    FrmAbout = nullptr;
    frmSCM = nullptr;
  }

  // A Traditional Chinese (Taiwan) system: language 0x0404, code page 950.
  void Taiwanese() {
    spec().locale.langId = 0x0404;
    spec().locale.ansiCodePage = 950;
    spec().locale.oemCodePage = 950;
  }

  // The units' start-up and the four windows, as the program entry makes
  // them; a second call starts the program anew.
  void Create() {
    if (unitsStarted_) FinishProgramUnits();
    StartProgramUnits();
    unitsStarted_ = true;
    Application->Initialize();
    CreateProgramWindows();
  }

  // Bytes of a text in the machine's code page.
  static std::string Ansi(const char* utf8) { return vqwin::FromUtf8(utf8); }
  static std::string Str(const AnsiString& s) { return s.c_str(); }

  vqwin::MachineSpec& spec() { return machine_.spec(); }
  ScratchMachine& machine() { return machine_; }

 private:
  ScratchMachine machine_;
  bool unitsStarted_ = false;
};

}  // namespace diagtest

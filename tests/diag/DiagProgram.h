// The program's four windows on a scratch machine, created as the program
// entry creates them; tests set the machine up first, then call Create().
#pragma once

#include "About.h"
#include "DiagMachine.h"
#include "Log.h"
#include "Main.h"
#include "service/SCM_Main.h"

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

  void Create() {
    Application->Initialize();
    Application->CreateForm(__classid(TSelfForm), &SelfForm);
    Application->CreateForm(__classid(TLogForm), &LogForm);
    Application->CreateForm(__classid(TFrmAbout), &FrmAbout);
    Application->CreateForm(__classid(TfrmSCM), &frmSCM);
  }

  // Bytes of a text in the machine's code page.
  static std::string Ansi(const char* utf8) { return vqwin::FromUtf8(utf8); }
  static std::string Str(const AnsiString& s) { return s.c_str(); }

  vqwin::MachineSpec& spec() { return machine_.spec(); }
  ScratchMachine& machine() { return machine_; }

 private:
  ScratchMachine machine_;
};

}  // namespace diagtest

// A diagnostic run on a scratch copy of the default machine: the test shapes
// the machine (system, files, services, processes, readers), then creates
// the program's windows, picks a model and presses "&Diagnostic".
#pragma once

#include <vcl.h>
#include <windows.h>
#include <vqwin/Machine.h>
#include <vqwin/Record.h>
#include <vqwin/TestMachine.h>

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace diagrun {

// Systems the run tells apart, with their OsVersionCode: Windows 95 OSR2
// (3), 98 (4), ME (6), NT 4.0 (7), 2000 (8), XP (9), Server 2003 x64 (12),
// Vista 32-bit (13), 7 64-bit (18).
enum class System { WinXP, Win2000, WinNT4, Win98, Win7x64, Win95B, WinMe, Server2003x64, Vista };

struct ReaderSpec {
  ReaderSpec(std::string name_, std::string card_ = "t1",
             std::string atr_ = "3B 88 80 01 00 00 00 00 00 00 00 00 09", std::string extra_ = "")
      : name(std::move(name_)), card(std::move(card_)), atr(std::move(atr_)), extra(std::move(extra_)) {}
  std::string name;
  std::string card;   // "" for no card
  std::string atr;
  std::string extra;  // further keys, one "key = value" a line
};

class RunMachine {
 public:
  RunMachine();
  ~RunMachine();

  vqwin::Machine& machine() { return *machine_; }
  vqwin::MachineSpec& spec() { return machine_->spec(); }

  // The system, with its base components, service and processes set right.
  void Use(System system);
  // A file with a version resource ("5.0.1708.2"), a PE file without one,
  // plain bytes, or no file at all.
  void PutVersioned(const std::string& path, const std::string& version);
  void PutUnversioned(const std::string& path);
  void PutBytes(const std::string& path, const std::string& bytes);
  void Remove(const std::string& path);
  // The readers the resource manager lists, in order.
  void SetReaders(const std::vector<ReaderSpec>& readers);
  // Keys of the [pcsc] table ("no_readers_error = 0").
  void SetPcsc(const std::string& toml);
  // The run state of the smart card service ("stopped") and whether its
  // process is listed (then as a process of its own, whatever the state).
  void SetService(const std::string& state, bool processListed);

  // Creates the four windows, chooses `model` (-1: none) and runs the check;
  // `beforeClick` runs once the windows exist.
  void Run(int model, const std::function<void()>& beforeClick = nullptr);
  // The report: each line followed by "\n".
  std::string Report() const;
  std::vector<std::string> Lines() const;

 private:
  vqwin::Record ParseRecord(const std::string& toml);
  vqwin::ScratchMachine scratch_;
  vqwin::Machine* machine_ = nullptr;
  bool unitsStarted_ = false;
};

// Compares the report with tests/fixtures/diag-run/<name>.txt byte for byte
// (VQ_UPDATE_GOLDEN=1 writes the file instead).
void ExpectGolden(const std::string& name, const std::string& report);

}  // namespace diagrun

// A whole diagnostic run (VQ 480T, the default machine) whose INF is not
// under its own name, with 0 to 50 000 other INF files in the inf folder.
// The machine's clock is virtual, so the specified sleeps (100 ms a mark)
// take no time: the wall time measured is the run's own work.
#include <benchmark/benchmark.h>

#include "About.h"
#include "Log.h"
#include "Main.h"
#include "service/SCM_Main.h"
#include "vqdiag.h"

#include <vcl.h>
#include <vqvcl/Input.h>
#include <vqvcl/Loop.h>
#include <vqwin/FileSystem.h>
#include <vqwin/TestMachine.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>

namespace {

// One machine per file count, made on first use and kept for every run; -1
// keeps the driver's own INF, so that nothing is searched.
vqwin::ScratchMachine& MachineWithInfFiles(int count) {
  static std::map<int, std::unique_ptr<vqwin::ScratchMachine>> machines;
  auto& slot = machines[count];
  if (!slot) {
    slot = std::make_unique<vqwin::ScratchMachine>(true);
    vqwin::Machine& m = slot->Load();
    const auto inf = m.files().ResolveNative("C:\\WINDOWS\\inf").hostPath;
    if (count >= 0) std::filesystem::remove(inf / "vqusb.inf");
    const std::string body =
        "; Generic device driver\r\n[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=System\r\n"
        "Provider=%Provider%\r\n[Manufacturer]\r\n%Provider%=Models\r\n";
    char name[32];
    for (int i = 0; i < count; ++i) {
      std::snprintf(name, sizeof name, "oem%d.inf", i);
      std::ofstream(inf / name, std::ios::binary) << body;
    }
  }
  slot->machine().MakeCurrent();
  return *slot;
}

// One run of the program as its entry starts it (the units' start-up, then
// the four windows), a diagnostic, and the program's end (the windows go,
// then the units finish).
int RunDiagnostic() {
  vcl::ResetApplication();
  StartProgramUnits();
  Application->Initialize();
  CreateProgramWindows();
  SelfForm->Show();
  vcl::UserSelect(SelfForm->cbobox_SelectReader, 1);
  vcl::UserClick(SelfForm->bbtn_Check);
  const int lines = LogForm->DiagnosticMemo->Lines->Count;
  vcl::ResetApplication();
  FinishProgramUnits();
  return lines;
}

void MeasureRuns(benchmark::State& state, int count) {
  vqwin::ScratchMachine& machine = MachineWithInfFiles(count);
  uint64_t machineMs = 0;
  for (auto _ : state) {
    const uint64_t before = machine.machine().clock().Now();
    const int lines = RunDiagnostic();
    machineMs = machine.machine().clock().Now() - before;
    benchmark::DoNotOptimize(lines);
  }
  state.counters["inf_files"] = count < 0 ? 0 : count;
  // Machine time of one run: the marks' sleeps and the message passes.
  state.counters["machine_ms"] = static_cast<double>(machineMs);
  if (count > 0)
    state.counters["files_per_s"] =
        benchmark::Counter(static_cast<double>(count), benchmark::Counter::kIsIterationInvariantRate);
}

// The run without a search: the driver's INF under its own name.
void BM_DiagnosticWithoutSearch(benchmark::State& state) { MeasureRuns(state, -1); }

void BM_DiagnosticWithInfSearch(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  MeasureRuns(state, count);
  state.SetComplexityN(count);
}

BENCHMARK(BM_DiagnosticWithoutSearch)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DiagnosticWithInfSearch)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(50000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity();

}  // namespace

BENCHMARK_MAIN();

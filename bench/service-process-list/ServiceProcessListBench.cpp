// One listing of the service window's process list, on Windows XP (the
// process status library: EnumProcesses, then an open, a module query and a
// base name per process) and on Windows 98 (a tool help snapshot), with 256
// to 4 096 processes besides the machine's own. The NT path lists at most
// 1 024 ids, so past that only EnumProcesses sees the rest. The machine's
// clock is virtual: the wall time measured is the listing's own work and the
// stand-in's.
#include <benchmark/benchmark.h>

#include "About.h"
#include "Log.h"
#include "Main.h"
#include "service/SCM_Main.h"
#include "vqdiag.h"

#include <vcl.h>
#include <vqvcl/Loop.h>
#include <vqwin/Machine.h>
#include <vqwin/TestMachine.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <utility>

namespace {

enum Path { kNt = 0, kOld = 1 };

// One machine per path and process count, made on first use and kept.
vqwin::Machine& MachineWithProcesses(Path path, int count) {
  static std::map<std::pair<int, int>, std::unique_ptr<vqwin::ScratchMachine>> machines;
  auto& slot = machines[{path, count}];
  if (!slot) {
    slot = std::make_unique<vqwin::ScratchMachine>(true);
    vqwin::Machine& m = slot->Load();
    vqwin::MachineSpec& spec = m.spec();
    if (path == kOld) {
      vqwin::OsSpec& os = spec.os;
      os.platformId = 1, os.major = 4, os.minor = 10, os.build = 2222, os.csdVersion = "";
      os.suiteMask = 0, os.productType = 0;
      spec.services.clear();
      spec.processes.clear();
    }
    char name[32];
    for (int i = 0; i < count; ++i) {
      vqwin::Record r;
      std::snprintf(name, sizeof name, "worker%d.exe", i);
      r.values["name"] = std::string(name);
      r.values["pid"] = int64_t(10000 + 4 * i);
      if (path == kOld) r.values["path"] = std::string("C:\\WINDOWS\\SYSTEM\\") + name;
      spec.processes.push_back(std::move(r));
    }
  }
  slot->machine().MakeCurrent();
  return slot->machine();
}

// The program's start as its entry makes it: the units' start-up, then the
// four windows (the service window lists once as it is created).
void StartProgram() {
  vcl::ResetApplication();
  StartProgramUnits();
  Application->Initialize();
  CreateProgramWindows();
}

// Its end: the windows go, then the units finish.
void EndProgram() {
  vcl::ResetApplication();
  FinishProgramUnits();
}

void MeasureListing(benchmark::State& state, Path path) {
  const int count = static_cast<int>(state.range(0));
  MachineWithProcesses(path, count);
  StartProgram();
  for (auto _ : state) {
    if (path == kNt)
      frmSCM->ListProcessesPsapi();
    else
      frmSCM->ListProcessesToolhelp();
    benchmark::DoNotOptimize(frmSCM->lstview_Process->Items->Count);
  }
  const int rows = frmSCM->lstview_Process->Items->Count;
  EndProgram();
  state.counters["processes"] = count;
  state.counters["rows"] = rows;
  state.counters["rows_per_s"] =
      benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kIsIterationInvariantRate);
  state.SetComplexityN(rows);
}

void BM_ProcessListNt(benchmark::State& state) { MeasureListing(state, kNt); }
void BM_ProcessListOldWindows(benchmark::State& state) { MeasureListing(state, kOld); }

BENCHMARK(BM_ProcessListNt)->Arg(256)->Arg(1024)->Arg(4096)->Unit(benchmark::kMillisecond)->Complexity();
BENCHMARK(BM_ProcessListOldWindows)->Arg(256)->Arg(1024)->Arg(4096)->Unit(benchmark::kMillisecond)->Complexity();

}  // namespace

BENCHMARK_MAIN();

// A program started with WinExec is another process of its machine: the
// launcher's end waits for it there, and only there.
#include <windows.h>
#include <vqwin/Machine.h>
#include <vqwin/Started.h>
#include <vqwin/TestMachine.h>

#include <gtest/gtest.h>

#include <memory>

namespace {

const char kInfInstall[] = "C:\\WINDOWS\\rundll.exe setupx.dll,InstallHinfSection DefaultInstall 132 C:\\SETUP\\scbase.inf";

TEST(StartedPrograms, TheEndWaitsForTheProgramsOfTheCurrentMachineOnly) {
  vqwin::ScratchMachine scratch;
  scratch.AppendToml("[shell]\ninf_delay_ms = 60000\n").File("C:\\WINDOWS\\rundll.exe", "MZ");
  vqwin::Machine& first = scratch.Load();
  const uint64_t start = first.clock().Now();
  ASSERT_EQ(WinExec(kInfInstall, SW_SHOWNORMAL), 33u);
  vqwin::FinishStartedPrograms();
  EXPECT_EQ(first.clock().Now(), start + 60000);

  // Started on a machine that is then put aside: the same folder loaded
  // afresh has nothing of its own to wait for.
  ASSERT_EQ(WinExec(kInfInstall, SW_SHOWNORMAL), 33u);
  std::unique_ptr<vqwin::Machine> again = vqwin::Machine::Load(first.folder());
  again->MakeCurrent();
  const uint64_t before = again->clock().Now();
  vqwin::FinishStartedPrograms();
  EXPECT_EQ(again->clock().Now(), before);
  again.reset();
  first.MakeCurrent();
}

}  // namespace

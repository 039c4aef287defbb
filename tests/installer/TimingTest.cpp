// The installer's stated times on the machine's clock: the pressed look of
// No, the opening of the agreement page after each flow, the polls for the
// package's marker.
#include "InstallerFixture.h"

#include <vqwin/Clock.h>

namespace setuptest {
namespace {

uint64_t Now() { return vqwin::CurrentClock().Now(); }

// Runs the message loop until `end` (machine time), or the program ends.
void RunUntil(uint64_t end) {
  while (Now() < end && !Application->Terminated) {
    const auto due = vcl::NextTimerDue();
    if (due && *due <= end) {
      vqwin::CurrentClock().SleepUntil(*due);
      Application->ProcessMessages();
    } else {
      vqwin::CurrentClock().SleepUntil(end);
    }
  }
}

// The agreement page has been shown (and, with no one to answer it here,
// closed again).
bool PageShown() {
  for (const vcl::DialogRecord& r : vcl::CurrentDialogScript().Records())
    if (r.kind == vcl::DialogKind::ModalForm && r.text == "LicenseForm") return true;
  return false;
}

struct PageCase {
  const char* name;
  std::string os;
  uint64_t opensAt;  // after Yes
};

void PrintTo(const PageCase& c, std::ostream* os) { *os << c.name; }

class PageOpening : public Installer, public ::testing::WithParamInterface<PageCase> {};

// Windows 98 and ME wait 1000 ms before the one-second timer starts; NT 4.0
// starts it at once.
TEST_P(PageOpening, OneSecondAfterTheFlowStartedItsTimer) {
  Machine(GetParam().os);
  Create();
  SetupForm->Show();
  const uint64_t start = Now();
  SetupForm->lblYesClick(SetupForm->lblYes);
  RunUntil(start + GetParam().opensAt - 1);
  EXPECT_FALSE(PageShown());
  RunUntil(start + GetParam().opensAt);
  EXPECT_TRUE(PageShown());
}

INSTANTIATE_TEST_SUITE_P(Windows, PageOpening,
                         ::testing::Values(PageCase{"Win98", kWin98, 2000}, PageCase{"WinMe", kWinMe, 2000},
                                           PageCase{"Nt4", kNt4, 1000}),
                         [](const auto& info) { return std::string(info.param.name); });

// The marker is looked for every 500 ms after Accept: a package that
// registers 1800 ms after it was started ends the wait at the fourth poll.
TEST_F(Installer, MarkerPolledEvery500Ms) {
  Machine(kWin98, kEnglish, "[shell]\ninf_delay_ms = 1800\n");
  Create();
  const uint64_t start = Now();
  LicenseForm->YesBtnClick(LicenseForm->YesBtn);
  RunUntil(start + 1999);
  EXPECT_FALSE(Application->Terminated);
  RunUntil(start + 2000);
  EXPECT_TRUE(Application->Terminated);
}

}  // namespace
}  // namespace setuptest

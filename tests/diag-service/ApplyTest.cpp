// Refresh, automatic refresh, Apply and the recommended setting.
#include "ServiceWindow.h"

#include <vqvcl/DialogScript.h>
#include <vqvcl/Input.h>

#include <functional>

namespace scmtest {
namespace {

using Apply = ServiceWindow;

const char kScard[] = "SCardSvr";
const std::string kDashes(52, '-');

void SetState(ScmMachine& t, const char* state) { t.Service(kScard).values["state"] = std::string(state); }

TEST_F(Apply, RefreshSetsTheGroupsFromStateAndStartType) {
  struct {
    const char* state;
    DWORD startType;
    int status, type;
    bool statusEnabled;
    std::vector<InfoLine> lines;
  } const cases[] = {
      {"running", 2, 0, 0, true, {}},
      {"stopped", 3, 1, 1, true, {}},
      {"stopped", 4, 1, 2, false, {}},
      {"running", 4, 0, 2, true, {}},
      {"start_pending", 2, -1, 0, true, {{"", kRed}}},
      {"running", 0x55, 0, -1, true, {}},
  };
  for (const auto& c : cases) {
    vcl::ResetApplication();
    ScmMachine m;
    SetState(m, c.state);
    m.SetStartType(kScard, c.startType);
    m.Create();
    frmSCM->bbtn_RefreshClick(nullptr);
    EXPECT_EQ(frmSCM->rdogp_Status->ItemIndex, c.status) << c.state << c.startType;
    EXPECT_EQ(frmSCM->rdogp_Type->ItemIndex, c.type) << c.state << c.startType;
    EXPECT_EQ(frmSCM->rdogp_Status->Enabled, c.statusEnabled) << c.state << c.startType;
    EXPECT_EQ(m.Info(), c.lines) << c.state << c.startType;
  }
}

TEST_F(Apply, RefreshOfAServiceThatIsNotThere) {
  Open();
  frmSCM->cbbox_ServiceProcessName->Text = "NoSuchSvc";
  ClearInfo();
  ASSERT_EQ(vcl::UserClick(frmSCM->bbtn_Refresh), "");
  EXPECT_EQ(Str(Scm_main::CurrentServiceName), "NoSuchSvc");
  EXPECT_EQ(frmSCM->rdogp_Status->ItemIndex, -1);
  EXPECT_EQ(frmSCM->rdogp_Type->ItemIndex, -1);
  // The message comes after the process list was refreshed: it names the
  // last error that the listing left (a look-up of a function XP lacks).
  EXPECT_EQ(Info(), (std::vector<InfoLine>{
                        {"-> Open service failed (The specified procedure could not be found).", kRed},
                        {"-> Get start type failed (The system cannot find the file specified).", kRed}}));
}

// The refresh opens the service for its status and for a start (0x14): a
// service that refuses either right is not opened, any other right it
// refuses does not matter.
TEST_F(Apply, RefreshOpensTheServiceForStatusAndStart) {
  struct {
    const char* name;
    DWORD denied;
    int status;
  } const cases[] = {
      {"start refused", SERVICE_START, -1},
      {"status query refused", SERVICE_QUERY_STATUS, -1},
      {"every other right refused", SERVICE_ALL_ACCESS & ~static_cast<DWORD>(SERVICE_QUERY_STATUS | SERVICE_START),
       0},
  };
  for (const auto& c : cases) {
    vcl::ResetApplication();
    ScmMachine m;
    m.Open();
    m.Service(kScard).values["deny_access"] = static_cast<int64_t>(c.denied);
    m.ClearInfo();
    ASSERT_EQ(vcl::UserClick(frmSCM->bbtn_Refresh), "") << c.name;
    EXPECT_EQ(frmSCM->rdogp_Status->ItemIndex, c.status) << c.name;
    EXPECT_EQ(frmSCM->rdogp_Type->ItemIndex, 0) << c.name;
    const auto lines = m.InfoTexts();
    if (c.status == -1) {
      ASSERT_EQ(lines.size(), 1u) << c.name;
      EXPECT_EQ(lines[0].rfind("-> Open service failed (", 0), 0u) << lines[0];
    } else {
      EXPECT_TRUE(lines.empty()) << c.name;
    }
  }
}

TEST_F(Apply, AutomaticRefreshByTimer) {
  SetState(*this, "start_pending");
  Open();
  frmSCM->tmrAutoProcess->Enabled = false;  // the opening lines' recommendation
  ClearInfo();
  ASSERT_EQ(vcl::UserClick(frmSCM->chkbox_AutoRefresh), "");
  EXPECT_TRUE(frmSCM->tmrStatus->Enabled);
  EXPECT_TRUE(frmSCM->edt_RefreshTime->Enabled);
  EXPECT_FALSE(frmSCM->bbtn_Refresh->Enabled);
  RunFor(5000 * 3);
  EXPECT_EQ(Info(), std::vector<InfoLine>(3, InfoLine{"", kRed}));  // one empty red line a tick

  ASSERT_EQ(vcl::UserType(frmSCM->edt_RefreshTime, "250"), "");
  ClearInfo();
  RunFor(1000);
  EXPECT_EQ(Info().size(), 4u);

  ASSERT_EQ(vcl::UserClick(frmSCM->chkbox_AutoRefresh), "");
  EXPECT_FALSE(frmSCM->tmrStatus->Enabled);
  EXPECT_FALSE(frmSCM->edt_RefreshTime->Enabled);
  EXPECT_TRUE(frmSCM->bbtn_Refresh->Enabled);
  ClearInfo();
  RunFor(1000);
  EXPECT_TRUE(Info().empty());
}

TEST_F(Apply, RefreshIntervalTexts) {
  Open();
  ASSERT_EQ(vcl::UserClick(frmSCM->chkbox_AutoRefresh), "");
  struct {
    const char* text;
    unsigned interval;
    bool error;
  } const cases[] = {{"250", 250, false}, {"0", 250, false}, {"-5", 250, false}, {"", 250, false},
                     {"1x", 250, true},   {"7000", 7000, false}, {"1", 1, false}};
  for (const auto& c : cases) {
    vcl::CurrentDialogScript().Clear();
    ASSERT_EQ(vcl::UserType(frmSCM->edt_RefreshTime, c.text), "");
    EXPECT_EQ(frmSCM->tmrStatus->Interval, c.interval) << c.text;
    EXPECT_EQ(vcl::CurrentDialogScript().Records().size(), c.error ? 1u : 0u) << c.text;
  }
}

struct ApplyCase {
  const char* name;
  const char* state;
  DWORD startType;
  int status, type;  // the selections before Apply (after a refresh)
  bool statusEnabled;
  std::vector<std::string> lines;
  DWORD stateAfter, startTypeAfter;
  bool statusEnabledAfter;
};

TEST_F(Apply, ApplyCarriesOutTheSelections) {
  const ApplyCase cases[] = {
      {"nothing chosen", "running", 2, -1, -1, true, {kDashes}, SERVICE_RUNNING, 2, true},
      {"suspend", "running", 2, 2, -1, true, {"-> Suspend is not support", kDashes}, SERVICE_RUNNING, 2, true},
      {"resume, manual", "running", 2, 3, 1, true,
       {"-> Resume is not support", "-> StartType: Manual", "-> Set start type successfully.", kDashes},
       SERVICE_RUNNING, 3, true},
      {"start, manual", "stopped", 2, 0, 1, true,
       {"-> The program attempts to start the following service: SCardSvr", "-> Service start successfully.",
        "-> StartType: Manual", "-> Set start type successfully.", kDashes},
       SERVICE_RUNNING, 3, true},
      {"stop, disable (already stopped)", "stopped", 3, 1, 2, true,
       {"-> The program attempts to stop the following service: SCardSvr",
        "-> Cannot stop the service because it is already stopped.", "-> StartType: Disable",
        "-> Set start type successfully.", kDashes},
       SERVICE_STOPPED, 4, false},
      {"stop, auto: enabled through the configuration", "running", 4, 1, 0, true,
       {"-> The program attempts to stop the following service: SCardSvr", "-> Service stop successfully.",
        "-> StartType: Auto", "-> Service enable successfully.", "-> Set start type successfully.", kDashes},
       SERVICE_STOPPED, 2, true},
      {"status group disabled: only the type", "stopped", 4, 0, 1, false,
       {"-> StartType: Manual", "-> Set start type successfully.", kDashes}, SERVICE_STOPPED, 3, false},
  };
  for (const ApplyCase& c : cases) {
    vcl::ResetApplication();
    ScmMachine m;
    SetState(m, c.state);
    m.SetStartType(kScard, c.startType);
    m.Open();
    frmSCM->rdogp_Status->ItemIndex = c.status;
    frmSCM->rdogp_Type->ItemIndex = c.type;
    frmSCM->rdogp_Status->Enabled = c.statusEnabled;
    m.ClearInfo();
    ASSERT_EQ(vcl::UserClick(frmSCM->bbtn_Apply), "") << c.name;
    EXPECT_EQ(m.InfoTexts(), c.lines) << c.name;
    EXPECT_EQ(m.StartType(kScard), c.startTypeAfter) << c.name;
    EXPECT_EQ(frmSCM->rdogp_Status->Enabled, c.statusEnabledAfter) << c.name;
    // Apply leaves the groups as they were chosen; the next refresh sets them.
    EXPECT_EQ(frmSCM->rdogp_Status->ItemIndex, c.status) << c.name;
    frmSCM->bbtn_RefreshClick(nullptr);
    EXPECT_EQ(frmSCM->rdogp_Status->ItemIndex, c.stateAfter == SERVICE_RUNNING ? 0 : 1) << c.name;
  }
}

// Disable whose start type can't be written (the service has no key):
// the status group follows the status selection all the same (disabled for
// STOP, enabled otherwise, from the opposite state here), and the start
// type kept is the one before.
TEST_F(Apply, DisableWhenTheStartTypeCannotBeWritten) {
  struct {
    int status;
    std::vector<std::string> lines;
    bool statusEnabledAfter;
  } const cases[] = {
      {1,
       {"-> The program attempts to stop the following service: NoSuchSvc",
        "-> Open service failed (The specified service does not exist as an installed service).",
        "-> StartType: Disable", "-> Set start type failed (The system cannot find the file specified).", kDashes},
       false},
      {0, {"-> StartType: Disable", "-> Set start type failed (The system cannot find the file specified).", kDashes},
       true},
      {-1, {"-> StartType: Disable", "-> Set start type failed (The system cannot find the file specified).", kDashes},
       true},
  };
  for (const auto& c : cases) {
    vcl::ResetApplication();
    ScmMachine m;
    m.Open();
    frmSCM->tmrAutoProcess->Enabled = false;
    frmSCM->cbbox_ServiceProcessName->Text = "NoSuchSvc";
    frmSCM->rdogp_Status->ItemIndex = c.status;
    frmSCM->rdogp_Status->Enabled = !c.statusEnabledAfter;
    frmSCM->rdogp_Type->ItemIndex = 2;
    Scm_main::StartTypeCode = 3;
    m.ClearInfo();
    ASSERT_EQ(vcl::UserClick(frmSCM->bbtn_Apply), "") << c.status;
    EXPECT_EQ(m.InfoTexts(), c.lines) << c.status;
    EXPECT_EQ(frmSCM->rdogp_Status->Enabled, c.statusEnabledAfter) << c.status;
    EXPECT_EQ(Scm_main::StartTypeCode, 3) << c.status;
    EXPECT_EQ(m.StartType(kScard), 2u) << c.status;
  }
}

// Apply's start of a service whose check point keeps moving but which never
// runs: the window is back two minutes after the start began.
TEST_F(Apply, ApplyGivesUpOnAStartThatNeverEnds) {
  SetState(*this, "stopped");
  vqwin::Record& s = Service(kScard);
  s.values["start_ms"] = int64_t(-1);
  s.values["checkpoint_ms"] = int64_t(800);
  s.values["wait_hint"] = int64_t(1000);
  Open();
  frmSCM->tmrAutoProcess->Enabled = false;
  frmSCM->rdogp_Status->ItemIndex = 0;
  frmSCM->rdogp_Type->ItemIndex = -1;
  ClearInfo();
  const uint64_t start = Now();
  ASSERT_EQ(vcl::UserClick(frmSCM->bbtn_Apply), "");
  EXPECT_LE(Now() - start, 121000u + 1000u);  // the listings' message passes add a little
  EXPECT_GE(Now() - start, 121000u);
  EXPECT_EQ(InfoTexts(), (std::vector<std::string>{"-> The program attempts to start the following service: SCardSvr",
                                                    "-> Service is not running.", kDashes}));
  EXPECT_EQ(frmSCM->pgsbar_SCM->Position, 0);
}

// Apply's stop of a service whose earlier stop is still pending and which
// reports a wait hint of 4 000 000 000 ms (about 46 days): the window is
// back 30 s after the stop began, with the time-out message.
TEST_F(Apply, ApplyGivesUpOnAPendingStopWithAHintOfDays) {
  SetState(*this, "stop_pending");
  Service(kScard).values["wait_hint"] = int64_t(4000000000);
  Open();
  frmSCM->tmrAutoProcess->Enabled = false;
  frmSCM->rdogp_Status->ItemIndex = 1;
  frmSCM->rdogp_Type->ItemIndex = -1;
  ClearInfo();
  const uint64_t start = Now();
  ASSERT_EQ(vcl::UserClick(frmSCM->bbtn_Apply), "");
  EXPECT_GE(Now() - start, 30001u);
  EXPECT_LE(Now() - start, 30001u + 1000u);  // the listing's message passes add a little
  EXPECT_EQ(InfoTexts(), (std::vector<std::string>{"-> The program attempts to stop the following service: SCardSvr",
                                                    "-> Timeout waiting for service to stop.", kDashes}));
  EXPECT_EQ(frmSCM->pgsbar_SCM->Position, 0);
}

struct RecommendCase {
  const char* name;
  const char* state;
  DWORD startType;
  std::function<void(ScmMachine&)> extra;
  bool green;
  uint64_t greenBy;  // machine time after the click by which the line is written
};

TEST_F(Apply, RecommendReachesRunningWithAutomaticStart) {
  const RecommendCase cases[] = {
      {"running, automatic", "running", 2, nullptr, true, 550},
      {"stopped, automatic", "stopped", 2, nullptr, true, 1600},
      {"running, manual", "running", 3, nullptr, true, 600},
      {"stopped, disabled", "stopped", 4, nullptr, true, 1800},
      {"stopped, disabled, no right to enable", "stopped", 4,
       [](ScmMachine& t) { t.Service(kScard).values["deny_access"] = int64_t(SERVICE_CHANGE_CONFIG); }, false,
       0},
  };
  for (const RecommendCase& c : cases) {
    vcl::ResetApplication();
    ScmMachine m;
    SetState(m, c.state);
    m.SetStartType(kScard, c.startType);
    if (c.extra) c.extra(m);
    m.Create();
    frmSCM->Visible = true;
    // Back to the state before the opening lines' own recommendation.
    frmSCM->tmrAutoProcess->Enabled = false;
    frmSCM->bbtn_RefreshClick(nullptr);
    m.ClearInfo();
    const uint64_t start = m.Now();
    ASSERT_EQ(vcl::UserClick(frmSCM->bbtn_Recommend), "");
    EXPECT_TRUE(frmSCM->tmrAutoProcess->Enabled);
    EXPECT_EQ(frmSCM->tmrAutoProcess->Interval, 250u);
    uint64_t greenAt = 0;
    while (m.Now() - start < 20000 && frmSCM->tmrAutoProcess->Enabled) {
      m.RunFor(50);
      const auto info = m.Info();
      if (greenAt == 0 && !info.empty() && info.back().colour == kGreen) greenAt = m.Now() - start;
    }
    EXPECT_FALSE(frmSCM->tmrAutoProcess->Enabled) << c.name;
    const auto info = m.Info();
    ASSERT_FALSE(info.empty()) << c.name;
    if (c.green) {
      EXPECT_EQ(info.back(), (InfoLine{"-> Smart Card service status works perfectly.", kGreen})) << c.name;
      EXPECT_GT(greenAt, 0u) << c.name;
      EXPECT_LE(greenAt, c.greenBy) << c.name;
      EXPECT_EQ(ServiceState(kScard), static_cast<DWORD>(SERVICE_RUNNING)) << c.name;
      EXPECT_EQ(m.StartType(kScard), 2u) << c.name;
    } else {
      EXPECT_NE(info.back().colour, kGreen) << c.name;
      EXPECT_EQ(Scm_main::RecommendTicks, 32) << c.name;
      EXPECT_EQ(m.StartType(kScard), 4u) << c.name;
    }
  }
}


TEST_F(Apply, OpeningOnAManualServiceStartsTheRecommendation) {
  SetStartType(kScard, 3);
  Open();
  EXPECT_EQ(Info(), (std::vector<InfoLine>{{"-> Smart Card service status should be [Start] + [Auto]", kRed},
                                           {"-> Setting [ Smart Card ] service...", kBlack},
                                           {kDashes, kRed}}));
  EXPECT_TRUE(frmSCM->tmrAutoProcess->Enabled);
  RunFor(2000);
  EXPECT_FALSE(frmSCM->tmrAutoProcess->Enabled);
  EXPECT_EQ(InfoTexts(), (std::vector<std::string>{
                             "-> Smart Card service status should be [Start] + [Auto]",
                             "-> Setting [ Smart Card ] service...", kDashes,
                             "-> The program attempts to start the following service: SCardSvr",
                             "-> Cannot start the service because it is already running.", "-> StartType: Auto",
                             "-> Set start type successfully.", kDashes,
                             "-> Smart Card service status works perfectly."}));
  EXPECT_EQ(StartType(kScard), 2u);
}

TEST_F(Apply, TheEndOfADiagnosticRunHandsOverOnXpWithManualStart) {
  SetStartType(kScard, 3);
  Create();
  SelfForm->Show();
  ASSERT_EQ(vcl::UserSelect(SelfForm->cbobox_SelectReader, 1), "");
  ASSERT_EQ(vcl::UserClick(SelfForm->bbtn_Check), "");
  RunFor(3000);
  EXPECT_TRUE(frmSCM->Visible);
  EXPECT_FALSE(frmSCM->tmrAutoProcess->Enabled);
  ASSERT_FALSE(Info().empty());
  EXPECT_EQ(Info().front(), (InfoLine{"-> Smart Card service status should be [Start] + [Auto]", kRed}));
  EXPECT_EQ(Info().back(), (InfoLine{"-> Smart Card service status works perfectly.", kGreen}));
  EXPECT_EQ(StartType(kScard), 2u);
}

}  // namespace
}  // namespace scmtest

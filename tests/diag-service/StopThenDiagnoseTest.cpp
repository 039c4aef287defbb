// A person stops the smart card service in the service control window; the
// service's process goes with it, so the next diagnostic run finds the
// service inactive and hands over to the recommendation, which starts the
// service (and its process) again for a run that passes.
#include "ServiceWindow.h"

#include <vqvcl/Input.h>

#include <algorithm>

namespace scmtest {
namespace {

using StopThenDiagnose = ServiceWindow;

const char kScard[] = "SCardSvr";
const std::string kServiceFailed = "           SCARDSVR.EXE........................................FAILED";
const std::string kServicePassed = "           SCARDSVR.EXE........................................PASSED";
const std::string kNotActive = "           .....................SMART CARD BASE COMPONENT NOT ACTIVE";
const std::string kFailed = "-> [Result] : Some of PC/SC Smart Card Environment Failed.";
const std::string kPassed = "-> [Result] : PC/SC Smart Card Environment is proper(OK).";

std::vector<std::string> Report() {
  std::vector<std::string> lines;
  TStrings* memo = LogForm->DiagnosticMemo->Lines;
  for (int i = 0; i < memo->Count; ++i) lines.push_back(memo->Get(i).str());
  return lines;
}

size_t CountOf(const std::vector<std::string>& lines, const std::string& line) {
  return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
}

bool ListsScardProcess(const std::vector<std::string>& rows) {
  return std::any_of(rows.begin(), rows.end(),
                     [](const std::string& r) { return r == "1052|SCardSvr.exe" || r == "*1052|SCardSvr.exe"; });
}

TEST_F(StopThenDiagnose, TheRunFailsUntilTheRecommendationStartsTheServiceAgain) {
  Open();
  ASSERT_TRUE(ListsScardProcess(Rows()));

  // Stop, keeping the automatic start.
  frmSCM->bbtn_RefreshClick(nullptr);
  frmSCM->rdogp_Status->ItemIndex = 1;
  frmSCM->rdogp_Type->ItemIndex = 0;
  ClearInfo();
  ASSERT_EQ(vcl::UserClick(frmSCM->bbtn_Apply), "");
  ASSERT_FALSE(InfoTexts().empty());
  EXPECT_EQ(InfoTexts()[1], "-> Service stop successfully.");
  EXPECT_EQ(ServiceState(kScard), static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_FALSE(ListsScardProcess(Rows()));
  frmSCM->Visible = false;

  SelfForm->Show();
  ASSERT_EQ(vcl::UserSelect(SelfForm->cbobox_SelectReader, 1), "");
  ASSERT_EQ(vcl::UserClick(SelfForm->bbtn_Check), "");
  std::vector<std::string> report = Report();
  EXPECT_EQ(CountOf(report, kServiceFailed), 1u);
  EXPECT_EQ(CountOf(report, kNotActive), 2u);  // steps 4 and 5
  EXPECT_EQ(CountOf(report, kFailed), 1u);

  // The run handed the service over to the recommendation.
  EXPECT_TRUE(frmSCM->Visible);
  EXPECT_TRUE(frmSCM->tmrAutoProcess->Enabled);
  for (int i = 0; i < 400 && frmSCM->tmrAutoProcess->Enabled; ++i) RunFor(50);
  EXPECT_FALSE(frmSCM->tmrAutoProcess->Enabled);
  ASSERT_FALSE(Info().empty());
  EXPECT_EQ(Info().back(), (InfoLine{"-> Smart Card service status works perfectly.", kGreen}));
  EXPECT_EQ(ServiceState(kScard), static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_TRUE(ListsScardProcess(Rows()));

  ASSERT_EQ(vcl::UserClick(SelfForm->bbtn_Check), "");
  report = Report();
  EXPECT_EQ(CountOf(report, kServicePassed), 1u);
  EXPECT_EQ(CountOf(report, kNotActive), 0u);
  EXPECT_EQ(CountOf(report, kPassed), 1u);
  EXPECT_EQ(CountOf(report, kFailed), 0u);
}

}  // namespace
}  // namespace scmtest

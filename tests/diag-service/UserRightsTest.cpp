// A user without administrator rights: the window finds the service the
// user may see, and each change the user may not make fails with its own
// message; the service's start type in the registry stays as it was.
#include "ServiceWindow.h"

#include <vqvcl/Input.h>

namespace scmtest {
namespace {

using UserRights = ServiceWindow;

const char kScard[] = "SCardSvr";
const std::string kDashes(52, '-');

TEST_F(UserRights, WithoutAdministratorRightsTheServiceIsFoundAndChangesAreRefused) {
  for (const bool afterDiagnostic : {false, true}) {
    vcl::ResetApplication();
    ScmMachine m;
    m.SetStartType(kScard, 3);
    m.Security().values["admin"] = false;
    if (afterDiagnostic) {
      m.Create();
      SelfForm->Show();
      ASSERT_EQ(vcl::UserSelect(SelfForm->cbobox_SelectReader, 1), "");
      ASSERT_EQ(vcl::UserClick(SelfForm->bbtn_Check), "");
    } else {
      m.Open();
    }
    m.RunFor(10000);  // the recommendation's apply step and its 32 watching ticks
    EXPECT_TRUE(Scm_main::ServiceFound) << afterDiagnostic;
    EXPECT_TRUE(frmSCM->bbtn_Apply->Enabled) << afterDiagnostic;
    EXPECT_EQ(frmSCM->cbbox_ServiceProcessName->Text.get(), "SCardSvr") << afterDiagnostic;
    EXPECT_FALSE(frmSCM->tmrAutoProcess->Enabled) << afterDiagnostic;
    // The refresh asks for the right to start too (its message names the
    // last error the process listing left), then the recommendation's start
    // and start type are refused.
    EXPECT_EQ(m.InfoTexts(), (std::vector<std::string>{
                                 "-> Open service failed (The specified procedure could not be found).",
                                 "-> Smart Card service status should be [Start] + [Auto]",
                                 "-> Setting [ Smart Card ] service...",
                                 kDashes,
                                 "-> The program attempts to start the following service: SCardSvr",
                                 "-> Open service failed (Access is denied).",
                                 "-> StartType: Auto",
                                 "-> Set start type failed (Access is denied).",
                                 kDashes,
                             }))
        << afterDiagnostic;
    EXPECT_EQ(m.StartType(kScard), 3u) << afterDiagnostic;
  }
}

}  // namespace
}  // namespace scmtest

// The window: controls, language, opening lines, messages, small handlers.
#include "ServiceWindow.h"

#include <vqvcl/Input.h>

namespace scmtest {
namespace {

using Window = ServiceWindow;

TEST_F(Window, OpensOnXpWithTheServiceInOrder) {
  Open();
  EXPECT_EQ(Str(frmSCM->cbbox_ServiceProcessName->Text), "SCardSvr");
  EXPECT_EQ(frmSCM->rdogp_Status->ItemIndex, 0);
  EXPECT_EQ(frmSCM->rdogp_Type->ItemIndex, 0);
  EXPECT_EQ(Info(), (std::vector<InfoLine>{{"-> Smart Card service status works perfectly.", kGreen},
                                           {"-> You don't need to set this service", kGreen},
                                           {"-> Press [Cancel] to close windows", kGreen}}));
}

}  // namespace
}  // namespace scmtest

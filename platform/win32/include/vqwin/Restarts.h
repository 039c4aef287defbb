// Restarts that programs asked for (SetupPromptReboot answered Yes).
#pragma once

namespace vqwin {

// Restarts asked for on the current machine since it was loaded.
int RestartRequests();

}  // namespace vqwin

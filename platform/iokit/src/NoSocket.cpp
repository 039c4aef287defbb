// Built while the simulator offers no socket link: no socket devices, and
// only the stand-in's own busy flag.
#include "Internal.h"

namespace vqiokit::detail {
std::shared_ptr<vqsim::UsbLink> ConnectSocket(const std::string&) { return nullptr; }
bool LinkBusy(vqsim::UsbLink*) { return false; }
void LinkSeized(vqsim::UsbLink*) {}
}  // namespace vqiokit::detail

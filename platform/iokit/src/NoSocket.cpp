// Built while the simulator offers no socket link: no socket devices.
#include "Internal.h"

namespace vqiokit::detail {
std::shared_ptr<vqsim::UsbLink> ConnectSocket(const std::string&) { return nullptr; }
}  // namespace vqiokit::detail

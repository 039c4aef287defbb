// Devices served by vqreader-sim over Unix sockets, and the busy flag that a
// simulated reader keeps itself (in process or behind its socket).
#include <cstdio>

#include "Internal.h"
#include "vqsim/SimReader.h"
#include "vqsim/SocketLink.h"

namespace vqiokit::detail {

std::shared_ptr<vqsim::UsbLink> ConnectSocket(const std::string& path) {
  std::string error;
  std::shared_ptr<vqsim::UsbLink> link = vqsim::SocketLink::Connect(path, &error);
  if (!link && !error.empty()) std::fprintf(stderr, "vqiokit: %s: %s\n", path.c_str(), error.c_str());
  return link;
}

bool LinkBusy(vqsim::UsbLink* link) {
  if (auto* socket = dynamic_cast<vqsim::SocketLink*>(link)) return socket->Busy();
  if (auto* reader = dynamic_cast<vqsim::SimReader*>(link)) return reader->Busy();
  return false;
}

void LinkSeized(vqsim::UsbLink* link) {
  if (auto* socket = dynamic_cast<vqsim::SocketLink*>(link)) socket->SetBusy(false);
  if (auto* reader = dynamic_cast<vqsim::SimReader*>(link)) reader->SetBusy(false);
}

}  // namespace vqiokit::detail

// The ce-host script: one command per line, run in order against the
// stream driver loaded into the Windows CE stand-in.
#pragma once

#include <future>
#include <istream>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "vqce/DeviceManager.h"
#include "vqsim/SimReader.h"

namespace cehost {

struct CallResult {
  BOOL ok = FALSE;
  DWORD error = 0;
  DWORD returned = 0;
  std::vector<uint8_t> out;
};

class Script {
 public:
  explicit Script(std::ostream& out) : out_(out) {}
  ~Script();
  // Runs every line; false when a line could not be understood or a
  // reader name is unknown (the run goes on with the next line).
  bool Run(std::istream& in);
  bool Line(const std::string& line);

 private:
  struct Reader {
    std::shared_ptr<vqsim::SimReader> sim;
    int usbId = 0;
    bool claimed = false;
    vqce::devices::ActiveDevice device;
    DWORD_PTR open = 0;
    std::vector<std::pair<std::string, std::future<CallResult>>> background;
  };
  bool Plug(const std::string& name, const std::vector<std::string>& args);
  bool Ioctl(Reader& r, const std::string& name, const std::vector<std::string>& args, bool background);
  bool Stall(Reader& r, const std::vector<std::string>& args);
  void Join(const std::string& name, Reader& r);
  void Print(const std::string& what, const CallResult& result);
  Reader* Find(const std::string& name);

  std::ostream& out_;
  std::map<std::string, Reader> readers_;
};

std::shared_ptr<vqsim::Card> MakeCard(const std::string& kind);

}  // namespace cehost

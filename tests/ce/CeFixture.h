// A Windows CE device with the driver installed, simulated readers to plug
// in, and helpers for the stream calls.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Driver.h"
#include "IoControl.h"
#include "VQRDCE.h"
#include "vqce/Clock.h"
#include "vqce/DeviceManager.h"
#include "vqce/Failures.h"
#include "vqce/Modules.h"
#include "vqce/Registry.h"
#include "vqce/SmartCard.h"
#include "vqce/UsbHost.h"
#include "vqsim/Cards.h"
#include "vqsim/SimReader.h"

namespace cetest {

struct Reader {
  int id = 0;
  bool claimed = false;
  std::shared_ptr<vqsim::SimReader> sim;
  vqce::devices::ActiveDevice device;
  SmartcardExtension* ext = nullptr;
};

struct Result {
  BOOL ok = FALSE;
  DWORD error = 0;  // last error, 0 on success
  DWORD returned = 0;
  std::vector<uint8_t> out;
  uint32_t Value() const {
    uint32_t v = 0;
    if (out.size() >= 4) memcpy(&v, out.data(), 4);
    return v;
  }
};

std::vector<uint8_t> U32(uint32_t v);
// T=0 or T=1 request: the {protocol, 8} header and the bytes.
std::vector<uint8_t> Request(uint32_t protocol, std::vector<uint8_t> bytes);

// Polls `done` until it holds or 10 s of real time pass.
bool Eventually(const std::function<bool()>& done);

class CeDriver : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  Reader Plug(const std::string& model = "VQ480T", const std::string& firmware = "0100",
              std::shared_ptr<vqsim::Card> card = nullptr, vqce::usb::DeviceOptions options = {});
  DWORD_PTR Open(const Reader& r);
  static Result Ioctl(DWORD_PTR h, DWORD code, const std::vector<uint8_t>& in, DWORD outSize);
  static Result Attr(DWORD_PTR h, uint32_t tag, DWORD outSize = 64);
  // Card state and other fields read under the reader lock.
  static uint32_t CardState(SmartcardExtension* ext);
  static void SetCardState(SmartcardExtension* ext, uint32_t state);
  // Opens the reader and brings its card to the specific state (power, protocol).
  DWORD_PTR OpenWithCard(const Reader& r, uint32_t protocol);
};

}  // namespace cetest

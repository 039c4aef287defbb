// Devices named in VQUSB_SIM_SOCKETS: a reader served on a Unix socket in
// this process, reached through the stand-in and the transport.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <ostream>
#include <thread>

#include "IfdHandler.h"
#include "Transport.h"
#include "UsbTransport.h"
#include "vqiokit/SimDevices.h"
#include "vqsim/Cards.h"
#include "vqsim/SimReader.h"
#include "vqsim/SocketLink.h"
#include "vqsim/SocketServer.h"

namespace {

class SocketDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char templ[] = "/tmp/vq-iokit-XXXXXX";
    ASSERT_NE(mkdtemp(templ), nullptr);
    dir_ = templ;
    path_ = dir_ + "/reader.sock";
    vqsim::ReaderConfig config;
    config.locationId = 0x14300000;
    reader_ = std::make_unique<vqsim::SimReader>(config);
    reader_->InsertCard(vqsim::T0Card());
    server_ = std::make_unique<vqsim::SocketServer>(*reader_, "t0", std::vector<uint8_t>{});
    std::string error;
    ASSERT_TRUE(server_->Listen(path_, &error)) << error;
    thread_ = std::thread([this] { server_->Run(); });
    setenv("VQUSB_SIM_SOCKETS", ("/nonexistent/socket:" + path_).c_str(), 1);
    vqiokit::DetachAll();
    vqiokit::UseVirtualClock(true);  // the socket waits out its own time-outs
    for (auto& slot : g_pSmartcardExtension) slot = nullptr;
    ext_.DeviceData = &dd_;
  }

  void TearDown() override {
    UsbClose(&ext_);
    StopServer();
    unsetenv("VQUSB_SIM_SOCKETS");
    vqiokit::DetachAll();
    std::filesystem::remove_all(dir_);
  }

  void StopServer() {
    if (!server_) return;
    server_->Stop();
    if (thread_.joinable()) thread_.join();
    server_.reset();  // closes the clients' connections
  }

  NTSTATUS SendSlotStatus() {
    const uint8_t frame[10] = {0x65, 0, 0, 0, 0, 0, 0x42, 0, 0, 0};
    return UsbBulkWrite(&ext_, frame, sizeof frame);
  }

  std::string dir_, path_;
  std::unique_ptr<vqsim::SimReader> reader_;
  std::unique_ptr<vqsim::SocketServer> server_;
  std::thread thread_;
  SmartcardExtension ext_{};
  ReaderDeviceData dd_{};
};

TEST_F(SocketDeviceTest, ListedSocketBecomesADevice) {
  ASSERT_EQ(UsbOpen(&ext_, VQUSB_VENDOR_ID, VQUSB_PRODUCT_ID), STATUS_SUCCESS);
  ASSERT_EQ(UsbInitTransfer(&ext_), STATUS_SUCCESS);
  EXPECT_EQ(dd_.LocationId, 0x14300000u);
  ASSERT_EQ(SendSlotStatus(), STATUS_SUCCESS);
  dd_.ReadTimeout = 2000;
  uint8_t answer[512];
  uint32_t length = 0;
  ASSERT_EQ(UsbBulkRead(&ext_, answer, sizeof answer, &length), STATUS_SUCCESS);
  ASSERT_EQ(length, 10u);
  EXPECT_EQ(answer[0], 0x81);
  EXPECT_EQ(answer[6], 0x42);  // the sequence number comes back
}

TEST_F(SocketDeviceTest, BusyFlagOfTheServedReaderIsSeized) {
  reader_->SetBusy(true);
  ASSERT_EQ(UsbOpen(&ext_, VQUSB_VENDOR_ID, VQUSB_PRODUCT_ID), STATUS_SUCCESS);
  EXPECT_FALSE(reader_->Busy());
}

TEST_F(SocketDeviceTest, SocketClosingMidTransferBreaksTheTransport) {
  ASSERT_EQ(UsbOpen(&ext_, VQUSB_VENDOR_ID, VQUSB_PRODUCT_ID), STATUS_SUCCESS);
  ASSERT_EQ(UsbInitTransfer(&ext_), STATUS_SUCCESS);
  // The reader keeps quiet, so the read waits on the server until it goes.
  reader_->UpdateFaults([](vqsim::Faults& f) { f.muteReader = true; });
  ASSERT_EQ(SendSlotStatus(), STATUS_SUCCESS);
  dd_.ReadTimeout = 10000;
  std::thread stopper([this] {
    usleep(50000);
    StopServer();
  });
  uint8_t answer[512];
  uint32_t length = 0;
  EXPECT_EQ(UsbBulkRead(&ext_, answer, sizeof answer, &length), STATUS_UNSUCCESSFUL);
  stopper.join();
  EXPECT_NE(dd_.TransportBroken, 0);
  EXPECT_EQ(SendSlotStatus(), STATUS_UNSUCCESSFUL);
}

// vqreader-sim's "--control PATH unplug|stall" while the host waits for an
// answer: the waiting read ends at once, not at its time-out, and breaks the
// transport. A pulled reader is gone for a new channel too; a stalled one
// works again once the device was reset.
struct BreakCase {
  const char* name;
  bool (vqsim::SocketLink::*control)();
  bool foundAgain;
};

void PrintTo(const BreakCase& c, std::ostream* os) { *os << c.name; }

class SocketBreakTest : public SocketDeviceTest, public ::testing::WithParamInterface<BreakCase> {};

TEST_P(SocketBreakTest, WaitingReadEndsAtOnceAndBreaksTheTransport) {
  const BreakCase& c = GetParam();
  ASSERT_EQ(UsbOpen(&ext_, VQUSB_VENDOR_ID, VQUSB_PRODUCT_ID), STATUS_SUCCESS);
  ASSERT_EQ(UsbInitTransfer(&ext_), STATUS_SUCCESS);
  reader_->UpdateFaults([](vqsim::Faults& f) { f.muteReader = true; });
  ASSERT_EQ(SendSlotStatus(), STATUS_SUCCESS);
  dd_.ReadTimeout = 10000;
  bool done = false;
  std::thread breaker([&] {
    usleep(100000);
    auto control = vqsim::SocketLink::Connect(path_);
    done = control && ((*control).*c.control)();
  });
  const auto start = std::chrono::steady_clock::now();
  uint8_t answer[512];
  uint32_t length = 0;
  EXPECT_EQ(UsbBulkRead(&ext_, answer, sizeof answer, &length), STATUS_UNSUCCESSFUL);
  const auto waited = std::chrono::steady_clock::now() - start;
  breaker.join();
  ASSERT_TRUE(done);
  EXPECT_LT(waited, std::chrono::seconds(5)) << "the read waited for its time-out";
  EXPECT_NE(dd_.TransportBroken, 0);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(SendSlotStatus(), STATUS_UNSUCCESSFUL);

  UsbClose(&ext_);
  reader_->UpdateFaults([](vqsim::Faults& f) { f.muteReader = false; });
  SmartcardExtension again{};
  ReaderDeviceData againData{};
  again.DeviceData = &againData;
  const bool found = UsbOpen(&again, VQUSB_VENDOR_ID, VQUSB_PRODUCT_ID) == STATUS_SUCCESS &&
                     UsbInitTransfer(&again) == STATUS_SUCCESS;
  EXPECT_EQ(found, c.foundAgain);
  if (found) {
    const uint8_t frame[10] = {0x65, 0, 0, 0, 0, 0, 0x43, 0, 0, 0};
    EXPECT_EQ(UsbBulkWrite(&again, frame, sizeof frame), STATUS_SUCCESS);
    againData.ReadTimeout = 2000;
    EXPECT_EQ(UsbBulkRead(&again, answer, sizeof answer, &length), STATUS_SUCCESS);
  }
  UsbClose(&again);
}

INSTANTIATE_TEST_SUITE_P(Controls, SocketBreakTest,
                         ::testing::Values(BreakCase{"Unplug", &vqsim::SocketLink::Unplug, false},
                                           BreakCase{"Stall", &vqsim::SocketLink::StallBulk, true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

// The IOKit transport over the stand-in's simulated devices: device choice,
// seizing, pipe discovery, the sticky broken state and the read retry.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "FakeLink.h"
#include "IfdHandler.h"
#include "Transport.h"
#include "UsbTransport.h"
#include "vqiokit/SimDevices.h"

namespace {

using mactest::FakeLink;
using vqsim::LinkStatus;

struct Context {
  SmartcardExtension ext{};
  ReaderDeviceData dd{};
  Context() { ext.DeviceData = &dd; }
};

class UsbTransportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    vqiokit::DetachAll();
    vqiokit::UseVirtualClock(true);
    for (auto& slot : g_pSmartcardExtension) slot = nullptr;
    baseline_ = vqiokit::LiveObjects();
  }
  void TearDown() override {
    for (auto& slot : g_pSmartcardExtension) slot = nullptr;
    vqiokit::DetachAll();
  }

  std::shared_ptr<FakeLink> Attach(uint32_t location, vqiokit::DeviceOptions options = {},
                                   int* id = nullptr) {
    auto link = std::make_shared<FakeLink>(location);
    int deviceId = vqiokit::AttachDevice(link, options);
    if (id) *id = deviceId;
    return link;
  }

  // Opens and prepares a context on the next free device.
  void Ready(Context& c) {
    ASSERT_EQ(UsbOpen(&c.ext, VQUSB_VENDOR_ID, VQUSB_PRODUCT_ID), STATUS_SUCCESS);
    ASSERT_EQ(UsbInitTransfer(&c.ext), STATUS_SUCCESS);
  }

  size_t baseline_ = 0;
};

TEST_F(UsbTransportTest, SecondChannelTakesTheDeviceTheFirstDoesNotHold) {
  Attach(0x1000);
  Attach(0x2000);
  Context first, second, third;
  Ready(first);
  EXPECT_EQ(first.dd.LocationId, 0x1000u);
  g_pSmartcardExtension[0] = &first.ext;
  Ready(second);
  EXPECT_EQ(second.dd.LocationId, 0x2000u);
  g_pSmartcardExtension[1] = &second.ext;

  // Every device is in use: the open fails and keeps nothing.
  EXPECT_EQ(UsbOpen(&third.ext, VQUSB_VENDOR_ID, VQUSB_PRODUCT_ID), STATUS_UNSUCCESSFUL);
  EXPECT_EQ(third.dd.Device, nullptr);
  EXPECT_EQ(third.dd.PlugIn, nullptr);

  UsbClose(&first.ext);
  UsbClose(&second.ext);
  EXPECT_EQ(vqiokit::LiveObjects(), baseline_);
}

TEST_F(UsbTransportTest, OnlyTheFamilysIdsMatch) {
  Attach(0x1000);
  Context c;
  EXPECT_EQ(UsbOpen(&c.ext, VQUSB_VENDOR_ID, 0x0481), STATUS_UNSUCCESSFUL);
  EXPECT_EQ(UsbOpen(&c.ext, 0xF1E6, VQUSB_PRODUCT_ID), STATUS_UNSUCCESSFUL);
  EXPECT_EQ(vqiokit::LiveObjects(), baseline_);
}

TEST_F(UsbTransportTest, BusyDeviceIsSeizedAfterOneSecond) {
  vqiokit::DeviceOptions options;
  options.busy = true;
  int id = 0;
  Attach(0x1000, options, &id);
  Context c;
  uint64_t start = vqiokit::NowMs();
  ASSERT_EQ(UsbOpen(&c.ext, VQUSB_VENDOR_ID, VQUSB_PRODUCT_ID), STATUS_SUCCESS);
  vqiokit::DeviceStats stats = vqiokit::Stats(id);
  EXPECT_EQ(stats.opens, 0);
  EXPECT_EQ(stats.seizes, 1);
  EXPECT_EQ(stats.seizedAtMs - start, 1000u);
  EXPECT_EQ(c.dd.LocationId, 0x1000u);
  UsbClose(&c.ext);
}

TEST_F(UsbTransportTest, FreeDeviceOpensWithoutWaiting) {
  int id = 0;
  Attach(0x1000, {}, &id);
  Context c;
  uint64_t start = vqiokit::NowMs();
  Ready(c);
  EXPECT_EQ(vqiokit::NowMs(), start);
  EXPECT_EQ(vqiokit::Stats(id).opens, 1);
  EXPECT_EQ(vqiokit::Stats(id).configuration, 1);
  UsbClose(&c.ext);
  EXPECT_FALSE(vqiokit::Stats(id).open);
  EXPECT_FALSE(vqiokit::Stats(id).interfaceOpen);
  EXPECT_EQ(vqiokit::LiveObjects(), baseline_);
}

struct PipeCase {
  const char* name;
  std::vector<vqiokit::PipeSpec> pipes;
  bool accepted;
  uint8_t bulkIn, bulkOut;
};

void PrintTo(const PipeCase& pc, std::ostream* os) { *os << pc.name; }

class PipeLayoutTest : public UsbTransportTest,
                       public ::testing::WithParamInterface<PipeCase> {};

TEST_P(PipeLayoutTest, BulkPipesAreFoundInAnyOrder) {
  const PipeCase& pc = GetParam();
  vqiokit::DeviceOptions options;
  options.pipes = pc.pipes;
  int id = 0;
  Attach(0x1000, options, &id);
  Context c;
  ASSERT_EQ(UsbOpen(&c.ext, VQUSB_VENDOR_ID, VQUSB_PRODUCT_ID), STATUS_SUCCESS);
  NTSTATUS status = UsbInitTransfer(&c.ext);
  if (pc.accepted) {
    EXPECT_EQ(status, STATUS_SUCCESS);
    EXPECT_EQ(c.dd.BulkInPipe, pc.bulkIn);
    EXPECT_EQ(c.dd.BulkOutPipe, pc.bulkOut);
    UsbClose(&c.ext);
  } else {
    EXPECT_EQ(status, STATUS_UNSUCCESSFUL);
    EXPECT_EQ(c.dd.Device, nullptr);  // refused and closed
    EXPECT_EQ(c.dd.Interface, nullptr);
    EXPECT_FALSE(vqiokit::Stats(id).open);
  }
  EXPECT_EQ(vqiokit::LiveObjects(), baseline_);
}

constexpr vqiokit::PipeSpec kBulkOut{0, 2}, kBulkIn{1, 2}, kIntrIn{1, 3}, kIntrOut{0, 3};

// The most endpoints an interface can have, the bulk pipes last (after pipe
// 255 the loop must end, not start again at the control pipe).
std::vector<vqiokit::PipeSpec> ManyPipes(std::vector<vqiokit::PipeSpec> last) {
  std::vector<vqiokit::PipeSpec> pipes(255 - last.size(), kIntrIn);
  pipes.insert(pipes.end(), last.begin(), last.end());
  return pipes;
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, PipeLayoutTest,
    ::testing::Values(PipeCase{"OutIn", {kBulkOut, kBulkIn}, true, 2, 1},
                      PipeCase{"InOut", {kBulkIn, kBulkOut}, true, 1, 2},
                      PipeCase{"ReaderLayout", {kBulkOut, kBulkIn, kIntrIn}, true, 2, 1},
                      PipeCase{"FirstOfEachKind", {kIntrIn, kBulkIn, kBulkIn, kBulkOut, kBulkOut},
                               true, 2, 4},
                      PipeCase{"NoBulkOut", {kBulkIn, kIntrOut}, false, 0, 0},
                      PipeCase{"NoBulkIn", {kBulkOut, kIntrIn}, false, 0, 0},
                      PipeCase{"NoPipes", {}, false, 0, 0},
                      PipeCase{"BulkPipesAt254And255", ManyPipes({kBulkIn, kBulkOut}), true, 254,
                               255},
                      PipeCase{"NoBulkOutAmong255", ManyPipes({kBulkIn}), false, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(UsbTransportTest, DeviceWithoutInterfaceIsRefused) {
  vqiokit::DeviceOptions options;
  options.hasInterface = false;
  Attach(0x1000, options);
  Context c;
  ASSERT_EQ(UsbOpen(&c.ext, VQUSB_VENDOR_ID, VQUSB_PRODUCT_ID), STATUS_SUCCESS);
  EXPECT_EQ(UsbInitTransfer(&c.ext), STATUS_UNSUCCESSFUL);
  UsbClose(&c.ext);
  EXPECT_EQ(vqiokit::LiveObjects(), baseline_);
}

TEST_F(UsbTransportTest, WriteAndReadReachTheLink) {
  auto link = Attach(0x1000);
  Context c;
  Ready(c);
  const uint8_t frame[] = {0x65, 0, 0, 0, 0, 0, 7, 0, 0, 0};
  ASSERT_EQ(UsbBulkWrite(&c.ext, frame, sizeof frame), STATUS_SUCCESS);
  ASSERT_EQ(link->written.size(), 1u);
  EXPECT_EQ(link->written[0], std::vector<uint8_t>(frame, frame + sizeof frame));

  link->in.push_back({LinkStatus::Ok, {0x81, 0, 0, 0, 0, 0, 7, 0, 0, 0}});
  c.dd.ReadTimeout = 2000;
  uint8_t buffer[512];
  uint32_t length = 0;
  ASSERT_EQ(UsbBulkRead(&c.ext, buffer, sizeof buffer, &length), STATUS_SUCCESS);
  EXPECT_EQ(length, 10u);
  EXPECT_EQ(buffer[0], 0x81);
  EXPECT_EQ(link->lastTimeoutMs, 2000u);
  UsbClose(&c.ext);
}

TEST_F(UsbTransportTest, AfterAFailedWriteAReadFailsWithoutTouchingTheDevice) {
  int id = 0;
  auto link = Attach(0x1000, {}, &id);
  Context c;
  Ready(c);
  vqiokit::SetStalled(id, true);
  const uint8_t frame[10] = {0x65};
  EXPECT_EQ(UsbBulkWrite(&c.ext, frame, sizeof frame), STATUS_UNSUCCESSFUL);
  EXPECT_NE(c.dd.TransportBroken, 0);
  vqiokit::SetStalled(id, false);

  vqiokit::DeviceStats before = vqiokit::Stats(id);
  link->in.push_back({LinkStatus::Ok, {0x81, 0, 0, 0, 0, 0, 0, 0, 0, 0}});
  uint8_t buffer[512];
  uint32_t length = 0;
  EXPECT_EQ(UsbBulkRead(&c.ext, buffer, sizeof buffer, &length), STATUS_UNSUCCESSFUL);
  EXPECT_EQ(UsbBulkWrite(&c.ext, frame, sizeof frame), STATUS_UNSUCCESSFUL);
  vqiokit::DeviceStats after = vqiokit::Stats(id);
  EXPECT_EQ(after.pipeStatusCalls, before.pipeStatusCalls);
  EXPECT_EQ(after.reads, before.reads);
  EXPECT_EQ(after.writes, before.writes);
  UsbClose(&c.ext);
}


TEST_F(UsbTransportTest, OneTimedOutReadIsRetried) {
  int id = 0;
  auto link = Attach(0x1000, {}, &id);
  Context c;
  Ready(c);
  c.dd.ReadTimeout = 60000;
  link->in.push_back({LinkStatus::Timeout, {}});
  link->in.push_back({LinkStatus::Ok, {1, 2, 3}});
  uint8_t buffer[512];
  uint32_t length = 0;
  uint64_t start = vqiokit::NowMs();
  EXPECT_EQ(UsbBulkRead(&c.ext, buffer, sizeof buffer, &length), STATUS_SUCCESS);
  EXPECT_EQ(length, 3u);
  EXPECT_EQ(vqiokit::NowMs() - start, 60000u);
  EXPECT_EQ(c.dd.TransportBroken, 0);
  UsbClose(&c.ext);
}

// Whatever ends a read (a time-out, a socket that closed, an unplugged or
// stalled device): two tries, then a device reset and a broken transport.
std::string LinkStatusName(const ::testing::TestParamInfo<LinkStatus>& info) {
  static const char* const names[] = {"Ok", "Timeout", "Stalled", "Unplugged", "Error"};
  return names[static_cast<int>(info.param)];
}

class FailedReadTest : public UsbTransportTest,
                       public ::testing::WithParamInterface<LinkStatus> {};

TEST_P(FailedReadTest, TwoFailuresResetTheDeviceAndBreakTheTransport) {
  int id = 0;
  auto link = Attach(0x1000, {}, &id);
  Context c;
  Ready(c);
  c.dd.ReadTimeout = 2000;
  link->in.push_back({GetParam(), {}});
  link->in.push_back({GetParam(), {}});
  link->in.push_back({LinkStatus::Ok, {1, 2, 3}});  // never read
  vqiokit::DeviceStats before = vqiokit::Stats(id);
  uint64_t start = vqiokit::NowMs();
  uint8_t buffer[512];
  uint32_t length = 0;
  EXPECT_EQ(UsbBulkRead(&c.ext, buffer, sizeof buffer, &length), STATUS_UNSUCCESSFUL);
  vqiokit::DeviceStats after = vqiokit::Stats(id);
  EXPECT_NE(c.dd.TransportBroken, 0);
  if (GetParam() == LinkStatus::Timeout) {
    EXPECT_EQ(after.reads - before.reads, 2);
    EXPECT_EQ(vqiokit::NowMs() - start, 4000u);  // two waits of the read time-out
  }
  if (GetParam() != LinkStatus::Unplugged) {
    EXPECT_EQ(after.resets - before.resets, 1);
  }

  // Broken for good: the next read fails at once.
  EXPECT_EQ(UsbBulkRead(&c.ext, buffer, sizeof buffer, &length), STATUS_UNSUCCESSFUL);
  EXPECT_EQ(vqiokit::Stats(id).reads, after.reads);
  EXPECT_FALSE(link->in.empty());  // the answer behind the failures is never read
  UsbClose(&c.ext);
}

INSTANTIATE_TEST_SUITE_P(Endings, FailedReadTest,
                         ::testing::Values(LinkStatus::Timeout, LinkStatus::Error,
                                           LinkStatus::Unplugged, LinkStatus::Stalled),
                         LinkStatusName);

TEST_F(UsbTransportTest, AFailedWriteToTheLinkBreaksTheTransport) {
  auto link = Attach(0x1000);
  Context c;
  Ready(c);
  link->outStatus = LinkStatus::Error;  // the socket closed
  const uint8_t frame[10] = {0x65};
  EXPECT_EQ(UsbBulkWrite(&c.ext, frame, sizeof frame), STATUS_UNSUCCESSFUL);
  EXPECT_NE(c.dd.TransportBroken, 0);
  link->outStatus = LinkStatus::Ok;
  EXPECT_EQ(UsbBulkWrite(&c.ext, frame, sizeof frame), STATUS_UNSUCCESSFUL);
  EXPECT_EQ(link->written.size(), 1u);
  UsbClose(&c.ext);
}

}  // namespace

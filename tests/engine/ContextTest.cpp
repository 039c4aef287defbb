// Setting up, clearing and tearing down the context record.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <vector>

#include "Atr.h"
#include "Smartcard.h"

namespace {

struct Record {
  SmartcardExtension ext{};
  ReaderDeviceData dev{};
  Record() {
    ext.Version = SmartcardExtensionVersion;
    ext.SendBufferSize = SmartcardBufferSize;
    ext.ReplyBufferSize = SmartcardBufferSize;
    ext.DeviceData = &dev;
  }
  ~Record() { SmartcardExit(&ext); }
};

TEST(SmartcardInitialize, RefusesMissingContext) {
  EXPECT_EQ(SmartcardInitialize(nullptr), STATUS_INVALID_PARAMETER);
}

TEST(SmartcardInitialize, RaisesBufferSizesTo288) {
  const struct {
    uint32_t asked, got;
  } cases[] = {{0, 288}, {100, 288}, {288, 288}, {1024, 1024}};
  for (const auto& c : cases) {
    Record r;
    r.ext.SendBufferSize = c.asked;
    r.ext.ReplyBufferSize = c.asked;
    ASSERT_EQ(SmartcardInitialize(&r.ext), STATUS_SUCCESS) << c.asked;
    EXPECT_EQ(r.ext.SendBufferSize, c.got);
    EXPECT_EQ(r.ext.ReplyBufferSize, c.got);
    ASSERT_NE(r.ext.SendBuffer, nullptr);
    ASSERT_NE(r.ext.ReplyBuffer, nullptr);
    // Zeroed, and the whole size is usable.
    EXPECT_EQ(r.ext.ReplyBuffer[c.got - 1], 0);
    r.ext.SendBuffer[c.got - 1] = 0xAA;
    EXPECT_EQ(r.ext.CardCapabilities.ClockRateConversion, ClockRateConversion);
    EXPECT_EQ(r.ext.CardCapabilities.BitRateAdjustment, BitRateAdjustment);
  }
}

TEST(SmartcardInitialize, ChecksVersionOnCeOnly) {
  const struct {
    uint32_t version;
    bool acceptedOnCe;
  } cases[] = {{0, false}, {255, false}, {256, true}, {336, true}, {337, false}};
  for (const auto& c : cases) {
    Record r;
    r.ext.Version = c.version;
    const NTSTATUS status = SmartcardInitialize(&r.ext);
#if VQ_BUILD_CE
    EXPECT_EQ(status, c.acceptedOnCe ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL) << c.version;
    if (!c.acceptedOnCe) {
      EXPECT_EQ(r.ext.SendBuffer, nullptr);
      EXPECT_EQ(r.ext.OsData, nullptr);
    }
#else
    EXPECT_EQ(status, STATUS_SUCCESS) << c.version;
#endif
  }
}

#if VQ_BUILD_CE
TEST(SmartcardInitialize, MakesOsRecordWithLockAndEvents) {
  Record r;
  ASSERT_EQ(SmartcardInitialize(&r.ext), STATUS_SUCCESS);
  ReaderOsRecord* os = r.ext.OsData;
  ASSERT_NE(os, nullptr);
  EXPECT_EQ(os->Extension, &r.ext);
  ASSERT_NE(os->CardTrackingEvent, nullptr);
  ASSERT_NE(os->CancelEvent, nullptr);
  // Auto-reset and not signalled at first.
  EXPECT_EQ(WaitForSingleObject(os->CancelEvent, 0), WAIT_TIMEOUT);
  SetEvent(os->CancelEvent);
  EXPECT_EQ(WaitForSingleObject(os->CancelEvent, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(os->CancelEvent, 0), WAIT_TIMEOUT);
  // The reader lock is re-entrant.
  EnterCriticalSection(&os->ReaderLock);
  EnterCriticalSection(&os->ReaderLock);
  LeaveCriticalSection(&os->ReaderLock);
  LeaveCriticalSection(&os->ReaderLock);
}
#endif

TEST(SmartcardExit, FreesEverythingAndClearsPointers) {
  Record r;
  ASSERT_EQ(SmartcardInitialize(&r.ext), STATUS_SUCCESS);
  r.ext.T1State.ReplyData = static_cast<uint8_t*>(std::calloc(64, 1));
  SmartcardExit(&r.ext);
  EXPECT_EQ(r.ext.SendBuffer, nullptr);
  EXPECT_EQ(r.ext.ReplyBuffer, nullptr);
  EXPECT_EQ(r.ext.T1State.ReplyData, nullptr);
#if VQ_BUILD_CE
  EXPECT_EQ(r.ext.OsData, nullptr);
#endif
  SmartcardExit(&r.ext);  // a second call finds nothing left to free
}

TEST(SmartcardInitializeCardCapabilities, ClearsAllButTheTables) {
  Record r;
  ASSERT_EQ(SmartcardInitialize(&r.ext), STATUS_SUCCESS);
  CardCapabilities& caps = r.ext.CardCapabilities;
  caps.ATRLength = 12;
  caps.etu = 105;
  caps.CurrentProtocol = ProtocolT1;
  caps.PpsMode = 1;
  caps.T1.IFSC = 254;
  r.ext.T1State.State = T1StateIBlock;
  r.ext.T1State.RSN = 1;
  r.ext.T1State.SSN = 1;
  r.ext.ReaderCapabilities.MaxIFSD = 251;

  SmartcardInitializeCardCapabilities(&r.ext);
  EXPECT_EQ(caps.ATRLength, 0);
  EXPECT_EQ(caps.etu, 0u);
  EXPECT_EQ(caps.CurrentProtocol, ProtocolNone);
  EXPECT_EQ(caps.PpsMode, 0);
  EXPECT_EQ(caps.T1.IFSC, 0);
  EXPECT_EQ(caps.ClockRateConversion, ClockRateConversion);
  EXPECT_EQ(caps.BitRateAdjustment, BitRateAdjustment);
  EXPECT_EQ(caps.ProtocolsOffered, ProtocolRaw);
  EXPECT_EQ(r.ext.T1State.State, T1StateInit);
  EXPECT_EQ(r.ext.T1State.RSN, 0);
  EXPECT_EQ(r.ext.T1State.SSN, 0);
  EXPECT_EQ(r.ext.T1State.IFSD, 251);
}

TEST(SmartcardInitializeCardCapabilities, IfsdFromMaxIfsd) {
  const struct {
    uint32_t maxIfsd;
    uint8_t ifsd;
  } cases[] = {{0, 254}, {1, 1}, {240, 240}, {251, 251}, {252, 252}, {253, 253},
               {254, 254}, {1000, 254}};
  for (const auto& c : cases) {
    Record r;
    r.ext.ReaderCapabilities.MaxIFSD = c.maxIfsd;
    SmartcardInitializeCardCapabilities(&r.ext);
    EXPECT_EQ(r.ext.T1State.IFSD, c.ifsd) << c.maxIfsd;
  }
}

// Each part keeps its fields in the record's published order.
TEST(RecordLayout, FieldsInOrder) {
  const struct {
    const char* part;
    std::vector<size_t> offsets;
  } parts[] = {
      {"SmartcardExtension",
       {offsetof(SmartcardExtension, Version), offsetof(SmartcardExtension, VendorAttributes),
#if VQ_BUILD_CE
        offsetof(SmartcardExtension, ReaderFunctions),
#endif
        offsetof(SmartcardExtension, CardCapabilities),
        offsetof(SmartcardExtension, SmartcardIoRequest),
#if VQ_BUILD_CE
        offsetof(SmartcardExtension, OsData),
#endif
        offsetof(SmartcardExtension, ReaderCapabilities), offsetof(SmartcardExtension, DeviceData),
        offsetof(SmartcardExtension, ReplyBuffer), offsetof(SmartcardExtension, ReplyBufferSize),
        offsetof(SmartcardExtension, ReceivedLength), offsetof(SmartcardExtension, SendBuffer),
        offsetof(SmartcardExtension, SendBufferSize), offsetof(SmartcardExtension, SendLength),
        offsetof(SmartcardExtension, T1State)}},
      {"ReaderDeviceData",
#if VQ_BUILD_CE
       {offsetof(ReaderDeviceData, BulkInPipe), offsetof(ReaderDeviceData, UsbFuncs),
        offsetof(ReaderDeviceData, InterruptEvent), offsetof(ReaderDeviceData, CardStatusThread),
        offsetof(ReaderDeviceData, RefCount), offsetof(ReaderDeviceData, ReaderInfoBlock),
        offsetof(ReaderDeviceData, ReaderInfoOk), offsetof(ReaderDeviceData, FixedAtrCard),
        offsetof(ReaderDeviceData, RunState), offsetof(ReaderDeviceData, CardTrackingArmed),
        offsetof(ReaderDeviceData, ReadTimeout), offsetof(ReaderDeviceData, TransferArea),
        offsetof(ReaderDeviceData, FirmwareVersion), offsetof(ReaderDeviceData, DelayedAtrCard)}},
#else
       {offsetof(ReaderDeviceData, VendorCode), offsetof(ReaderDeviceData, DeviceDescription),
        offsetof(ReaderDeviceData, BulkInPipe), offsetof(ReaderDeviceData, PlugIn),
        offsetof(ReaderDeviceData, ReaderInfoBlock), offsetof(ReaderDeviceData, ReaderInfoOk),
        offsetof(ReaderDeviceData, FixedAtrCard), offsetof(ReaderDeviceData, ReadTimeout),
        offsetof(ReaderDeviceData, PowerMode), offsetof(ReaderDeviceData, LocationId),
        offsetof(ReaderDeviceData, TransportBroken), offsetof(ReaderDeviceData, SlotByte),
        offsetof(ReaderDeviceData, ReaderIndex), offsetof(ReaderDeviceData, FirmwareVersion),
        offsetof(ReaderDeviceData, DelayedAtrCard)}},
#endif
  };
  for (const auto& p : parts) {
    for (size_t i = 1; i < p.offsets.size(); ++i) {
      EXPECT_LT(p.offsets[i - 1], p.offsets[i]) << p.part << " field " << i;
    }
  }
}

TEST(BuildNumbers, DifferPerDriver) {
#if VQ_BUILD_CE
  EXPECT_EQ(ProtocolRaw, 0x10000u);
  const uint32_t states[] = {0, 1, 2, 3, 5, 6};
  const uint32_t rates[] = {9600, 19200, 38400, 57600, 115200};
#else
  EXPECT_EQ(ProtocolRaw, 4u);
  const uint32_t states[] = {1, 2, 4, 8, 32, 64};
  const uint32_t rates[] = {9600, 19200, 38400, 115200, 115200, 115200, 115200, 115200};
#endif
  const uint32_t ours[] = {CardStateUnknown,   CardStateAbsent,     CardStatePresent,
                           CardStateSwallowed, CardStateNegotiable, CardStateSpecific};
  for (size_t i = 0; i < 6; ++i) EXPECT_EQ(ours[i], states[i]) << i;
  ASSERT_EQ(dataRatesSupportedCount, sizeof rates / sizeof rates[0]);
  for (size_t i = 0; i < dataRatesSupportedCount; ++i) EXPECT_EQ(dataRatesSupported[i], rates[i]);
}

}  // namespace

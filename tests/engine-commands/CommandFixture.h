// A reader of the family, simulated, driven through the command layer the way
// each build's front end drives it.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Atr.h"
#include "Commands.h"
#include "Frame.h"
#include "Smartcard.h"
#include "T0Raw.h"
#include "vqsim/Cards.h"
#include "vqsim/SimReader.h"
#include "vqtest/EngineSimLink.h"

namespace cmdtest {

using Bytes = std::vector<uint8_t>;

inline Bytes Hex(const char* text) {
  Bytes out;
  unsigned v;
  int n;
  while (std::sscanf(text, " %2x%n", &v, &n) == 1) {
    out.push_back(static_cast<uint8_t>(v));
    text += n;
  }
  return out;
}

// Passes every call on to the simulated reader; lets a test look at the
// engine's state at each bulk read.
class TapLink : public vqsim::UsbLink {
 public:
  explicit TapLink(vqsim::UsbLink& inner) : inner_(inner) {}
  std::function<void()> onRead;

  uint16_t VendorId() const override { return inner_.VendorId(); }
  uint16_t ProductId() const override { return inner_.ProductId(); }
  uint32_t LocationId() const override { return inner_.LocationId(); }
  vqsim::LinkStatus BulkOut(const uint8_t* data, size_t len) override { return inner_.BulkOut(data, len); }
  vqsim::LinkStatus BulkIn(uint8_t* buf, size_t cap, size_t* got, uint32_t timeoutMs) override {
    if (onRead) onRead();
    return inner_.BulkIn(buf, cap, got, timeoutMs);
  }
  vqsim::LinkStatus InterruptIn(uint8_t* buf, size_t cap, size_t* got, uint32_t timeoutMs) override {
    return inner_.InterruptIn(buf, cap, got, timeoutMs);
  }
  vqsim::LinkStatus ClearStall() override { return inner_.ClearStall(); }
  void SetWakeup(std::function<void()> wakeup) override { inner_.SetWakeup(std::move(wakeup)); }

 private:
  vqsim::UsbLink& inner_;
};

class CommandFixture : public ::testing::Test {
 protected:
  std::unique_ptr<vqsim::SimReader> sim;
  std::unique_ptr<TapLink> tap;
  std::unique_ptr<vqtest::EngineReader> reader;
  SmartcardExtension* ext = nullptr;
  ReaderDeviceData* dev = nullptr;
  Bytes request;
  Bytes reply = Bytes(1024);
  uint32_t replyLength = 0;

  // A reader with the given firmware digits and card, its information read
  // and the card state set from it, as the front ends do at start.
  void Open(const std::string& firmware, std::shared_ptr<vqsim::Card> card) {
    vqsim::ReaderConfig config;
    config.firmware = firmware;
    sim = std::make_unique<vqsim::SimReader>(config);
    if (card) sim->InsertCard(std::move(card));
    reader.reset();
    tap = std::make_unique<TapLink>(*sim);
    reader = std::make_unique<vqtest::EngineReader>(*tap);
    ext = reader->ext();
    dev = reader->dev();
    ASSERT_EQ(ReaderInformation(), STATUS_SUCCESS);
    ext->ReaderCapabilities.CurrentState =
        CCIDIsCardPresent(ext->ReplyBuffer[ReaderOffsetStatus]) ? CardStateSwallowed
                                                                : CardStateAbsent;
    sim->ClearReceived();
  }

  void SetIo(const Bytes& req, uint32_t replySize = 1024) {
    request = req;
    SmartcardIoRequest& io = ext->SmartcardIoRequest;
    io.RequestBuffer = request.empty() ? nullptr : request.data();
    io.RequestLength = static_cast<uint32_t>(request.size());
    io.ReplyBuffer = reply.data();
    io.ReplyBufferSize = replySize;
    io.ReplyLength = &replyLength;
    replyLength = 0;
  }

  // Reader information: the Mac handler asks the vendor routine; the CE
  // driver exchanges the frame itself at initialization.
  NTSTATUS ReaderInformation() {
    SetIo({}, 16);
#if VQ_BUILD_CE
    CCIDSetCCIDHeader(ext, ReaderMsgGetInfo, 0, 0, 0, 0, 0);
    const NTSTATUS status = CCID_ReadWrite(ext);
    if (status != STATUS_SUCCESS) return status;
    if (ext->ReplyBuffer[0] != ReaderMsgGetInfo) return STATUS_DEVICE_DATA_ERROR;
    ReaderApplyInfo(ext, ext->ReplyBuffer + ReaderHeaderSize);
    return STATUS_SUCCESS;
#else
    dev->VendorCode = VendorCodeReaderInfo;
    return CCID_SmartcardVender(ext);
#endif
  }

  // Power with the card capabilities cleared first (CE: 0 down, 1 cold, 2
  // warm; Mac: 0 down, 1 reset, 2 up, with PPS mode 1).
  NTSTATUS Power(uint32_t mode) {
    SmartcardInitializeCardCapabilities(ext);
    SetIo({}, 100);
#if VQ_BUILD_CE
    ext->SmartcardIoRequest.MinorCode = mode;
#else
    dev->PowerMode = mode;
    ext->CardCapabilities.PpsMode = 1;
#endif
    return CCID_SmartcardPower(ext);
  }

  // Protocol selection for `mask` as the front ends ask for it: CE re-reads
  // the capabilities in PPS mode 1 first.
  NTSTATUS SetProtocol(uint32_t mask) {
    SetIo({}, 4);
#if VQ_BUILD_CE
    if (!dev->FixedAtrCard) {
      ext->CardCapabilities.PpsMode = 1;
      const NTSTATUS status = SmartcardUpdateCardCapabilities(ext);
      if (status != STATUS_SUCCESS) return status;
    }
    ext->SmartcardIoRequest.MinorCode = (ext->CardCapabilities.ProtocolsOffered | 0x80000000u) & mask;
    return CCID_SmartcardSetProtocol(ext);
#else
    ext->SmartcardIoRequest.MinorCode = mask;
    return CCID_SmartcardSetProtocol(ext, 0, 0);
#endif
  }

  // A command behind the {protocol, 8} header of the current protocol.
  Bytes Request(const Bytes& apdu) const {
    Bytes req(8);
    const uint32_t protocol = ext->CardCapabilities.CurrentProtocol;
    const uint32_t headerLength = 8;
    std::memcpy(req.data(), &protocol, 4);
    std::memcpy(req.data() + 4, &headerLength, 4);
    req.insert(req.end(), apdu.begin(), apdu.end());
    return req;
  }

  NTSTATUS Transmit(const Bytes& apdu, uint32_t replySize = 1024) {
    SetIo(Request(apdu), replySize);
    return CCID_SmartcardTransmit(ext);
  }

  NTSTATUS Escape(const Bytes& data, uint32_t replySize) {
    SetIo(data, replySize);
#if VQ_BUILD_CE
    ext->SmartcardIoRequest.MajorCode = IOCTL_SMARTCARD_VENDOR_ESCAPE;
#else
    dev->VendorCode = VendorCodeEscape;
#endif
    return CCID_SmartcardVender(ext);
  }

  // The card's answer behind the 8-byte header.
  Bytes Answer() const {
    if (replyLength < 8) return {};
    return Bytes(reply.begin() + 8, reply.begin() + replyLength);
  }

  // Frames of one type that the host sent since the last ClearReceived.
  std::vector<vqsim::HostFrame> Sent(uint8_t type) const {
    std::vector<vqsim::HostFrame> out;
    for (const auto& f : sim->Received()) {
      if (f.header.type == type) out.push_back(f);
    }
    return out;
  }
};

}  // namespace cmdtest

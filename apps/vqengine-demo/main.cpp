// vqengine-demo: the reader protocol engine (Mac OS X build) against an
// in-process simulated reader. Asks the reader for its information, powers
// the card, decodes its ATR into the card capabilities and sends two APDUs,
// printing each step.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "Atr.h"
#include "DemoTransport.h"
#include "Frame.h"
#include "Smartcard.h"
#include "T0Raw.h"
#include "vqsim/Cards.h"
#include "vqsim/SimReader.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::string Hex(const uint8_t* p, size_t n) {
  std::string s;
  char b[4];
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(b, sizeof b, i ? " %02X" : "%02X", p[i]);
    s += b;
  }
  return s;
}

std::string Hex(const Bytes& b) { return Hex(b.data(), b.size()); }

const char* StateName(uint32_t state) {
  switch (state) {
    case CardStateAbsent: return "absent";
    case CardStatePresent: return "present";
    case CardStateSwallowed: return "swallowed";
    case CardStateNegotiable: return "negotiable";
    case CardStateSpecific: return "specific";
    default: return "unknown";
  }
}

std::string ProtocolNames(uint32_t mask) {
  std::string s;
  if (mask & ProtocolT0) s += " T=0";
  if (mask & ProtocolT1) s += " T=1";
  if (mask & ProtocolRaw) s += " raw";
  return s.empty() ? " none" : s;
}

// Builds a frame of `type` with `payload` in the send buffer and exchanges it.
NTSTATUS SendFrame(SmartcardExtension* ext, uint8_t type, const Bytes& payload) {
  if (!payload.empty()) std::memcpy(ext->SendBuffer + ReaderHeaderSize, payload.data(), payload.size());
  CCIDSetCCIDHeader(ext->SendBuffer, type, static_cast<uint32_t>(payload.size()),
                    ext->DeviceData->SlotByte, 0, 0, 0);
  ext->SendLength = static_cast<uint32_t>(payload.size()) + ReaderHeaderSize;
  return CCID_ReadWrite(ext);
}

// Reader information (0x60): model text and firmware digits.
bool ReaderInformation(SmartcardExtension* ext) {
  const NTSTATUS status = SendFrame(ext, 0x60, {});
  if (status != STATUS_SUCCESS || ext->ReplyBuffer[ReaderOffsetType] != 0x60 ||
      ext->ReceivedLength < ReaderHeaderSize + ReaderInfoSize) {
    std::printf("reader information failed: 0x%08X\n", static_cast<unsigned>(status));
    return false;
  }
  const uint8_t* info = ext->ReplyBuffer + ReaderHeaderSize;
  std::memcpy(ext->DeviceData->ReaderInfoBlock, info, ReaderInfoSize);
  ext->DeviceData->ReaderInfoOk = 1;
  ext->DeviceData->FirmwareVersion = (info[12] - 0x30u) * 4096 + (info[13] - 0x30u) * 256 +
                                     (info[14] - 0x30u) * 16 + (info[15] - 0x30u);
  std::string model;
  for (int i = 4; i < 16 && info[i] != '-'; ++i) model += static_cast<char>(info[i]);
  const bool present = CCIDIsCardPresent(ext->ReplyBuffer[ReaderOffsetStatus]);
  std::printf("reader information: model \"%s\", firmware %.4s (version 0x%X), card %s\n",
              model.c_str(), reinterpret_cast<const char*>(info + 12),
              ext->DeviceData->FirmwareVersion, present ? "present" : "absent");
  ext->ReaderCapabilities.CurrentState = present ? CardStateSwallowed : CardStateAbsent;
  return present;
}

// Power off, power on, ATR into the card capabilities, capability update.
bool PowerUp(SmartcardExtension* ext) {
  SmartcardInitializeCardCapabilities(ext);
  ext->CardCapabilities.PpsMode = 1;
  SendFrame(ext, 0x63, {});
  NTSTATUS status = SendFrame(ext, 0x62, {});
  const uint8_t* frame = ext->ReplyBuffer;
  if (status != STATUS_SUCCESS || frame[ReaderOffsetType] != 0x80 ||
      !CCIDIsCommandSuccess(frame[ReaderOffsetStatus])) {
    std::printf("power on failed: 0x%08X\n", static_cast<unsigned>(status));
    return false;
  }
  const uint32_t n = ReaderFrameLength(frame);
  if (n < 2 || n - 1 > sizeof ext->CardCapabilities.ATR || n + ReaderHeaderSize > ext->ReceivedLength) {
    std::printf("power on: no usable ATR (%u payload bytes)\n", n);
    return false;
  }
  CardCapabilities& caps = ext->CardCapabilities;
  caps.ATRLength = static_cast<uint8_t>(n - 1);
  std::memcpy(caps.ATR, frame + ReaderHeaderSize + 1, caps.ATRLength);
  std::printf("power on: card type %u, ATR %s (%u bytes)\n", frame[ReaderHeaderSize],
              Hex(caps.ATR, caps.ATRLength).c_str(), caps.ATRLength);

  status = SmartcardUpdateCardCapabilities(ext);
  if (status != STATUS_SUCCESS) {
    std::printf("ATR refused: 0x%08X\n", static_cast<unsigned>(status));
    return false;
  }
  const BitRateEntry& d = BitRateAdjustment[caps.Dl];
  std::printf("ATR decoded (PPS mode 1):\n");
  std::printf("  convention          %s\n", caps.InversConvention ? "inverse" : "direct");
  std::string text;
  for (int i = 0; i < caps.HistoricalCount; ++i) {
    const char c = static_cast<char>(caps.HistoricalChars[i]);
    text += (c >= 0x20 && c < 0x7F) ? c : '.';
  }
  std::printf("  historical bytes    %s (\"%s\")\n",
              Hex(caps.HistoricalChars, caps.HistoricalCount).c_str(), text.c_str());
  std::printf("  Fi/Di in force      %u/%u (F %u, D %u/%u)\n", caps.Fl, caps.Dl,
              ClockRateConversion[caps.Fl].F, d.DNumerator, d.DDivisor);
  std::printf("  Fi/Di offered       %u/%u (PPS1 0x%02X)\n", caps.PtsFl, caps.PtsDl,
              (caps.PtsFl << 4) | caps.PtsDl);
  std::printf("  clock, data rate    %u kHz, %u bit/s\n", caps.ChosenClock, caps.ChosenDataRate);
  std::printf("  etu                 %u us\n", caps.etu);
  std::printf("  extra guard time N  %u (guard time %u us)\n", caps.N, caps.GT);
  std::printf("  protocols offered  %s\n", ProtocolNames(caps.ProtocolsOffered).c_str());
  std::printf("  card state          %s\n", StateName(ext->ReaderCapabilities.CurrentState));
  if (caps.ProtocolsOffered & ProtocolT0) {
    std::printf("  T=0 WI, WWT         %u, %u us\n", caps.T0.WI, caps.T0.WT);
  }
  if (caps.ProtocolsOffered & ProtocolT1) {
    std::printf("  T=1 IFSC, CWT, BWT  %u, %u us, %u us (%s)\n", caps.T1.IFSC, caps.T1.CWT,
                caps.T1.BWT, caps.T1.EDC ? "CRC" : "LRC");
  }
  return true;
}

// One APDU under T=0: request, transfer block, reply.
bool TransmitT0(SmartcardExtension* ext, const Bytes& apdu) {
  Bytes request(ProtocolHeaderSize);
  const uint32_t header[2] = {ProtocolT0, ProtocolHeaderSize};
  std::memcpy(request.data(), header, sizeof header);
  request.insert(request.end(), apdu.begin(), apdu.end());
  Bytes reply(ProtocolHeaderSize + 258);
  uint32_t replyLength = 0;
  SmartcardIoRequest& io = ext->SmartcardIoRequest;
  io.RequestBuffer = request.data();
  io.RequestLength = static_cast<uint32_t>(request.size());
  io.ReplyBuffer = reply.data();
  io.ReplyBufferSize = static_cast<uint32_t>(reply.size());
  io.ReplyLength = &replyLength;

  std::printf("APDU %s\n", Hex(apdu).c_str());
  ext->SendLength = ReaderHeaderSize;
  NTSTATUS status = SmartcardT0Request(ext);
  if (status == STATUS_SUCCESS) {
    CCIDSetCCIDHeader(ext->SendBuffer, 0x6F, ext->SendLength - ReaderHeaderSize, 0, 0, 0, 0);
    status = CCID_ReadWrite(ext);
  }
  if (status == STATUS_SUCCESS && !CCIDIsCommandSuccess(ext->ReplyBuffer[ReaderOffsetStatus])) {
    std::printf("  transfer failed, error byte 0x%02X\n", ext->ReplyBuffer[ReaderOffsetError]);
    return false;
  }
  if (status == STATUS_SUCCESS) {
    // The card's answer is the payload behind the frame header.
    const uint32_t n = ReaderFrameLength(ext->ReplyBuffer);
    if (n + ReaderHeaderSize > ext->ReceivedLength) {
      status = STATUS_DEVICE_PROTOCOL_ERROR;
    } else {
      uint8_t* frame = ext->ReplyBuffer;
      const uint32_t size = ext->ReplyBufferSize;
      ext->ReplyBuffer = frame + ReaderHeaderSize;
      ext->ReplyBufferSize = size - ReaderHeaderSize;
      ext->ReceivedLength = n;
      status = SmartcardT0Reply(ext);
      ext->ReplyBuffer = frame;
      ext->ReplyBufferSize = size;
    }
  }
  if (status != STATUS_SUCCESS) {
    std::printf("  failed: 0x%08X\n", static_cast<unsigned>(status));
    return false;
  }
  std::printf("  -> %s\n", Hex(reply.data() + ProtocolHeaderSize, replyLength - ProtocolHeaderSize).c_str());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  bool inverse = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--inverse") == 0) {
      inverse = true;
    } else {
      std::fprintf(stderr, "usage: %s [--inverse]\n", argv[0]);
      return 2;
    }
  }

  vqsim::SimReader sim;
  sim.InsertCard(inverse ? std::shared_ptr<vqsim::Card>(vqsim::InverseCard())
                         : std::shared_ptr<vqsim::Card>(vqsim::T0Card()));
  DemoAttachReader(&sim);
  std::printf("engine: Mac OS X build, simulated reader %04X:%04X, %s card\n", sim.VendorId(),
              sim.ProductId(), inverse ? "inverse-convention T=0" : "T=0");

  // The record as the IFD handler sets it up.
  static SmartcardExtension ext;
  static ReaderDeviceData dev;
  ext.Version = SmartcardExtensionVersion;
  ext.SendBufferSize = SmartcardBufferSize;
  ext.ReplyBufferSize = SmartcardBufferSize;
  ext.DeviceData = &dev;
  if (SmartcardInitialize(&ext) != STATUS_SUCCESS) {
    std::printf("SmartcardInitialize failed\n");
    return 1;
  }
  ReaderCapabilities& rc = ext.ReaderCapabilities;
  rc.SupportedProtocols = ProtocolT0 | ProtocolT1;
  rc.ReaderType = 0x20;
  rc.CLKFrequency = {3571, 3571};
  rc.DataRate = {dataRatesSupported[0], dataRatesSupported[0]};
  rc.DataRatesSupported = {dataRatesSupported, dataRatesSupportedCount};
  rc.MaxIFSD = 240;
  rc.CurrentState = CardStateUnknown;
  dev.ReadTimeout = 10000;

  int result = 1;
  if (ReaderInformation(&ext) && PowerUp(&ext)) {
    // Protocol selection is the command layer's; here T=0 is simply taken.
    ext.CardCapabilities.CurrentProtocol = ProtocolT0;
    const bool ok = TransmitT0(&ext, {0x00, 0xA4, 0x04, 0x00, 0x07, 0xF0, 0x56, 0x51, 0x55, 0x53, 0x42, 0x01}) &&
                    TransmitT0(&ext, {0x00, 0x84, 0x00, 0x00, 0x08});
    result = ok ? 0 : 1;
  }
  SmartcardExit(&ext);
  return result;
}

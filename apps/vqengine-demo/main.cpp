// vqengine-demo: the reader protocol engine (Mac OS X build) against an
// in-process simulated reader. Asks the reader for its information, powers
// the card (its ATR decoded into the card capabilities), selects the
// protocol and sends two APDUs, printing each step.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "Atr.h"
#include "CommandLine.h"
#include "ExitStatus.h"
#include "Commands.h"
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

// Reader information through the vendor call (code 0x101).
bool ReaderInformation(SmartcardExtension* ext) {
  uint8_t info[ReaderInfoSize] = {};
  uint32_t length = 0;
  SmartcardIoRequest& io = ext->SmartcardIoRequest;
  io = {};
  io.ReplyBuffer = info;
  io.ReplyBufferSize = sizeof info;
  io.ReplyLength = &length;
  ext->DeviceData->VendorCode = VendorCodeReaderInfo;
  const NTSTATUS status = CCID_SmartcardVender(ext);
  if (status != STATUS_SUCCESS || length != ReaderInfoSize) {
    std::printf("reader information failed: 0x%08X\n", static_cast<unsigned>(status));
    return false;
  }
  std::string model;
  for (uint32_t i = 4; i < ReaderInfoSize && info[i] != '-'; ++i) model += static_cast<char>(info[i]);
  const bool present = CCIDIsCardPresent(ext->ReplyBuffer[ReaderOffsetStatus]);
  std::printf("reader information: model \"%s\", firmware %.4s (version 0x%X), max IFSD %u, "
              "%u data rates up to %u bit/s, card %s\n",
              model.c_str(), reinterpret_cast<const char*>(info + 12),
              ext->DeviceData->FirmwareVersion, ext->ReaderCapabilities.MaxIFSD,
              ext->ReaderCapabilities.DataRatesSupported.Entries,
              ext->ReaderCapabilities.DataRate.Max, present ? "present" : "absent");
  ext->ReaderCapabilities.CurrentState = present ? CardStateSwallowed : CardStateAbsent;
  return present;
}

void PrintCapabilities(const SmartcardExtension* ext) {
  const CardCapabilities& caps = ext->CardCapabilities;
  const BitRateEntry& d = BitRateAdjustment[caps.Dl];
  std::printf("ATR decoded (PPS mode %u):\n", caps.PpsMode);
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
  if (caps.ProtocolsOffered & ProtocolT0) {
    std::printf("  T=0 WI, WWT         %u, %u us\n", caps.T0.WI, caps.T0.WT);
  }
  if (caps.ProtocolsOffered & ProtocolT1) {
    std::printf("  T=1 IFSC, CWT, BWT  %u, %u us, %u us (%s)\n", caps.T1.IFSC, caps.T1.CWT,
                caps.T1.BWT, caps.T1.EDC ? "CRC" : "LRC");
  }
}

// Power up as the IFD handler does it: clear the capabilities, power with PPS
// mode 1 (the ATR decoded on the way), then PPS and protocol parameters.
bool PowerUp(SmartcardExtension* ext) {
  uint8_t atr[100];
  uint32_t length = 0;
  SmartcardInitializeCardCapabilities(ext);
  SmartcardIoRequest& io = ext->SmartcardIoRequest;
  io = {};
  io.ReplyBuffer = atr;
  io.ReplyBufferSize = sizeof atr;
  io.ReplyLength = &length;
  ext->DeviceData->PowerMode = PowerModeUp;
  ext->CardCapabilities.PpsMode = 1;
  NTSTATUS status = CCID_SmartcardPower(ext);
  if (status != STATUS_SUCCESS) {
    std::printf("power up failed: 0x%08X\n", static_cast<unsigned>(status));
    return false;
  }
  const CardCapabilities& caps = ext->CardCapabilities;
  std::printf("power up: ATR %s (%u bytes), card state %s\n", Hex(caps.ATR, caps.ATRLength).c_str(),
              caps.ATRLength, StateName(ext->ReaderCapabilities.CurrentState));
  PrintCapabilities(ext);

  uint32_t protocol = 0;
  io.ReplyBuffer = reinterpret_cast<uint8_t*>(&protocol);
  io.ReplyBufferSize = sizeof protocol;
  io.MinorCode = caps.ProtocolsOffered;
  status = CCID_SmartcardSetProtocol(ext, 1, static_cast<uint8_t>((caps.PtsFl << 4) | caps.PtsDl));
  std::printf("set protocol: 0x%08X, Fi/Di in force %u/%u, current protocol%s, card state %s\n",
              static_cast<unsigned>(status), caps.Fl, caps.Dl,
              ProtocolNames(caps.CurrentProtocol).c_str(),
              StateName(ext->ReaderCapabilities.CurrentState));
  return status == STATUS_SUCCESS;
}

// One APDU with the {protocol, 8} request header of the current protocol.
bool Transmit(SmartcardExtension* ext, const Bytes& apdu) {
  const uint32_t header[2] = {ext->CardCapabilities.CurrentProtocol, ProtocolHeaderSize};
  Bytes request(ProtocolHeaderSize);
  std::memcpy(request.data(), header, sizeof header);
  request.insert(request.end(), apdu.begin(), apdu.end());
  Bytes reply(SmartcardBufferSize);
  uint32_t replyLength = 0;
  SmartcardIoRequest& io = ext->SmartcardIoRequest;
  io = {};
  io.RequestBuffer = request.data();
  io.RequestLength = static_cast<uint32_t>(request.size());
  io.ReplyBuffer = reply.data();
  io.ReplyBufferSize = static_cast<uint32_t>(reply.size());
  io.ReplyLength = &replyLength;

  std::printf("APDU %s\n", Hex(apdu).c_str());
  const NTSTATUS status = CCID_SmartcardTransmit(ext);
  if (status != STATUS_SUCCESS || replyLength < ProtocolHeaderSize) {
    std::printf("  failed: 0x%08X\n", static_cast<unsigned>(status));
    return false;
  }
  std::printf("  -> %s\n",
              Hex(reply.data() + ProtocolHeaderSize, replyLength - ProtocolHeaderSize).c_str());
  return true;
}

// One reader with one card: the whole road from the reader information to
// two APDUs.
bool RunCard(const char* name, std::shared_ptr<vqsim::Card> card) {
  vqsim::SimReader sim;
  sim.InsertCard(std::move(card));
  DemoAttachReader(&sim);
  std::printf("== simulated reader %04X:%04X, card: %s (engine: Mac OS X build)\n",
              sim.VendorId(), sim.ProductId(), name);

  // The record as the IFD handler sets it up.
  static SmartcardExtension ext;
  static ReaderDeviceData dev;
  ext = {};
  dev = {};
  ext.Version = SmartcardExtensionVersion;
  ext.SendBufferSize = SmartcardBufferSize;
  ext.ReplyBufferSize = SmartcardBufferSize;
  ext.DeviceData = &dev;
  if (SmartcardInitialize(&ext) != STATUS_SUCCESS) {
    std::printf("SmartcardInitialize failed\n");
    return false;
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

  const bool ok = ReaderInformation(&ext) && PowerUp(&ext) &&
                  Transmit(&ext, {0x00, 0xA4, 0x04, 0x00, 0x07, 0xF0, 0x56, 0x51, 0x55, 0x53,
                                  0x42, 0x01}) &&
                  Transmit(&ext, {0x00, 0x84, 0x00, 0x00, 0x08});
  SmartcardExit(&ext);
  DemoAttachReader(nullptr);
  std::printf("\n");
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Runs the reader protocol engine against a simulated reader: reader information, power-up, "
               "protocol and two APDUs, each step printed."};
  std::string only;
  app.add_option("--card", only, "Only this card (default: t0, then t1)")
      ->check(CLI::IsMember({"t0", "t1", "t1-crc", "inverse"}));
  if (const std::optional<int> end = launch::Parse(app, argc, argv)) return *end;
  struct Choice {
    const char* kind;
    const char* name;
    std::shared_ptr<vqsim::Card> (*make)();
  };
  const Choice choices[] = {
      {"t0", "T=0", [] { return std::shared_ptr<vqsim::Card>(vqsim::T0Card()); }},
      {"t1", "T=1", [] { return std::shared_ptr<vqsim::Card>(vqsim::T1Card()); }},
      {"t1-crc", "T=1 (CRC)", [] { return std::shared_ptr<vqsim::Card>(vqsim::T1CrcCard()); }},
      {"inverse", "inverse-convention T=0",
       [] { return std::shared_ptr<vqsim::Card>(vqsim::InverseCard()); }},
  };
  bool ok = true;
  bool ran = false;
  for (const Choice& c : choices) {
    const bool wanted = only.empty() ? (std::strcmp(c.kind, "t0") == 0 ||
                                        std::strcmp(c.kind, "t1") == 0)
                                     : only == c.kind;
    if (!wanted) continue;
    ran = true;
    ok = RunCard(c.name, c.make()) && ok;
  }
  if (!ran) {
    std::fprintf(stderr, "vqengine-demo: unknown card kind: %s\n", only.c_str());
    return launch::kUsage;
  }
  return ok ? launch::kOk : launch::kFailed;
}

// Feeds the Windows CE driver's I/O control entry (VQU_IOControl, and the
// smart-card I/O control layer behind it) a series of calls as a careless or
// hostile caller makes them (any code, input and output of any length, or
// none), each followed by what the reader answers to it.
//
// Input: card state, flags, then per call: code (an index into the codes in
// use, or a raw u32), input length and bytes (the first u32 often an
// attribute tag or power action), output size, the length of this call's
// reader answers and the answers (see QueueAnswers).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "Commands.h"
#include "Driver.h"
#include "FuzzReader.h"
#include "IoControl.h"
#include "Smartcard.h"
#include "VQRDCE.h"

namespace {

const DWORD kCodes[] = {
    IOCTL_SMARTCARD_POWER,         IOCTL_SMARTCARD_GET_ATTRIBUTE, IOCTL_SMARTCARD_SET_ATTRIBUTE,
    IOCTL_SMARTCARD_CONFISCATE,    IOCTL_SMARTCARD_TRANSMIT,      IOCTL_SMARTCARD_EJECT,
    IOCTL_SMARTCARD_SWALLOW,       IOCTL_SMARTCARD_IS_PRESENT,    IOCTL_SMARTCARD_IS_ABSENT,
    IOCTL_SMARTCARD_SET_PROTOCOL,  IOCTL_SMARTCARD_GET_STATE,     IOCTL_SMARTCARD_CANCEL_TRACKING,
    IOCTL_SMARTCARD_RESET_TRACKING, IOCTL_SMARTCARD_VENDOR_ESCAPE, IOCTL_SMARTCARD_VENDOR_INFO,
};
constexpr size_t kCodeCount = sizeof kCodes / sizeof kCodes[0];

const uint32_t kTags[] = {
    SCARD_ATTR_VENDOR_NAME,         SCARD_ATTR_VENDOR_IFD_TYPE,     SCARD_ATTR_VENDOR_IFD_VERSION,
    SCARD_ATTR_VENDOR_IFD_SERIAL_NO, SCARD_ATTR_CHANNEL_ID,         SCARD_ATTR_PROTOCOL_TYPES,
    SCARD_ATTR_DEFAULT_CLK,         SCARD_ATTR_MAX_CLK,             SCARD_ATTR_DEFAULT_DATA_RATE,
    SCARD_ATTR_MAX_DATA_RATE,       SCARD_ATTR_MAX_IFSD,            SCARD_ATTR_POWER_MGMT_SUPPORT,
    SCARD_ATTR_CHARACTERISTICS,     SCARD_ATTR_CURRENT_PROTOCOL_TYPE, SCARD_ATTR_CURRENT_CLK,
    SCARD_ATTR_CURRENT_F,           SCARD_ATTR_CURRENT_D,           SCARD_ATTR_CURRENT_N,
    SCARD_ATTR_CURRENT_W,           SCARD_ATTR_CURRENT_IFSC,        SCARD_ATTR_CURRENT_IFSD,
    SCARD_ATTR_CURRENT_BWT,         SCARD_ATTR_CURRENT_CWT,         SCARD_ATTR_CURRENT_EBC_ENCODING,
    SCARD_ATTR_ICC_PRESENCE,        SCARD_ATTR_ICC_INTERFACE_STATUS, SCARD_ATTR_ATR_STRING,
    SCARD_ATTR_ICC_TYPE_PER_ATR,    SCARD_ATTR_DEVICE_UNIT,         SCARD_ATTR_SUPRESS_T1_IFS_REQUEST,
};
constexpr size_t kTagCount = sizeof kTags / sizeof kTags[0];

void SetText(CountedText& text, const char* bytes) {
  std::memset(text.Buffer, 0, sizeof text.Buffer);
  text.Length = static_cast<uint16_t>(std::strlen(bytes) + 1);
  std::memcpy(text.Buffer, bytes, text.Length);
}

// The reader as the stream driver sets it up, in the driver's own block.
SmartcardExtension* TheReader() {
  static ReaderDeviceBlock block{};
  static bool ready = false;
  SmartcardExtension* ext = &block.Extension;
  if (!ready) {
    ready = true;
    InitReaderContext(ext, &block.DeviceData);
    SetText(ext->VendorAttributes.VendorName, "TERVANE");
    SetText(ext->VendorAttributes.IfdType, "VQ480T");
    ext->VendorAttributes.UnitNo = 1;
    ext->ReaderCapabilities.SupportedProtocols = ProtocolT0 | ProtocolT1;
    ext->ReaderCapabilities.ReaderType = 0x20;
    ext->ReaderFunctions[RDF_CARD_POWER] = CCID_SmartcardPower;
    ext->ReaderFunctions[RDF_TRANSMIT] = CCID_SmartcardTransmit;
    ext->ReaderFunctions[RDF_CARD_TRACKING] = CCID_SmartcardCardTracking;
    ext->ReaderFunctions[RDF_SET_PROTOCOL] = CCID_SmartcardSetProtocol;
    ext->ReaderFunctions[RDF_IOCTL_VENDOR] = CCID_SmartcardVender;
    block.DeviceData.ReadTimeout = 60000;
    block.DeviceData.RunState = RunStateOpen;
    // Attached and opened: the stream entry finds it in the device table.
    DeviceTableLockInit();
    DeviceTableAdd(ext);
  }
  return ext;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // FUZZ_VERBOSE=1 prints each call and its result (for reproducers).
  static const bool verbose = std::getenv("FUZZ_VERBOSE") != nullptr;
  SmartcardExtension* ext = TheReader();
  FuzzInput in{data, size};
  ext->ReaderCapabilities.CurrentState = in.Byte() % 8;
  const uint8_t flags = in.Byte();
  ext->DeviceData->ReaderInfoOk = flags & 1;
  ext->DeviceData->FirmwareVersion = (flags & 2) ? 0x100 : 0x40;
  // A card left over from the previous input is taken out first.
  SmartcardInitializeCardCapabilities(ext);

  for (int call = 0; call < 16 && !in.Empty(); ++call) {
    const uint8_t pick = in.Byte();
    const DWORD code = pick < 0xF0 ? kCodes[pick % kCodeCount] : in.U32();
    const uint8_t shape = in.Byte();
    std::vector<uint8_t> input = in.Take(in.Word() % 1100);
    if ((shape & 3) == 1 && input.size() >= 4) {
      const uint32_t tag = kTags[input[0] % kTagCount];
      std::memcpy(input.data(), &tag, 4);
    } else if ((shape & 3) == 2 && input.size() >= 8) {
      // A T=0 or T=1 request header for the protocol in force.
      const uint32_t protocol = ext->CardCapabilities.CurrentProtocol, eight = 8;
      std::memcpy(input.data(), &protocol, 4);
      std::memcpy(input.data() + 4, &eight, 4);
    }
    const uint32_t outputSize = in.Word() % 1100;
    // Exactly as large as announced: a write past it is caught.
    std::vector<uint8_t> output(outputSize ? outputSize : 1, 0xA5);
    PBYTE inputBuffer = (shape & 4) ? nullptr : (input.empty() ? nullptr : input.data());
    PBYTE outputBuffer = (shape & 8) ? nullptr : output.data();
    DWORD returned = 0xDEADBEEF;
    PDWORD returnedPlace = (shape & 16) ? nullptr : &returned;

    ResetPlayback();
    std::vector<uint8_t> answers = in.Take(in.Word() % 4096);
    FuzzInput reader{answers.data(), answers.size()};
    QueueAnswers(reader, ext->CardCapabilities.T1.EDC & 1);

    // A card-tracking wait ends at once: it was cancelled before it began.
    if (code == IOCTL_SMARTCARD_IS_PRESENT || code == IOCTL_SMARTCARD_IS_ABSENT)
      SetEvent(ext->OsData->CancelEvent);

    SetLastError(0);
    const BOOL ok = VQU_IOControl(reinterpret_cast<DWORD_PTR>(ext), code, inputBuffer,
                                  static_cast<DWORD>(input.size()), outputBuffer, outputSize,
                                  returnedPlace);
    const DWORD error = GetLastError();
    ResetEvent(ext->OsData->CancelEvent);
    if (verbose) {
      std::fprintf(stderr, "ioctl 0x%X in %zu%s out %u%s -> %s error %u returned %u\n",
                   static_cast<unsigned>(code), input.size(), inputBuffer ? "" : " (none)",
                   outputSize, outputBuffer ? "" : " (none)", ok ? "TRUE" : "FALSE",
                   static_cast<unsigned>(error), static_cast<unsigned>(returned));
    }

    // The caller learns no more bytes than its buffer holds, and a failure
    // hands out none.
    if (returnedPlace) {
      if (returned > (outputBuffer ? outputSize : 0)) __builtin_trap();
      if (!ok && returned != 0) __builtin_trap();
    }
    // Nothing of this call is kept in the context.
    if (ext->SmartcardIoRequest.ReplyLength != nullptr) __builtin_trap();
  }
  return 0;
}

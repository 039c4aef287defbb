#include "Commands.h"

#include <string.h>

#include "Atr.h"
#include "CommandFrames.h"
#include "Frame.h"
#include "T0Raw.h"
#include "T1.h"

const uint8_t FixedCardAtr[FixedCardAtrLength] = {
    0x3B, 0xBF, 0x18, 0x00, 0x80, 0x31, 0x70, 0x35, 'S',  'T',  'A',  'R',
    'C',  'O',  'S',  ' ',  'S',  '2',  '1',  ' ',  'C',  0x90, 0x00, 0x9B};
const uint8_t DelayedCardAtr[DelayedCardAtrLength] = {0x3B, 0xE2, 0x00, 0x00,
                                                      0x40, 0x20, 0x99, 0x01};

void CommandSetHeader(SmartcardExtension* ext, uint8_t type, uint32_t length, uint8_t p1) {
#if VQ_BUILD_CE
  CCIDSetCCIDHeader(ext, type, length, 0, p1, 0, 0);
#else
  const uint8_t slot = ext->DeviceData != nullptr ? ext->DeviceData->SlotByte : 0;
  CCIDSetCCIDHeader(ext->SendBuffer, type, length, slot, p1, 0, 0);
  ext->SendLength = length + ReaderHeaderSize;
#endif
}

NTSTATUS CommandExchange(SmartcardExtension* ext, uint8_t type, const uint8_t* payload,
                         uint32_t length, uint8_t p1) {
  if (ext->SendBuffer == nullptr || ext->SendBufferSize < ReaderHeaderSize ||
      length > ext->SendBufferSize - ReaderHeaderSize) {
    return STATUS_BUFFER_TOO_SMALL;
  }
  if (length != 0) memcpy(ext->SendBuffer + ReaderHeaderSize, payload, length);
  CommandSetHeader(ext, type, length, p1);
  return CCID_ReadWrite(ext);
}

bool CommandSucceeded(uint8_t status) {
#if VQ_BUILD_CE
  return CCIDIsCommandSuccess(status) == ReaderCommandSuccess;
#else
  return CCIDIsCommandSuccess(status);
#endif
}

uint8_t ReplyType(const SmartcardExtension* ext) {
  return ext->ReplyBuffer != nullptr ? ext->ReplyBuffer[ReaderOffsetType] : 0;
}

uint8_t ReplyStatus(const SmartcardExtension* ext) {
  return ext->ReplyBuffer != nullptr ? ext->ReplyBuffer[ReaderOffsetStatus] : 0xFF;
}

uint32_t ReplyPayloadHeld(const SmartcardExtension* ext) {
  if (ext->ReplyBuffer == nullptr || ext->ReceivedLength < ReaderHeaderSize ||
      ext->ReceivedLength > ext->ReplyBufferSize) {
    return 0;
  }
  const uint32_t announced = ReaderFrameLength(ext->ReplyBuffer);
  const uint32_t held = ext->ReceivedLength - ReaderHeaderSize;
  return announced < held ? announced : held;
}

void ReturnToCaller(SmartcardExtension* ext, const uint8_t* data, uint32_t length) {
  SmartcardIoRequest& io = ext->SmartcardIoRequest;
  uint32_t n = 0;
  if (io.ReplyBuffer != nullptr) {
    n = length < io.ReplyBufferSize ? length : io.ReplyBufferSize;
    if (n != 0) memcpy(io.ReplyBuffer, data, n);
  }
  if (io.ReplyLength != nullptr) *io.ReplyLength = n;
}

uint32_t ReaderFirmwareVersion(const uint8_t* info) {
  return (uint32_t{info[12]} - 0x30) * 4096 + (uint32_t{info[13]} - 0x30) * 256 +
         (uint32_t{info[14]} - 0x30) * 16 + (uint32_t{info[15]} - 0x30);
}

void ReaderApplyInfo(SmartcardExtension* ext, const uint8_t* info) {
  ReaderDeviceData* dev = ext->DeviceData;
  ReaderCapabilities& rc = ext->ReaderCapabilities;
  const uint32_t version = ReaderFirmwareVersion(info);
  dev->FirmwareVersion = version;
  dev->ReaderInfoOk = 1;
  memcpy(dev->ReaderInfoBlock, info, ReaderInfoSize);
  dev->ReaderInfoBlock[ReaderInfoSize] = 0;

  rc.MaxIFSD = version > FirmwareEtThreshold ? 252 : 251;
  if (version & FirmwareFlag381) {
    rc.DataRatesSupported = {dataRatesSupported381, dataRatesSupported381Count};
  } else if (version > FirmwareEtThreshold) {
    rc.DataRatesSupported = {dataRatesSupportedET, dataRatesSupportedETCount};
  } else {
    rc.DataRatesSupported = {dataRatesSupportedET2, dataRatesSupportedET2Count};
  }
  rc.DataRate.Default = rc.DataRatesSupported.List[0];
  rc.DataRate.Max = rc.DataRatesSupported.List[rc.DataRatesSupported.Entries - 1];
}

NTSTATUS CCID_ReturnATR(SmartcardExtension* ext) {
  ReaderDeviceData* dev = ext->DeviceData;
  CardCapabilities& caps = ext->CardCapabilities;
  const uint8_t* reply = ext->ReplyBuffer;
  const uint32_t held = ReplyPayloadHeld(ext);
  dev->DelayedAtrCard = 0;

  const uint8_t cardType = held >= 1 ? reply[ReaderHeaderSize] : 0;
  if (dev->ReaderInfoOk && (cardType == 2 || cardType == 3)) {
    memcpy(caps.ATR, FixedCardAtr, FixedCardAtrLength);
    caps.ATRLength = FixedCardAtrLength;
    ReturnToCaller(ext, caps.ATR, caps.ATRLength);
    dev->FixedAtrCard = 1;
    return STATUS_SUCCESS;
  }
  dev->FixedAtrCard = 0;

  // The low byte of the payload length counts the card-type byte and the ATR;
  // never more than arrived nor more than the ATR field holds.
  const uint32_t n = reply != nullptr ? reply[4] : 0;
  if (n <= 1 || held < 2) return STATUS_SUCCESS;
  uint32_t length = n - 1;
  if (length > held - 1) length = held - 1;
  if (length > sizeof caps.ATR) length = sizeof caps.ATR;
  memcpy(caps.ATR, reply + ReaderHeaderSize + 1, length);
  caps.ATRLength = static_cast<uint8_t>(length);
  ReturnToCaller(ext, caps.ATR, length);
  if (length == DelayedCardAtrLength && memcmp(caps.ATR, DelayedCardAtr, length) == 0) {
    dev->DelayedAtrCard = 1;
  }
  return STATUS_SUCCESS;
}

#if VQ_BUILD_CE
NTSTATUS CCID_SmartcardPTS(SmartcardExtension* ext) {
#else
NTSTATUS CCID_SmartcardPTS(SmartcardExtension* ext, uint8_t usePps1, uint8_t pps1Arg) {
#endif
  CardCapabilities& caps = ext->CardCapabilities;
#if VQ_BUILD_MAC
  if (usePps1) {
    caps.PtsFl = pps1Arg >> 4;
    caps.PtsDl = pps1Arg & 0x0F;
  }
#endif
  if (ext->SendBuffer == nullptr) return STATUS_BUFFER_TOO_SMALL;
  uint8_t* request = ext->SendBuffer + ReaderHeaderSize;
  CommandSetHeader(ext, ReaderMsgXfrBlock, 4, 0);
  request[0] = 0xFF;

  const uint32_t common = ext->SmartcardIoRequest.MinorCode & caps.ProtocolsOffered;
  uint8_t pps0;
  if (common & ProtocolT1) {
    pps0 = 0x11;
  } else if (common & ProtocolT0) {
    pps0 = 0x10;
  } else {
    return STATUS_INVALID_DEVICE_REQUEST;
  }
  const uint8_t pps1 = static_cast<uint8_t>(caps.PtsFl << 4 | (caps.PtsDl & 0x0F));
  if (ext->DeviceData->FirmwareVersion <= FirmwarePpsT0Limit && pps0 == 0x10 && pps1 == 0x18) {
    return STATUS_NOT_SUPPORTED;
  }
  request[1] = pps0;
  request[2] = pps1;
  request[3] = static_cast<uint8_t>(0xFF ^ pps0 ^ pps1);

  const NTSTATUS status = CCID_ReadWrite(ext);
  if (status != STATUS_SUCCESS) return status;
  if (ReplyType(ext) != ReaderReplyDataBlock || !CommandSucceeded(ReplyStatus(ext)) ||
      ReplyPayloadHeld(ext) < 4) {
    return STATUS_INVALID_DEVICE_REQUEST;
  }
  const uint8_t* answer = ext->ReplyBuffer + ReaderHeaderSize;
  if (answer[0] != 0xFF || answer[1] != pps0 || answer[2] != pps1 ||
      (answer[0] ^ answer[1] ^ answer[2] ^ answer[3]) != 0) {
    return STATUS_INVALID_DEVICE_REQUEST;
  }
  caps.Fl = caps.PtsFl;
  caps.Dl = caps.PtsDl;
  return STATUS_SUCCESS;
}

NTSTATUS CCID_SmartcardIoReply(SmartcardExtension* ext) {
  if (ext->ReplyBuffer == nullptr || ext->ReceivedLength < ReaderHeaderSize ||
      ext->ReceivedLength > ext->ReplyBufferSize) {
    return STATUS_DEVICE_DATA_ERROR;
  }
  const uint32_t length = ReaderFrameLength(ext->ReplyBuffer);
  if (length > ext->ReceivedLength - ReaderHeaderSize) return STATUS_DEVICE_DATA_ERROR;

  uint8_t* const frame = ext->ReplyBuffer;
  const uint32_t frameSize = ext->ReplyBufferSize;
  ext->ReceivedLength = length;
  ext->ReplyBuffer = frame + ReaderHeaderSize;
  ext->ReplyBufferSize = frameSize - ReaderHeaderSize;
  NTSTATUS status;
  switch (ext->CardCapabilities.CurrentProtocol) {
    case ProtocolT0:
      status = SmartcardT0Reply(ext);
      break;
    case ProtocolT1:
      status = SmartcardT1Reply(ext);
      break;
    case ProtocolRaw:
      status = SmartcardRawReply(ext);
      break;
    default:
      status = STATUS_INVALID_DEVICE_REQUEST;
      break;
  }
  ext->ReplyBuffer = frame;
  ext->ReplyBufferSize = frameSize;
  return status;
}

#if VQ_BUILD_CE
NTSTATUS CCID_SmartcardCardTracking(SmartcardExtension* ext) {
  ext->DeviceData->CardTrackingArmed = 1;
  return STATUS_PENDING;
}
#endif

// Escape: the caller's bytes to the reader, the reader's bytes back.
static NTSTATUS VendorEscape(SmartcardExtension* ext) {
  SmartcardIoRequest& io = ext->SmartcardIoRequest;
  if (io.ReplyLength != nullptr) *io.ReplyLength = 0;
  if (io.RequestLength != 0 && io.RequestBuffer == nullptr) return STATUS_INVALID_PARAMETER;
  // The request goes behind the frame header: the whole send buffer but the
  // header's 10 bytes (1014 of 1024) is the most a request can hold.
  if (ext->SendBufferSize < ReaderHeaderSize ||
      io.RequestLength > ext->SendBufferSize - ReaderHeaderSize) {
    return STATUS_BUFFER_TOO_SMALL;
  }

  NTSTATUS status = CommandExchange(ext, ReaderMsgEscape, io.RequestBuffer, io.RequestLength, 0);
  if (status != STATUS_SUCCESS) return status;
  if (ReplyType(ext) != ReaderReplyDataBlock) return STATUS_SUCCESS;
#if VQ_BUILD_MAC
  if (!CommandSucceeded(ReplyStatus(ext))) return STATUS_SUCCESS;
#endif
  // An answer that announces more than it holds is refused, not copied.
  const uint32_t length = ReaderFrameLength(ext->ReplyBuffer);
  if (length != ReplyPayloadHeld(ext)) return STATUS_DEVICE_DATA_ERROR;
  if (io.ReplyLength != nullptr) *io.ReplyLength = length;
  if (length > io.ReplyBufferSize || (length != 0 && io.ReplyBuffer == nullptr)) {
    return STATUS_BUFFER_TOO_SMALL;
  }
  if (length != 0) memcpy(io.ReplyBuffer, ext->ReplyBuffer + ReaderHeaderSize, length);
  return STATUS_SUCCESS;
}

// The 16 reader-information bytes to the caller (at least 16 bytes of room).
static NTSTATUS ReturnReaderInfo(SmartcardExtension* ext) {
  SmartcardIoRequest& io = ext->SmartcardIoRequest;
  if (io.ReplyLength != nullptr) *io.ReplyLength = ReaderInfoSize;
  if (io.ReplyBuffer == nullptr || io.ReplyBufferSize < ReaderInfoSize) {
    return STATUS_BUFFER_TOO_SMALL;
  }
  memcpy(io.ReplyBuffer, ext->DeviceData->ReaderInfoBlock, ReaderInfoSize);
  return STATUS_SUCCESS;
}

NTSTATUS CCID_SmartcardVender(SmartcardExtension* ext) {
#if VQ_BUILD_CE
  switch (ext->SmartcardIoRequest.MajorCode) {
    case IOCTL_SMARTCARD_VENDOR_ESCAPE:
      return VendorEscape(ext);
    case IOCTL_SMARTCARD_VENDOR_INFO:
      return ReturnReaderInfo(ext);
    default:
      return STATUS_NOT_SUPPORTED;
  }
#else
  switch (ext->DeviceData->VendorCode) {
    case VendorCodeEscape:
      return VendorEscape(ext);
    case VendorCodeReaderInfo: {
      const NTSTATUS status = CommandExchange(ext, ReaderMsgGetInfo, nullptr, 0, 0);
      if (status != STATUS_SUCCESS) return status;
      if (ReplyType(ext) != ReaderMsgGetInfo || ReplyPayloadHeld(ext) < ReaderInfoSize) {
        return STATUS_DEVICE_DATA_ERROR;
      }
      ReaderApplyInfo(ext, ext->ReplyBuffer + ReaderHeaderSize);
      return ReturnReaderInfo(ext);
    }
    default:
      return STATUS_NOT_SUPPORTED;
  }
#endif
}

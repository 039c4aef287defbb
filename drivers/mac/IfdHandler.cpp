// The IFD handler 2.0 entry points the PC/SC daemon calls. Each finds its
// reader's context by Lun >> 16, polls the slot where the call needs the
// card, and drives the engine's reader commands.
#include <string.h>

#include "Commands.h"
#include "Frame.h"
#include "IfdHandler.h"
#include "PcscHandler.h"
#include "Smartcard.h"
#include "UsbTransport.h"

#define VQ_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// Size of the handler's request buffer for a transmission (protocol header
// and data) and of the reply buffer the engine fills.
const uint32_t ProtocolHeaderSize = 8;
const uint32_t TransmitDataMax = SmartcardBufferSize;
const uint32_t TransmitReplySize = SmartcardBufferSize;
const uint32_t PowerReplySize = 100;
const uint32_t ControlCodeSize = 4;

SmartcardExtension* ContextOf(DWORD Lun) {
  DWORD index = Lun >> 16;
  return index < static_cast<DWORD>(MaxReaders) ? g_pSmartcardExtension[index] : nullptr;
}

void ForgetCard(SmartcardExtension* ext) {
  ext->CardCapabilities.ATRLength = 0;
  ext->CardCapabilities.CurrentProtocol = ProtocolNone;
}

void SetIoRequest(SmartcardExtension* ext, uint8_t* request, uint32_t requestLength,
                  uint8_t* reply, uint32_t replySize, uint32_t* replyLength) {
  SmartcardIoRequest& io = ext->SmartcardIoRequest;
  io.RequestBuffer = request;
  io.RequestLength = requestLength;
  io.ReplyBuffer = reply;
  io.ReplyBufferSize = replySize;
  io.ReplyLength = replyLength;
  *replyLength = 0;
}

// The I/O request must not keep pointers into an entry point's stack frame.
void ClearIoRequest(SmartcardExtension* ext) {
  memset(&ext->SmartcardIoRequest, 0, sizeof ext->SmartcardIoRequest);
}

void PutU32(PUCHAR value, uint32_t number) { memcpy(value, &number, sizeof number); }

// A number answered in one byte when the caller's buffer is smaller than a
// u32, else as a u32; Length 1 either way.
RESPONSECODE PutSmall(PDWORD Length, PUCHAR Value, DWORD size, uint32_t number) {
  if (size == 0) return IFD_ERROR_INSUFFICIENT_BUFFER;
  if (size < sizeof(uint32_t))
    Value[0] = static_cast<UCHAR>(number);
  else
    PutU32(Value, number);
  *Length = 1;
  return IFD_SUCCESS;
}

// The reader of `Lun` with a card in it, asked afresh: a card found gone is
// forgotten.
RESPONSECODE ReaderWithCard(DWORD Lun, SmartcardExtension** ext) {
  *ext = ContextOf(Lun);
  if (!*ext) return IFD_COMMUNICATION_ERROR;
  if (CCID_SmartcardCardState(*ext) != STATUS_SUCCESS) return IFD_COMMUNICATION_ERROR;
  if ((*ext)->ReaderCapabilities.CurrentState == CardStateAbsent) {
    ForgetCard(*ext);
    return IFD_ICC_NOT_PRESENT;
  }
  return IFD_SUCCESS;
}

}  // namespace

VQ_EXPORT RESPONSECODE IFDHCreateChannel(DWORD Lun, DWORD Channel) {
  DWORD index = Lun >> 16;
  if (index > 3 || g_slot[index] != 0) return IFD_COMMUNICATION_ERROR;
  // A channel that is open stays as it is.
  if (g_pSmartcardExtension[index]) return IFD_COMMUNICATION_ERROR;
  g_IsIFDH20 = 1;
  return CreateChannel(32, Lun, Channel, nullptr);
}

VQ_EXPORT RESPONSECODE IFDHCloseChannel(DWORD Lun) {
  SmartcardExtension* ext = ContextOf(Lun);
  if (!ext) return IFD_COMMUNICATION_ERROR;
  UsbClose(ext);
  g_pSmartcardExtension[Lun >> 16] = nullptr;
  FreeSmartcardResource(ext);
  return IFD_SUCCESS;
}

VQ_EXPORT RESPONSECODE IFDHGetCapabilities(DWORD Lun, DWORD Tag, PDWORD Length, PUCHAR Value) {
  if (!Length) return IFD_COMMUNICATION_ERROR;
  DWORD size = *Length;
  *Length = 0;
  SmartcardExtension* ext = ContextOf(Lun);
  if (!ext) return IFD_COMMUNICATION_ERROR;
  if (!Value) size = 0;
  const uintptr_t* description = ext->DeviceData->DeviceDescription;
  uint32_t tagClass = (Tag >> 8) & 0xFF;
  uint32_t id = Tag & 0xFF;

  switch (tagClass) {
    case 0x01: {
      int word = -1;
      switch (id) {
        case 0x00: word = 0; break;
        case 0x01: word = 1; break;
        case 0x02: word = 2; break;
        case 0x03: word = 3; break;
        case 0x10: word = 4; break;
        case 0x20: case 0x21: case 0x22: case 0x23: case 0x24: case 0x25: case 0x26:
          word = 5 + static_cast<int>(id - 0x20);
          break;
        case 0x31: word = 12; break;
        case 0x40: word = 13; break;
        case 0x42: word = 14; break;
        case 0x50: word = 15; break;
        default:
          if (id >= 0x81 && id <= 0xF0) return IFD_SUCCESS;
          return IFD_ERROR_TAG;
      }
      if (word == 0 || word == 1 || word == 3) {
        const char* text = reinterpret_cast<const char*>(description[word]);
        size_t length = strlen(text);
        if (size < length + 1) return IFD_ERROR_INSUFFICIENT_BUFFER;
        memcpy(Value, text, length + 1);
        *Length = length;
        return IFD_SUCCESS;
      }
      if (size < sizeof(uint32_t)) return IFD_ERROR_INSUFFICIENT_BUFFER;
      PutU32(Value, static_cast<uint32_t>(description[word]));
      *Length = sizeof(uint32_t);
      return IFD_SUCCESS;
    }
    case 0x02:
      if (id != 0x01) return IFD_ERROR_TAG;
      if (size < sizeof(uint32_t)) return IFD_ERROR_INSUFFICIENT_BUFFER;
      PutU32(Value, ext->CardCapabilities.CurrentProtocol);
      *Length = sizeof(uint32_t);
      return IFD_SUCCESS;
    case 0x03:
      switch (id) {
        case 0x00:
        case 0x01:
          if (CCID_SmartcardCardState(ext) != STATUS_SUCCESS) return IFD_COMMUNICATION_ERROR;
          return PutSmall(Length, Value, size, ext->ReaderCapabilities.CurrentState);
        case 0x03: {
          uint8_t length = ext->CardCapabilities.ATRLength;
          if (size < length) return IFD_ERROR_INSUFFICIENT_BUFFER;
          if (length) memcpy(Value, ext->CardCapabilities.ATR, length);
          *Length = length;
          return IFD_SUCCESS;
        }
        case 0x04:
          return IFD_SUCCESS;
        default:
          return IFD_ERROR_TAG;
      }
    case 0x0F:
      if (id == (TAG_IFD_SLOTS_NUMBER & 0xFF)) return PutSmall(Length, Value, size, 1);
      if (id == (TAG_IFD_SIMULTANEOUS_ACCESS & 0xFF))
        return PutSmall(Length, Value, size, MaxReaders);
      return IFD_SUCCESS;
    default:
      return IFD_SUCCESS;
  }
}

VQ_EXPORT RESPONSECODE IFDHSetCapabilities(DWORD, DWORD, DWORD, PUCHAR) { return IFD_ERROR_TAG; }

VQ_EXPORT RESPONSECODE IFDHSetProtocolParameters(DWORD Lun, DWORD Protocol, UCHAR Flags,
                                                 UCHAR PTS1, UCHAR, UCHAR) {
  SmartcardExtension* ext = ContextOf(Lun);
  if (!ext) return IFD_COMMUNICATION_ERROR;
  if (Protocol > 2) return IFD_PROTOCOL_NOT_SUPPORTED;

  uint8_t reply[PowerReplySize];
  uint32_t replyLength = 0;
  SetIoRequest(ext, nullptr, 0, reply, sizeof reply, &replyLength);
  ext->DeviceData->PowerMode = PowerModeReset;
  CCID_SmartcardPower(ext);  // the card is reset before the flags are looked at

  RESPONSECODE result = IFD_SUCCESS;
  SetIoRequest(ext, nullptr, 0, reply, sizeof reply, &replyLength);
  ext->SmartcardIoRequest.MinorCode = static_cast<uint32_t>(Protocol);
  if (Flags & ~IFD_NEGOTIATE_PTS1)
    result = IFD_PROTOCOL_NOT_SUPPORTED;
  else if (CCID_SmartcardSetProtocol(ext, 1, PTS1 ? PTS1 : 0x11) != STATUS_SUCCESS)
    result = IFD_ERROR_PTS_FAILURE;
  ClearIoRequest(ext);
  return result;
}

VQ_EXPORT RESPONSECODE IFDHPowerICC(DWORD Lun, DWORD Action, PUCHAR Atr, PDWORD AtrLength) {
  // What the caller's ATR buffer holds (the daemon passes its size); no ATR
  // until one is copied.
  DWORD atrSize = (Atr && AtrLength) ? *AtrLength : 0;
  if (AtrLength) *AtrLength = 0;
  SmartcardExtension* ext = ContextOf(Lun);
  if (!ext) return IFD_COMMUNICATION_ERROR;
  if (CCID_SmartcardCardState(ext) != STATUS_SUCCESS) return IFD_COMMUNICATION_ERROR;
  if (ext->ReaderCapabilities.CurrentState < 3) {
    ForgetCard(ext);
    return IFD_COMMUNICATION_ERROR;
  }

  SmartcardInitializeCardCapabilities(ext);
  uint8_t reply[PowerReplySize];
  uint32_t replyLength = 0;
  SetIoRequest(ext, nullptr, 0, reply, sizeof reply, &replyLength);

  RESPONSECODE result = IFD_SUCCESS;
  if (Action == IFD_POWER_DOWN) {
    ext->DeviceData->PowerMode = PowerModeDown;
    CCID_SmartcardPower(ext);
    if (Atr && atrSize) Atr[0] = 0;
  } else if (Action != IFD_RESET && Action != IFD_POWER_UP) {
    result = IFD_NOT_SUPPORTED;
  } else {
    ext->DeviceData->PowerMode = Action == IFD_RESET ? PowerModeReset : PowerModeUp;
    ext->CardCapabilities.PpsMode = 1;
    NTSTATUS status = CCID_SmartcardPower(ext);
    if (status != STATUS_SUCCESS) {
      SetIoRequest(ext, nullptr, 0, reply, sizeof reply, &replyLength);
      status = CCID_SmartcardPower(ext);
    }
    if (status != STATUS_SUCCESS) {
      result = status == STATUS_UNRECOGNIZED_MEDIA ? IFD_ERROR_POWER_ACTION
                                                   : IFD_COMMUNICATION_ERROR;
    } else {
      if (!ext->DeviceData->FixedAtrCard) {
        SetIoRequest(ext, nullptr, 0, reply, sizeof reply, &replyLength);
        ext->SmartcardIoRequest.MinorCode = ext->CardCapabilities.ProtocolsOffered;
        CCID_SmartcardSetProtocol(ext, 0, 0);
      }
      uint8_t length = ext->CardCapabilities.ATRLength;
      if (!Atr || !AtrLength || atrSize < length) {
        result = IFD_COMMUNICATION_ERROR;  // an ATR the caller cannot hold
      } else {
        memcpy(Atr, ext->CardCapabilities.ATR, length);
        *AtrLength = length;
      }
    }
  }
  ClearIoRequest(ext);
  return result;
}

VQ_EXPORT RESPONSECODE IFDHTransmitToICC(DWORD Lun, SCARD_IO_HEADER, PUCHAR TxBuffer,
                                         DWORD TxLength, PUCHAR RxBuffer, PDWORD RxLength,
                                         PSCARD_IO_HEADER RecvPci) {
  // The caller's room; nothing is answered until the answer is copied.
  DWORD rxSize = RxLength ? *RxLength : 0;
  if (RxLength) *RxLength = 0;
  SmartcardExtension* ext = nullptr;
  if (RESPONSECODE rc = ReaderWithCard(Lun, &ext); rc != IFD_SUCCESS) return rc;
  if (!TxBuffer || !RxBuffer || !RxLength) return IFD_COMMUNICATION_ERROR;
  if (TxLength > TransmitDataMax) return IFD_ERROR_INSUFFICIENT_BUFFER;

  uint32_t protocol = ext->CardCapabilities.CurrentProtocol;
  uint8_t request[ProtocolHeaderSize + TransmitDataMax];
  uint8_t reply[TransmitReplySize];
  uint32_t header[2] = {protocol, ProtocolHeaderSize};
  memcpy(request, header, sizeof header);
  memcpy(request + ProtocolHeaderSize, TxBuffer, TxLength);
  memcpy(reply, header, sizeof header);
  uint32_t replyLength = 0;
  SetIoRequest(ext, request, ProtocolHeaderSize + static_cast<uint32_t>(TxLength), reply,
               sizeof reply, &replyLength);

  RESPONSECODE result = IFD_SUCCESS;
  if (CCID_SmartcardTransmit(ext) != STATUS_SUCCESS || replyLength < ProtocolHeaderSize ||
      replyLength > sizeof reply) {
    result = IFD_COMMUNICATION_ERROR;
  } else if (replyLength - ProtocolHeaderSize > rxSize) {
    result = IFD_ERROR_INSUFFICIENT_BUFFER;
  } else {
    *RxLength = replyLength - ProtocolHeaderSize;
    memcpy(RxBuffer, reply + ProtocolHeaderSize, *RxLength);
    if (RecvPci) RecvPci->Protocol = protocol;
  }
  ClearIoRequest(ext);
  return result;
}

VQ_EXPORT RESPONSECODE IFDHControl(DWORD Lun, PUCHAR TxBuffer, DWORD TxLength, PUCHAR RxBuffer,
                                   PDWORD RxLength) {
  // The caller's room; nothing is answered until the answer is copied.
  DWORD rxSize = RxLength ? *RxLength : 0;
  if (RxLength) *RxLength = 0;
  SmartcardExtension* ext = nullptr;
  if (RESPONSECODE rc = ReaderWithCard(Lun, &ext); rc != IFD_SUCCESS) return rc;
  if (!TxBuffer || !RxBuffer || !RxLength || TxLength < ControlCodeSize)
    return IFD_COMMUNICATION_ERROR;

  uint32_t code;
  memcpy(&code, TxBuffer, sizeof code);
  if (code == VendorCodeReaderInfo) {
    if (rxSize < ReaderInfoSize) return IFD_ERROR_INSUFFICIENT_BUFFER;
    memcpy(RxBuffer, ext->DeviceData->ReaderInfoBlock, ReaderInfoSize);
    *RxLength = ReaderInfoSize;
    return IFD_SUCCESS;
  }
  // The escape request has to fit behind a frame header in the send buffer.
  DWORD requestLength = TxLength - ControlCodeSize;
  if (requestLength > ext->SendBufferSize - ReaderHeaderSize) return IFD_ERROR_INSUFFICIENT_BUFFER;

  uint32_t replyLength = 0;
  uint32_t replySize = rxSize > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(rxSize);
  SetIoRequest(ext, TxBuffer + ControlCodeSize, static_cast<uint32_t>(requestLength), RxBuffer,
               replySize, &replyLength);
  ext->DeviceData->VendorCode = code;
  RESPONSECODE result = IFD_SUCCESS;
  if (CCID_SmartcardVender(ext) != STATUS_SUCCESS)
    result = IFD_COMMUNICATION_ERROR;
  else
    *RxLength = replyLength;
  ClearIoRequest(ext);
  return result;
}

VQ_EXPORT RESPONSECODE IFDHICCPresence(DWORD Lun) {
  SmartcardExtension* ext = ContextOf(Lun);
  if (!ext) return IFD_COMMUNICATION_ERROR;
  // A reader that cannot be asked (unplugged, its pipe stalled, its answers
  // unusable) has no card we know of: the daemon marks the reader unavailable
  // at once, keeps polling, and its clients' next calls fail.
  if (CCID_SmartcardCardState(ext) != STATUS_SUCCESS) {
    ForgetCard(ext);
    return IFD_COMMUNICATION_ERROR;
  }
  if (ext->ReaderCapabilities.CurrentState > CardStateAbsent) return IFD_ICC_PRESENT;
  ForgetCard(ext);
  return IFD_ICC_NOT_PRESENT;
}

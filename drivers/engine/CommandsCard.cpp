// The card commands: power, protocol selection and transmission.
#include <string.h>

#include "Atr.h"
#include "CommandFrames.h"
#include "Commands.h"
#include "Frame.h"
#include "T0Raw.h"
#include "T1.h"

#if VQ_BUILD_CE
#include <windows.h>  // Sleep
#endif

// The ATR announces TB1 (T0 bit 0x20) with a value other than 0.
static bool AtrHasTb1(const CardCapabilities& caps) {
  if (caps.ATRLength < 2) return false;
  const uint8_t t0 = caps.ATR[1];
  if ((t0 & 0x20) == 0) return false;
  const uint32_t index = (t0 & 0x10) ? 3 : 2;
  return index < caps.ATRLength && caps.ATR[index] != 0;
}

static NTSTATUS PowerDown(SmartcardExtension* ext) {
  ReaderCapabilities& rc = ext->ReaderCapabilities;
  if (rc.CurrentState > CardStatePresent) rc.CurrentState = CardStatePresent;
  const NTSTATUS status = CommandExchange(ext, ReaderMsgPowerOff, nullptr, 0, 0);
#if VQ_BUILD_CE
  if (status != STATUS_SUCCESS) return status;
  if (ReplyType(ext) != ReaderReplySlotStatus) return STATUS_DEVICE_DATA_ERROR;
#else
  if (status != STATUS_SUCCESS || !CommandSucceeded(ReplyStatus(ext))) {
    return STATUS_DEVICE_DATA_ERROR;
  }
#endif
  rc.CurrentState = CardStateSwallowed;
  ext->CardCapabilities.CurrentProtocol = ProtocolNone;
  return STATUS_SUCCESS;
}

NTSTATUS CCID_SmartcardPower(SmartcardExtension* ext) {
  CardCapabilities& caps = ext->CardCapabilities;
  caps.ATRLength = 0;
  caps.CurrentProtocol = ProtocolNone;
#if VQ_BUILD_CE
  const uint32_t mode = ext->SmartcardIoRequest.MinorCode;
#else
  const uint32_t mode = ext->DeviceData->PowerMode;
#endif
  if (mode == 0) return PowerDown(ext);
  if (mode != 1 && mode != 2) return STATUS_INVALID_DEVICE_REQUEST;

  // Cold or warm reset: power off, then on.
  NTSTATUS status = CommandExchange(ext, ReaderMsgPowerOff, nullptr, 0, 0);
#if VQ_BUILD_CE
  if (status != STATUS_SUCCESS || ReplyType(ext) != ReaderReplySlotStatus) {
    return STATUS_DEVICE_DATA_ERROR;
  }
#else
  if (status != STATUS_SUCCESS || !CommandSucceeded(ReplyStatus(ext))) {
    return STATUS_DEVICE_DATA_ERROR;
  }
#endif
  status = CommandExchange(ext, ReaderMsgPowerOn, nullptr, 0, 0);
#if VQ_BUILD_CE
  if (status != STATUS_SUCCESS) return status;
#endif
  // The Mac build judges the answer alone (a failed exchange leaves no ATR).

  bool reReset = false;
  for (;;) {
    if (!CommandSucceeded(ReplyStatus(ext))) {
#if VQ_BUILD_MAC
      CommandExchange(ext, ReaderMsgPowerOff, nullptr, 0, 0);
      ReaderCapabilities& rc = ext->ReaderCapabilities;
      if (rc.CurrentState > CardStateSwallowed) rc.CurrentState = CardStateSwallowed;
      caps.CurrentProtocol = ProtocolNone;
#endif
      return STATUS_UNRECOGNIZED_MEDIA;
    }
    CCID_ReturnATR(ext);
#if VQ_BUILD_MAC
    if (ext->DeviceData->FixedAtrCard) return STATUS_SUCCESS;
#endif
    const NTSTATUS result = SmartcardUpdateCardCapabilities(ext);
    caps.CurrentProtocol = ProtocolNone;
    if (reReset || !AtrHasTb1(caps)) return result;

    // A card that asks for a programming voltage (TB1 not 0) is reset once more.
    reReset = true;
    status = CommandExchange(ext, ReaderMsgReReset, nullptr, 0, 0);
    if (status != STATUS_SUCCESS) return status;
  }
}

// Writes a protocol number as the caller's u32 answer.
static void ReturnProtocol(SmartcardExtension* ext, uint32_t protocol) {
  uint8_t bytes[4];
  memcpy(bytes, &protocol, sizeof bytes);
  SmartcardIoRequest& io = ext->SmartcardIoRequest;
  if (io.ReplyBuffer == nullptr || io.ReplyBufferSize < sizeof bytes) {
    if (io.ReplyLength != nullptr) *io.ReplyLength = 0;
    return;
  }
  ReturnToCaller(ext, bytes, sizeof bytes);
}

// Guard-time byte of the T=1 parameters for Fi/Di 0x18.
static uint8_t T1GuardFor18(uint8_t n, uint8_t cwi) {
  const uint32_t q = (n == 255 ? 11u : n + 12u) / 31u;
  const uint32_t c = n == 255 ? 12u : (n + 12u) % 256u;
  const uint32_t limit = PowerOfTwo(cwi) + 11u;
  for (uint32_t k = q + 2; k >= 1; --k) {
    if (c + k < limit) return static_cast<uint8_t>((n + k) % 256u);
  }
  return n;
}

#if VQ_BUILD_CE
NTSTATUS CCID_SmartcardSetProtocol(SmartcardExtension* ext) {
#else
NTSTATUS CCID_SmartcardSetProtocol(SmartcardExtension* ext, uint8_t usePps1, uint8_t pps1) {
#endif
  CardCapabilities& caps = ext->CardCapabilities;
  ReaderCapabilities& rc = ext->ReaderCapabilities;
  ReaderDeviceData* dev = ext->DeviceData;

  if (dev->FixedAtrCard) {
    caps.CurrentProtocol = ProtocolFixedCard;
    rc.CurrentState = CardStateSpecific;
    ReturnProtocol(ext, ProtocolFixedCard);
    return STATUS_SUCCESS;
  }

  if (rc.CurrentState == CardStateNegotiable) {
#if VQ_BUILD_CE
    NTSTATUS status = CCID_SmartcardPTS(ext);
#else
    NTSTATUS status = CCID_SmartcardPTS(ext, usePps1, pps1);
#endif
    if (status != STATUS_SUCCESS) {
      // A failed PPS is not reported: reset the card and offer Fi = Di = 1.
      if (CommandExchange(ext, ReaderMsgReReset, nullptr, 0, 0) != STATUS_SUCCESS) {
        caps.Fl = 1;
        caps.Dl = 1;
      } else {
        caps.PtsFl = 1;
        caps.PtsDl = 1;
#if VQ_BUILD_CE
        status = CCID_SmartcardPTS(ext);
#else
        status = CCID_SmartcardPTS(ext, 0, 0);
#endif
        if (status != STATUS_SUCCESS) {
          caps.Fl = 1;
          caps.Dl = 1;
        }
      }
    }
  }

  const uint32_t version = dev->FirmwareVersion;
  if (version > FirmwareSpeedCmdThreshold && (version & FirmwareFlag381) == 0 && caps.Fl != 1 &&
      caps.Fl != 9) {
    const uint8_t speed = ReaderSetSpeedByte;
    CommandExchange(ext, ReaderMsgSetSpeed, &speed, 1, 0);  // answer not examined
  }

  uint8_t params[7] = {};
  params[0] = static_cast<uint8_t>(caps.Fl << 4 | (caps.Dl & 0x0F));
  params[1] = caps.InversConvention ? 0x02 : 0x00;
  params[2] = caps.N;
  params[4] = 0;

  const uint32_t common = ext->SmartcardIoRequest.MinorCode & caps.ProtocolsOffered;
  uint32_t protocol;
  uint32_t length;
  uint8_t p1;
  if (common & ProtocolT1) {
    params[1] |= caps.T1.EDC & T1EdcCrc;
    params[3] = static_cast<uint8_t>(caps.T1.BWI << 4 | (caps.T1.CWI & 0x0F));
    if (params[0] == 0x18) params[2] = T1GuardFor18(caps.N, caps.T1.CWI);
    protocol = ProtocolT1;
    length = 7;
    p1 = 1;
  } else if (common & ProtocolT0) {
    const uint32_t n = caps.N;
    params[2] = static_cast<uint8_t>(params[0] == 0x18 ? (n + (n + 12) / 31 + 1) % 256 : (n + 1) % 256);
    params[3] = caps.T0.WI;
    protocol = ProtocolT0;
    length = 5;
    p1 = 0;
  } else {
    caps.CurrentProtocol = ProtocolNone;
    return STATUS_INVALID_PARAMETER;
  }

  const NTSTATUS status = CommandExchange(ext, ReaderMsgSetParameters, params, length, p1);
  if (status != STATUS_SUCCESS) return status;
  if (!CommandSucceeded(ReplyStatus(ext))) {
    caps.CurrentProtocol = ProtocolNone;
    return STATUS_NO_MEDIA;
  }
  caps.CurrentProtocol = protocol;
  rc.CurrentState = CardStateSpecific;
  ReturnProtocol(ext, protocol);
  return STATUS_SUCCESS;
}

namespace {

// Keeps one T=1 exchange within its bounds (T1.h): looks at the block state
// around each reply and ends the exchange when the card keeps it going
// without end.
class T1Bounds {
 public:
  explicit T1Bounds(const SmartcardExtension* ext) {
    const SmartcardIoRequest& io = ext->SmartcardIoRequest;
    uint32_t headerLength = ProtocolHeaderSize;
    if (io.RequestBuffer != nullptr && io.RequestLength >= ProtocolHeaderSize) {
      memcpy(&headerLength, io.RequestBuffer + 4, sizeof headerLength);
    }
    maxChained_ = io.ReplyBufferSize > headerLength ? io.ReplyBufferSize - headerLength : 0;
  }

  void BeforeReply(const T1State& t1) {
    bytesReceived_ = t1.BytesReceived;
    bytesSent_ = t1.BytesSent;
    rsn_ = t1.RSN;
  }

  // The status of the reply, or the failure that ends the exchange.
  NTSTATUS AfterReply(SmartcardExtension* ext, NTSTATUS status) {
    if (status != STATUS_MORE_PROCESSING_REQUIRED) return status;
    const T1State& t1 = ext->T1State;
    if (t1.BytesReceived > bytesReceived_ || t1.BytesSent > bytesSent_) {
      wtx_ = 0;
      ifs_ = 0;
    }
    // An I-block was taken (the receive number moved on) and more follow.
    if (t1.RSN != rsn_ && t1.State == T1StateRBlock) {
      ++chained_;
      emptyChained_ = t1.BytesReceived > bytesReceived_ ? 0 : emptyChained_ + 1;
    }

    NTSTATUS failure = STATUS_SUCCESS;
    if (t1.State == T1StateWtxResponse && ++wtx_ > T1MaxWtxRequests) {
      failure = STATUS_IO_TIMEOUT;
    } else if (t1.State == T1StateIfsResponse && ++ifs_ > T1MaxIfsRequests) {
      failure = STATUS_DEVICE_PROTOCOL_ERROR;
    } else if (t1.State == T1StateAbortResponse && ++aborts_ > T1MaxAborts) {
      failure = STATUS_DEVICE_PROTOCOL_ERROR;
    } else if (chained_ > maxChained_ || emptyChained_ > T1MaxEmptyChained) {
      failure = STATUS_DEVICE_PROTOCOL_ERROR;
    }
    if (failure == STATUS_SUCCESS) return status;
    SmartcardT1EndExchange(ext);
    return failure;
  }

 private:
  uint32_t maxChained_ = 0;
  uint32_t wtx_ = 0;
  uint32_t ifs_ = 0;
  uint32_t aborts_ = 0;
  uint32_t chained_ = 0;
  uint32_t emptyChained_ = 0;
  uint32_t bytesReceived_ = 0;
  uint32_t bytesSent_ = 0;
  uint8_t rsn_ = 0;
};

}  // namespace

NTSTATUS CCID_SmartcardTransmit(SmartcardExtension* ext) {
  CardCapabilities& caps = ext->CardCapabilities;
  // Nothing returned until a reply routine hands out the card's answer.
  if (ext->SmartcardIoRequest.ReplyLength != nullptr) *ext->SmartcardIoRequest.ReplyLength = 0;
  T1Bounds bounds(ext);
  NTSTATUS status;
  // Bounded: T=0 and raw take one pass; T=1 repeats while its reply routine
  // asks for more, which its own counters (resend, resync) and T1Bounds end.
  do {
    ext->SendLength = ReaderHeaderSize;
    uint8_t p1 = 0;
    const uint32_t protocol = caps.CurrentProtocol;
    if (protocol == ProtocolT0) {
      status = SmartcardT0Request(ext);
    } else if (protocol == ProtocolRaw) {
      status = SmartcardRawRequest(ext);
    } else if (protocol == ProtocolT1) {
      if (ext->T1State.State == T1StateWtxResponse) p1 = ext->T1State.Wtx;
      status = SmartcardT1Request(ext);
    } else {
      return STATUS_INVALID_DEVICE_REQUEST;
    }
    if (status != STATUS_SUCCESS) return status;

    CommandSetHeader(ext, ReaderMsgXfrBlock, ext->SendLength - ReaderHeaderSize, p1);
#if VQ_BUILD_CE
    if (ext->DeviceData->DelayedAtrCard) Sleep(DelayedCardPauseMs);
#endif
    status = CCID_ReadWrite(ext);
    if (status != STATUS_SUCCESS) return status;

    if (CommandSucceeded(ReplyStatus(ext))) {
      if (protocol != ProtocolT1) {
        status = CCID_SmartcardIoReply(ext);
        continue;
      }
      bounds.BeforeReply(ext->T1State);
      status = bounds.AfterReply(ext, CCID_SmartcardIoReply(ext));
      continue;
    }
    const uint8_t error = ext->ReplyBuffer[ReaderOffsetError];
    if (error == ReaderErrorNotReady) return STATUS_DEVICE_NOT_READY;
    if (error != ReaderErrorCardMute) return STATUS_DEVICE_DATA_ERROR;
    if (protocol == ProtocolT1) {
      // The block protocol treats the missing block itself (an R-block, then
      // the resend and resync rules); its previous-state word keeps a state.
      bounds.BeforeReply(ext->T1State);
      status = bounds.AfterReply(ext, CCID_SmartcardIoReply(ext));
      continue;
    }
    // T=0, and raw as well: a mute card is a time-out, not an answer.
    return STATUS_IO_TIMEOUT;
  } while (status == STATUS_MORE_PROCESSING_REQUIRED);
  return status;
}

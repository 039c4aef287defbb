// The smart-card I/O control layer: card tracking in the dispatcher,
// attributes, state and the reader functions in the executor.
#include "IoControl.h"

#include "Atr.h"
#include "Driver.h"
#include "Smartcard.h"

namespace {

ReaderFunction Slot(SmartcardExtension* ext, uint32_t index) { return ext->ReaderFunctions[index]; }

NTSTATUS CallSlot(SmartcardExtension* ext, uint32_t index) {
  ReaderFunction f = Slot(ext, index);
  return f ? f(ext) : STATUS_NOT_SUPPORTED;
}

bool ReplyFits(const SmartcardIoRequest& io, uint32_t size) {
  return io.ReplyBuffer != NULL && io.ReplyBufferSize >= size;
}

NTSTATUS AnswerValue(SmartcardIoRequest& io, uint32_t value) {
  if (!ReplyFits(io, 4)) return STATUS_BUFFER_TOO_SMALL;
  memcpy(io.ReplyBuffer, &value, 4);
  *io.ReplyLength = 4;
  return STATUS_SUCCESS;
}

NTSTATUS AnswerByte(SmartcardIoRequest& io, uint8_t value) {
  if (!ReplyFits(io, 1)) return STATUS_BUFFER_TOO_SMALL;
  io.ReplyBuffer[0] = value;
  *io.ReplyLength = 1;
  return STATUS_SUCCESS;
}

NTSTATUS AnswerString(SmartcardIoRequest& io, const uint8_t* bytes, uint32_t count) {
  if (!ReplyFits(io, count)) return STATUS_BUFFER_TOO_SMALL;
  if (count) memcpy(io.ReplyBuffer, bytes, count);
  *io.ReplyLength = count;
  return STATUS_SUCCESS;
}

// A stored text: its length is at most the size of its buffer.
uint32_t TextLength(const CountedText& text) {
  return text.Length <= sizeof(text.Buffer) ? text.Length : sizeof(text.Buffer);
}

bool CardNegotiated(const SmartcardExtension* ext) {
  return ext->ReaderCapabilities.CurrentState >= CardStateNegotiable;
}

NTSTATUS GetAttribute(SmartcardExtension* ext) {
  SmartcardIoRequest& io = ext->SmartcardIoRequest;
  CardCapabilities& card = ext->CardCapabilities;
  ReaderCapabilities& reader = ext->ReaderCapabilities;
  VendorAttributes& vendor = ext->VendorAttributes;
  const uint32_t tag = io.MinorCode;

  switch (tag) {
    case SCARD_ATTR_VENDOR_NAME:
      return AnswerString(io, vendor.VendorName.Buffer, TextLength(vendor.VendorName));
    case SCARD_ATTR_VENDOR_IFD_TYPE:
      return AnswerString(io, vendor.IfdType.Buffer, TextLength(vendor.IfdType));
    case SCARD_ATTR_VENDOR_IFD_VERSION:
      return AnswerValue(io, vendor.IfdVersion);
    case SCARD_ATTR_VENDOR_IFD_SERIAL_NO:
      if (vendor.IfdSerialNo.Length == 0) return STATUS_NOT_SUPPORTED;
      return AnswerString(io, vendor.IfdSerialNo.Buffer, TextLength(vendor.IfdSerialNo));
    case SCARD_ATTR_CHANNEL_ID:
      return AnswerValue(io, (reader.ReaderType << 16) | reader.Channel);
    case SCARD_ATTR_PROTOCOL_TYPES:
      return AnswerValue(io, reader.SupportedProtocols);
    case SCARD_ATTR_DEFAULT_CLK:
      return AnswerValue(io, reader.CLKFrequency.Default);
    case SCARD_ATTR_MAX_CLK:
      return AnswerValue(io, reader.CLKFrequency.Max);
    case SCARD_ATTR_DEFAULT_DATA_RATE:
      return AnswerValue(io, reader.DataRate.Default);
    case SCARD_ATTR_MAX_DATA_RATE:
      return AnswerValue(io, reader.DataRate.Max);
    case SCARD_ATTR_MAX_IFSD:
      return AnswerValue(io, reader.MaxIFSD);
    case SCARD_ATTR_POWER_MGMT_SUPPORT:
      return AnswerValue(io, reader.PowerMgmtSupport);
    case SCARD_ATTR_CHARACTERISTICS:
      return AnswerValue(io, reader.MechProperties);
    case SCARD_ATTR_DEVICE_UNIT:
      return AnswerValue(io, vendor.UnitNo);
    case SCARD_ATTR_ICC_PRESENCE: {
      EnterCriticalSection(&ext->OsData->ReaderLock);
      const uint32_t state = reader.CurrentState;
      LeaveCriticalSection(&ext->OsData->ReaderLock);
      if (state == CardStateUnknown) return STATUS_INVALID_DEVICE_STATE;
      return AnswerByte(io, state == CardStateAbsent ? 0 : state == CardStatePresent ? 1 : 2);
    }
    case SCARD_ATTR_ICC_INTERFACE_STATUS:
      return AnswerByte(io, reader.CurrentState >= CardStateSwallowed ? 0xFF : 0);
    case SCARD_ATTR_ATR_STRING:
      if (!ReplyFits(io, card.ATRLength)) return STATUS_BUFFER_TOO_SMALL;
      if (!CardNegotiated(ext)) return STATUS_INVALID_DEVICE_STATE;
      return AnswerString(io, card.ATR, card.ATRLength <= sizeof(card.ATR) ? card.ATRLength : sizeof(card.ATR));
    default:
      break;
  }

  // The attributes of the card in use need a card with an ATR read.
  switch (tag) {
    case SCARD_ATTR_CURRENT_PROTOCOL_TYPE:
    case SCARD_ATTR_CURRENT_CLK:
    case SCARD_ATTR_CURRENT_F:
    case SCARD_ATTR_CURRENT_D:
    case SCARD_ATTR_CURRENT_N:
    case SCARD_ATTR_CURRENT_W:
    case SCARD_ATTR_CURRENT_IFSC:
    case SCARD_ATTR_CURRENT_IFSD:
    case SCARD_ATTR_CURRENT_BWT:
    case SCARD_ATTR_CURRENT_CWT:
    case SCARD_ATTR_CURRENT_EBC_ENCODING:
    case SCARD_ATTR_ICC_TYPE_PER_ATR:
      if (!CardNegotiated(ext)) return STATUS_INVALID_DEVICE_STATE;
      break;
    default:
      return STATUS_NOT_SUPPORTED;
  }
  switch (tag) {
    case SCARD_ATTR_CURRENT_PROTOCOL_TYPE:
      return AnswerValue(io, card.CurrentProtocol);
    case SCARD_ATTR_CURRENT_CLK:
    case SCARD_ATTR_CURRENT_F: {
      if (card.ClockRateConversion == NULL || card.Fl >= 16) return STATUS_UNRECOGNIZED_MEDIA;
      const ClockRateEntry& e = card.ClockRateConversion[card.Fl];
      return AnswerValue(io, tag == SCARD_ATTR_CURRENT_CLK ? e.fs / 1000 : e.F);
    }
    case SCARD_ATTR_CURRENT_D: {
      if (card.BitRateAdjustment == NULL || card.Dl >= 16) return STATUS_UNRECOGNIZED_MEDIA;
      const BitRateEntry& e = card.BitRateAdjustment[card.Dl];
      if (e.DDivisor == 0) return STATUS_UNRECOGNIZED_MEDIA;
      return AnswerValue(io, e.DNumerator * 64 / e.DDivisor);
    }
    case SCARD_ATTR_CURRENT_N:
      return AnswerValue(io, card.N);
    case SCARD_ATTR_CURRENT_W:
      return AnswerValue(io, card.T0.WI);
    case SCARD_ATTR_CURRENT_IFSC:
      return AnswerValue(io, ext->T1State.IFSC);
    case SCARD_ATTR_CURRENT_IFSD:
      return AnswerValue(io, ext->T1State.IFSD);
    case SCARD_ATTR_CURRENT_BWT:
      return AnswerValue(io, card.T1.BWI);
    case SCARD_ATTR_CURRENT_CWT:
      return AnswerValue(io, card.T1.CWI);
    case SCARD_ATTR_CURRENT_EBC_ENCODING:
      return AnswerValue(io, card.T1.EDC);
    default:  // SCARD_ATTR_ICC_TYPE_PER_ATR
      return AnswerByte(io, (card.CurrentProtocol & (ProtocolT0 | ProtocolT1)) ? 1 : 0);
  }
}

NTSTATUS Power(SmartcardExtension* ext) {
  SmartcardIoRequest& io = ext->SmartcardIoRequest;
  if (!Slot(ext, RDF_CARD_POWER)) return STATUS_NOT_SUPPORTED;
  const uint32_t state = ext->ReaderCapabilities.CurrentState;
  if (state == CardStateUnknown || state == CardStateAbsent) return STATUS_INVALID_DEVICE_STATE;
  SmartcardInitializeCardCapabilities(ext);
  switch (io.MinorCode) {
    case SCARD_POWER_DOWN:
      return CallSlot(ext, RDF_CARD_POWER);
    case SCARD_COLD_RESET:
    case SCARD_WARM_RESET:
      if (!ReplyFits(io, 33)) return STATUS_BUFFER_TOO_SMALL;
      return CallSlot(ext, RDF_CARD_POWER);
    default:
      return STATUS_INVALID_DEVICE_REQUEST;
  }
}

NTSTATUS Transmit(SmartcardExtension* ext) {
  SmartcardIoRequest& io = ext->SmartcardIoRequest;
  if (!Slot(ext, RDF_TRANSMIT)) return STATUS_NOT_SUPPORTED;
  if (ext->ReaderCapabilities.CurrentState != CardStateSpecific) return STATUS_INVALID_DEVICE_STATE;
  if (io.RequestBuffer == NULL || io.RequestLength < 8) return STATUS_INVALID_PARAMETER;
  uint32_t protocol;
  memcpy(&protocol, io.RequestBuffer, 4);
  if (protocol != ext->CardCapabilities.CurrentProtocol) return STATUS_INVALID_DEVICE_STATE;
  ext->SendLength = 0;
  return CallSlot(ext, RDF_TRANSMIT);
}

NTSTATUS SetProtocol(SmartcardExtension* ext) {
  SmartcardIoRequest& io = ext->SmartcardIoRequest;
  CardCapabilities& card = ext->CardCapabilities;
  uint32_t& state = ext->ReaderCapabilities.CurrentState;
  const uint32_t mask = io.MinorCode;
  if (!ReplyFits(io, 4)) return STATUS_BUFFER_TOO_SMALL;
  if (!Slot(ext, RDF_SET_PROTOCOL)) return STATUS_NOT_SUPPORTED;
  if (state == CardStateSpecific && (mask & card.CurrentProtocol) != 0) return STATUS_SUCCESS;
  if (state == CardStateUnknown || state == CardStateAbsent) return STATUS_INVALID_DEVICE_STATE;
  NTSTATUS status;
  if (mask & (ProtocolT0 | ProtocolT1)) {
    card.PpsMode = (mask & SCARD_PROTOCOL_DEFAULT) ? 0 : 1;
    status = SmartcardUpdateCardCapabilities(ext);
  } else {
    status = STATUS_UNRECOGNIZED_MEDIA;
  }
  if (status == STATUS_UNRECOGNIZED_MEDIA && Slot(ext, RDF_ATR_PARSE)) status = CallSlot(ext, RDF_ATR_PARSE);
  if (status != STATUS_SUCCESS) return status;
  if (state < CardStateNegotiable) return STATUS_INVALID_DEVICE_STATE;
  if ((mask & card.ProtocolsOffered) == 0) {
    state = CardStateNegotiable;
    card.CurrentProtocol = ProtocolNone;
    return STATUS_NOT_SUPPORTED;
  }
  io.MinorCode = (card.ProtocolsOffered | SCARD_PROTOCOL_DEFAULT) & mask;
  return CallSlot(ext, RDF_SET_PROTOCOL);
}

NTSTATUS GetState(SmartcardExtension* ext) {
  SmartcardIoRequest& io = ext->SmartcardIoRequest;
  if (!ReplyFits(io, 4)) return STATUS_BUFFER_TOO_SMALL;
  EnterCriticalSection(&ext->OsData->ReaderLock);
  const uint32_t state = ext->ReaderCapabilities.CurrentState;
  memcpy(io.ReplyBuffer, &state, 4);
  *io.ReplyLength = 4;
  LeaveCriticalSection(&ext->OsData->ReaderLock);
  return STATUS_SUCCESS;
}

NTSTATUS TrackCard(SmartcardExtension* ext, DWORD code) {
  if (!Slot(ext, RDF_CARD_TRACKING)) return STATUS_NOT_SUPPORTED;
  const uint32_t state = ext->ReaderCapabilities.CurrentState;
  const bool absent = state == CardStateUnknown || state == CardStateAbsent;
  if (code == IOCTL_SMARTCARD_IS_ABSENT ? absent : !absent) return STATUS_SUCCESS;
  // A call that reached the lock only after the reader was closed (or while
  // it is torn down) begins no wait that no close would end.
  if (GetRunState(ext->DeviceData) != RunStateOpen) return STATUS_CANCELLED;
  const NTSTATUS status = CallSlot(ext, RDF_CARD_TRACKING);
  if (status != STATUS_PENDING) return status;
  ReaderOsRecord* os = ext->OsData;
  ReaderDeviceBlock* block = BlockOf(ext);
  const HANDLE events[2] = {os->CardTrackingEvent, os->CancelEvent};
  ++block->TrackingWaits;
  LeaveCriticalSection(&os->ReaderLock);
  const DWORD wait = WaitForMultipleObjects(2, events, FALSE, INFINITE);
  EnterCriticalSection(&os->ReaderLock);
  --block->TrackingWaits;
  if (wait == WAIT_OBJECT_0) return STATUS_SUCCESS;
  if (wait == WAIT_OBJECT_0 + 1) return STATUS_CANCELLED;
  return STATUS_UNSUCCESSFUL;
}

}  // namespace

NTSTATUS SmartcardIoctlExecute(SmartcardExtension* ext) {
  SmartcardIoRequest& io = ext->SmartcardIoRequest;
  switch (io.MajorCode) {
    case IOCTL_SMARTCARD_POWER:
      return Power(ext);
    case IOCTL_SMARTCARD_GET_ATTRIBUTE:
      return GetAttribute(ext);
    case IOCTL_SMARTCARD_SET_ATTRIBUTE:
      if (io.MinorCode != SCARD_ATTR_SUPRESS_T1_IFS_REQUEST) return STATUS_NOT_SUPPORTED;
      ext->T1State.State = T1StateStart;
      return STATUS_SUCCESS;
    case IOCTL_SMARTCARD_CONFISCATE:
      return CallSlot(ext, RDF_CARD_CONFISCATE);
    case IOCTL_SMARTCARD_EJECT:
      return CallSlot(ext, RDF_CARD_EJECT);
    case IOCTL_SMARTCARD_SWALLOW:
      return CallSlot(ext, RDF_READER_SWALLOW);
    case IOCTL_SMARTCARD_TRANSMIT:
      return Transmit(ext);
    case IOCTL_SMARTCARD_SET_PROTOCOL:
      return SetProtocol(ext);
    case IOCTL_SMARTCARD_GET_STATE:
      return GetState(ext);
    default:
      break;
  }
  if ((io.MajorCode & IOCTL_SMARTCARD_VENDOR_BIT) && Slot(ext, RDF_IOCTL_VENDOR)) {
    // The reader information is 16 bytes: a smaller buffer is refused here
    // rather than written past.
    if (io.MajorCode == IOCTL_SMARTCARD_VENDOR_INFO && !ReplyFits(io, ReaderInfoSize)) {
      return STATUS_BUFFER_TOO_SMALL;
    }
    return CallSlot(ext, RDF_IOCTL_VENDOR);
  }
  return STATUS_INVALID_DEVICE_REQUEST;
}

NTSTATUS SmartcardIoctlDispatch(SmartcardExtension* ext, DWORD IoControlCode, PBYTE InputBuffer,
                                DWORD InputLength, PBYTE OutputBuffer, DWORD OutputSize,
                                PDWORD ReturnedLength) {
  if (ext == NULL || ext->Version < SmartcardExtensionVersionMin) return STATUS_INVALID_PARAMETER;
  ReaderOsRecord* os = ext->OsData;
  EnterCriticalSection(&os->ReaderLock);
  // A caller without a returned-length place gets its stores dropped here.
  DWORD unusedLength = 0;
  uint32_t* replyLength = ReturnedLength ? reinterpret_cast<uint32_t*>(ReturnedLength) : &unusedLength;
  *replyLength = 0;
  NTSTATUS status;
  switch (IoControlCode) {
    case IOCTL_SMARTCARD_IS_PRESENT:
    case IOCTL_SMARTCARD_IS_ABSENT:
      status = TrackCard(ext, IoControlCode);
      break;
    case IOCTL_SMARTCARD_CANCEL_TRACKING:
      status = SetEvent(os->CancelEvent) ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL;
      break;
    case IOCTL_SMARTCARD_RESET_TRACKING:
      ResetEvent(os->CancelEvent);
      ResetEvent(os->CardTrackingEvent);
      status = STATUS_SUCCESS;
      break;
    default: {
      SmartcardIoRequest& io = ext->SmartcardIoRequest;
      io.MajorCode = IoControlCode;
      if (InputBuffer) {
        io.RequestBuffer = InputBuffer;
        io.RequestLength = InputLength;
        io.MinorCode = 0;
        if (InputLength >= 4) memcpy(&io.MinorCode, InputBuffer, 4);
      } else {
        io.RequestBuffer = NULL;
        io.RequestLength = 0;
        io.MinorCode = 0;
      }
      if (OutputBuffer) {
        io.ReplyBuffer = OutputBuffer;
        io.ReplyBufferSize = OutputSize;
      } else {
        io.ReplyBuffer = NULL;
        io.ReplyBufferSize = 0;
      }
      io.ReplyLength = replyLength;
      status = SmartcardIoctlExecute(ext);
      // The place may be a local of this call: never keep it.
      io.ReplyLength = NULL;
      break;
    }
  }
  // A failed call hands out no bytes, whatever a reader function had already
  // stored (a power-up whose re-reset fails, an answer too big for the buffer).
  if (status != STATUS_SUCCESS) *replyLength = 0;
  LeaveCriticalSection(&os->ReaderLock);
  if (status != STATUS_SUCCESS) SetLastError(MapStatusToWin32(status));
  return status;
}

void CompleteCardTracking(SmartcardExtension* ext) { SetEvent(ext->OsData->CardTrackingEvent); }

// A channel's context record: creation, the slot-status poll, the read
// time-out rule and tear-down.
#include <stdlib.h>
#include <string.h>

#include "Atr.h"
#include "Commands.h"
#include "Frame.h"
#include "IfdHandler.h"
#include "PcscHandler.h"
#include "Smartcard.h"
#include "UsbTransport.h"

namespace {

const uint32_t ReaderInfoReplySize = 16;

void SetCountedText(CountedText* text, const char* value) {
  size_t length = strlen(value) + 1;  // with the zero
  memcpy(text->Buffer, value, length);
  text->Length = static_cast<uint16_t>(length);
}

}  // namespace

NTSTATUS InitSmartcardExtension(SmartcardExtension* SmartcardExtension, uint8_t ReaderIndex) {
  memset(SmartcardExtension, 0, sizeof *SmartcardExtension);
  ReaderDeviceData* dd = static_cast<ReaderDeviceData*>(calloc(1, sizeof(ReaderDeviceData)));
  if (!dd) return STATUS_NO_MEMORY;
  SmartcardExtension->DeviceData = dd;

  SmartcardExtension->ReplyBufferSize = SmartcardBufferSize;
  SmartcardExtension->SendBufferSize = SmartcardBufferSize;
  SmartcardExtension->Version = SmartcardExtensionVersion;
  NTSTATUS status = SmartcardInitialize(SmartcardExtension);
  if (status != STATUS_SUCCESS) return status;

  VendorAttributes& va = SmartcardExtension->VendorAttributes;
  SetCountedText(&va.VendorName, "TERVANE");
  SetCountedText(&va.IfdType, "VQUSB");
  va.IfdVersion = 0;
  va.IfdSerialNo.Length = 0;
  va.UnitNo = 1;

  ReaderCapabilities& rc = SmartcardExtension->ReaderCapabilities;
  rc.SupportedProtocols = ProtocolT0 | ProtocolT1;
  rc.ReaderType = 0x20;
  rc.CLKFrequency.Default = 3571;
  rc.CLKFrequency.Max = 3571;
  rc.DataRate.Default = dataRatesSupported[0];
  rc.DataRate.Max = dataRatesSupported[0];
  rc.DataRatesSupported.List = dataRatesSupported;
  rc.DataRatesSupported.Entries = dataRatesSupportedCount;
  rc.MaxIFSD = 240;
  rc.CurrentState = CardStateUnknown;
  rc.MechProperties = 0;
  rc.Channel = 0;
  SmartcardExtension->CardCapabilities.CurrentProtocol = ProtocolNone;
  SmartcardExtension->CardCapabilities.ATRLength = 0;

  dd->DelayedAtrCard = 0;
  dd->ReadTimeout = ReadTimeoutInitial;
  dd->ReaderInfoOk = 0;
  dd->FixedAtrCard = 0;
  dd->SlotByte = 0;
  dd->ReaderIndex = ReaderIndex;
  memcpy(dd->DeviceDescription, device_data, sizeof dd->DeviceDescription);
  return STATUS_SUCCESS;
}

void FreeSmartcardResource(SmartcardExtension* SmartcardExtension) {
  if (!SmartcardExtension) return;
  SmartcardExit(SmartcardExtension);
  free(SmartcardExtension->DeviceData);
  SmartcardExtension->DeviceData = nullptr;
  free(SmartcardExtension);
}

long CreateChannel(uint32_t, unsigned long Lun, unsigned long, const char*) {
  unsigned long index = Lun >> 16;
  // The table has four slots: a fifth reader index would fall behind it.
  if (index >= MaxReaders) return IFD_COMMUNICATION_ERROR;
  uint8_t readerIndex = static_cast<uint8_t>(index);

  SmartcardExtension* ext = static_cast<SmartcardExtension*>(calloc(1, sizeof(SmartcardExtension)));
  if (!ext) return IFD_COMMUNICATION_ERROR;
  if (InitSmartcardExtension(ext, readerIndex) != STATUS_SUCCESS) {
    FreeSmartcardResource(ext);
    return IFD_COMMUNICATION_ERROR;
  }

  if (UsbOpen(ext, VQUSB_VENDOR_ID, VQUSB_PRODUCT_ID) != STATUS_SUCCESS) {
    FreeSmartcardResource(ext);
    return IFD_COMMUNICATION_ERROR;
  }
  if (UsbInitTransfer(ext) != STATUS_SUCCESS) {
    UsbClose(ext);
    FreeSmartcardResource(ext);
    return IFD_COMMUNICATION_ERROR;
  }

  // Reader information: firmware version, maximum IFSD, rate list.
  uint8_t info[ReaderInfoReplySize];
  uint32_t infoLength = 0;
  SmartcardIoRequest& io = ext->SmartcardIoRequest;
  io.RequestBuffer = nullptr;
  io.RequestLength = 0;
  io.ReplyBuffer = info;
  io.ReplyBufferSize = sizeof info;
  io.ReplyLength = &infoLength;
  ext->DeviceData->VendorCode = VendorCodeReaderInfo;
  if (CCID_SmartcardVender(ext) != STATUS_SUCCESS) {
    UsbClose(ext);
    FreeSmartcardResource(ext);
    return IFD_COMMUNICATION_ERROR;
  }
  ext->ReaderCapabilities.CurrentState = CCIDIsCardPresent(ext->ReplyBuffer[ReaderOffsetStatus])
                                             ? CardStateSwallowed
                                             : CardStateAbsent;
  ext->CardCapabilities.ATRLength = 0;
  memset(&io, 0, sizeof io);  // nothing points at this stack frame any more

  // Power off; the answer is not looked at.
  CCIDSetCCIDHeader(ext->SendBuffer, ReaderMsgPowerOff, 0, ext->DeviceData->SlotByte, 0, 0, 0);
  ext->SendLength = ReaderHeaderSize;
  CCID_ReadWrite(ext);
  CCID_SetReadTimout(ext);

  g_pSmartcardExtension[readerIndex] = ext;
  return IFD_SUCCESS;
}

NTSTATUS CCID_SmartcardCardState(SmartcardExtension* SmartcardExtension) {
  CCIDSetCCIDHeader(SmartcardExtension->SendBuffer, ReaderMsgGetSlotStatus, 0,
                    SmartcardExtension->DeviceData->SlotByte, 0, 0, 0);
  SmartcardExtension->SendLength = ReaderHeaderSize;
  NTSTATUS status = CCID_ReadWrite(SmartcardExtension);
  if (status != STATUS_SUCCESS) return status;
  const uint8_t* reply = SmartcardExtension->ReplyBuffer;
  if (reply[ReaderOffsetType] != ReaderReplySlotStatus) return STATUS_DEVICE_DATA_ERROR;
  SmartcardExtension->ReaderCapabilities.CurrentState =
      CCIDIsCardPresent(reply[ReaderOffsetStatus]) ? CardStatePresent : CardStateAbsent;
  return STATUS_SUCCESS;
}

void CCID_SetReadTimout(SmartcardExtension* SmartcardExtension) {
  uint32_t protocol = SmartcardExtension->CardCapabilities.CurrentProtocol;
  bool statusFrame = SmartcardExtension->SendBuffer[ReaderOffsetType] == ReaderMsgGetSlotStatus;
  SmartcardExtension->DeviceData->ReadTimeout =
      !statusFrame && (protocol == ProtocolT0 || protocol == ProtocolT1) ? ReadTimeoutCommand
                                                                         : ReadTimeoutStatus;
}

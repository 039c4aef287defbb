// The reader's USB transport on the USB host driver interface: one bulk
// write, one bulk read with the read time-out, one interrupt read.
#include "Driver.h"
#include "Frame.h"
#include "Transport.h"

namespace {

constexpr DWORD BulkReadFlags = USB_IN_TRANSFER | USB_SHORT_TRANSFER_OK;                  // 0x280
constexpr DWORD InterruptReadFlags = USB_IN_TRANSFER | USB_NO_WAIT | USB_SHORT_TRANSFER_OK;  // 0x380

// Read time-out for the current protocol: T=0 60 s; T=1 the block waiting
// time (times the WTX multiplier when one is in force), at least 60 s; any
// other protocol keeps the stored value.
uint32_t ComputeReadTimeout(SmartcardExtension* SmartcardExtension) {
  ReaderDeviceData* dev = SmartcardExtension->DeviceData;
  switch (SmartcardExtension->CardCapabilities.CurrentProtocol) {
    case ProtocolT0:
      return ReadTimeoutCommand;
    case ProtocolT1: {
      uint64_t ms = SmartcardExtension->CardCapabilities.T1.BWT / 1000;
      if (SmartcardExtension->T1State.Wtx != 0) ms *= SmartcardExtension->T1State.Wtx;
      if (ms < ReadTimeoutCommand) ms = ReadTimeoutCommand;
      // INFINITE is no time-out at all: stay below it.
      if (ms >= INFINITE) ms = INFINITE - 1;
      return static_cast<uint32_t>(ms);
    }
    default:
      return dev->ReadTimeout;
  }
}

}  // namespace

DWORD BulkReadComplete(LPVOID lpvNotifyParameter) {
  SetEvent(static_cast<ReaderDeviceData*>(lpvNotifyParameter)->ReadEvent);
  return 0;
}

DWORD InterruptReadComplete(LPVOID lpvNotifyParameter) {
  SetEvent(static_cast<ReaderDeviceData*>(lpvNotifyParameter)->InterruptEvent);
  return 0;
}

NTSTATUS UsbBulkWrite(SmartcardExtension* SmartcardExtension, const uint8_t* Bytes, uint32_t Length) {
  ReaderDeviceData* dev = SmartcardExtension->DeviceData;
  LPCUSB_FUNCS funcs = dev->UsbFuncs;
  USB_TRANSFER transfer = funcs->lpIssueBulkTransfer(dev->BulkOutPipe, NULL, NULL, USB_OUT_TRANSFER,
                                                     Length, const_cast<uint8_t*>(Bytes), 0);
  if (!transfer) return STATUS_UNSUCCESSFUL;
  funcs->lpCloseTransfer(transfer);
  return STATUS_SUCCESS;
}

NTSTATUS UsbBulkRead(SmartcardExtension* SmartcardExtension, uint8_t* Buffer, uint32_t Size,
                     uint32_t* Length) {
  ReaderDeviceData* dev = SmartcardExtension->DeviceData;
  LPCUSB_FUNCS funcs = dev->UsbFuncs;
  ResetEvent(dev->ReadEvent);
  USB_TRANSFER transfer = funcs->lpIssueBulkTransfer(dev->BulkInPipe, BulkReadComplete, dev,
                                                     BulkReadFlags, Size, Buffer, 0);
  if (!transfer) return STATUS_UNSUCCESSFUL;
  dev->ReadTimeout = ComputeReadTimeout(SmartcardExtension);
  DWORD bytes = 0, error = 0;
  NTSTATUS status;
  if (WaitForSingleObject(dev->ReadEvent, dev->ReadTimeout) == WAIT_OBJECT_0) {
    funcs->lpIsTransferComplete(transfer);
    funcs->lpGetTransferStatus(transfer, &bytes, &error);
    status = STATUS_SUCCESS;
  } else {
    funcs->lpGetTransferStatus(transfer, &bytes, &error);
    status = STATUS_UNSUCCESSFUL;
  }
  funcs->lpCloseTransfer(transfer);
  // Never more than was asked for, whatever the host driver says.
  *Length = bytes <= Size ? bytes : Size;
  return status;
}

NTSTATUS UsbInterruptRead(SmartcardExtension* SmartcardExtension, uint8_t* Buffer, uint32_t Size) {
  ReaderDeviceData* dev = SmartcardExtension->DeviceData;
  LPCUSB_FUNCS funcs = dev->UsbFuncs;
  ResetEvent(dev->InterruptEvent);
  USB_TRANSFER transfer = funcs->lpIssueInterruptTransfer(dev->InterruptInPipe, InterruptReadComplete,
                                                          dev, InterruptReadFlags, Size, Buffer, 0);
  if (!transfer) {
    ResetEvent(dev->InterruptEvent);
    return STATUS_UNSUCCESSFUL;
  }
  const DWORD wait = WaitForSingleObject(dev->InterruptEvent, INFINITE);
  funcs->lpCloseTransfer(transfer);
  return wait == WAIT_OBJECT_0 ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL;
}

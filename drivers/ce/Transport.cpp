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

// A transfer that ended and moved its bytes: complete, with no error. A
// halted endpoint, a device that stopped answering or a cancelled transfer
// is a failure, whatever the byte count says.
bool TransferSucceeded(LPCUSB_FUNCS funcs, USB_TRANSFER transfer, DWORD* bytes) {
  DWORD error = USB_NOT_COMPLETE_ERROR;
  *bytes = 0;
  if (!funcs->lpIsTransferComplete(transfer)) return false;
  if (!funcs->lpGetTransferStatus(transfer, bytes, &error)) {
    *bytes = 0;
    return false;
  }
  return error == USB_NO_ERROR;
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
  // The write signals the read event when it is done (no read runs during a
  // write: one exchange at a time under the reader lock), so that a reader
  // that never takes the frame (a pipe that NAKs for ever) cannot hold the
  // caller: the write waits at most the read time-out, then is aborted.
  ResetEvent(dev->ReadEvent);
  USB_TRANSFER transfer = funcs->lpIssueBulkTransfer(dev->BulkOutPipe, BulkReadComplete, dev, USB_OUT_TRANSFER,
                                                     Length, const_cast<uint8_t*>(Bytes), 0);
  if (!transfer) return STATUS_UNSUCCESSFUL;
  DWORD bytes = 0;
  bool sent = WaitForSingleObject(dev->ReadEvent, ComputeReadTimeout(SmartcardExtension)) == WAIT_OBJECT_0;
  if (!sent) funcs->lpAbortTransfer(transfer, 0);
  sent = sent && TransferSucceeded(funcs, transfer, &bytes) && bytes == Length;
  funcs->lpCloseTransfer(transfer);
  return sent ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL;
}

// One read of at most Size bytes. It waits at most the read time-out; a
// transfer that fails (a halted pipe, a reader gone) ends it at once with a
// failure and no bytes, so that a caller reading on never spins on empty
// successes.
NTSTATUS UsbBulkRead(SmartcardExtension* SmartcardExtension, uint8_t* Buffer, uint32_t Size,
                     uint32_t* Length) {
  ReaderDeviceData* dev = SmartcardExtension->DeviceData;
  LPCUSB_FUNCS funcs = dev->UsbFuncs;
  *Length = 0;
  ResetEvent(dev->ReadEvent);
  USB_TRANSFER transfer = funcs->lpIssueBulkTransfer(dev->BulkInPipe, BulkReadComplete, dev,
                                                     BulkReadFlags, Size, Buffer, 0);
  if (!transfer) return STATUS_UNSUCCESSFUL;
  dev->ReadTimeout = ComputeReadTimeout(SmartcardExtension);
  DWORD bytes = 0;
  const bool read = WaitForSingleObject(dev->ReadEvent, dev->ReadTimeout) == WAIT_OBJECT_0 &&
                    TransferSucceeded(funcs, transfer, &bytes);
  funcs->lpCloseTransfer(transfer);
  if (!read) return STATUS_UNSUCCESSFUL;
  // Never more than was asked for, whatever the host driver says.
  *Length = bytes <= Size ? bytes : Size;
  return STATUS_SUCCESS;
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
  // No time-out: a notice comes when a card goes in or out, and tear-down
  // sets the event to end the wait. Woken by tear-down (the transfer still
  // pending), or by a transfer that failed: a failure.
  const DWORD wait = WaitForSingleObject(dev->InterruptEvent, INFINITE);
  DWORD bytes = 0;
  const bool read = wait == WAIT_OBJECT_0 && TransferSucceeded(funcs, transfer, &bytes);
  funcs->lpCloseTransfer(transfer);
  return read ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL;
}

// Internals of the Windows CE stream driver: the device block, the device
// table, reader set-up and tear-down, the card-status thread.
#pragma once

#include <usbdi.h>
#include <windows.h>

#include <stddef.h>

#include "SmartcardExtension.h"

// The reader family's USB ids.
constexpr DWORD ReaderVendorId = 0xF1E5;
constexpr DWORD ReaderProductId = 0x0480;

constexpr uint32_t MaxReaders = 4;
constexpr uint32_t ReaderNameChars = 80;  // wide characters, terminating zero included

// One allocation per reader: the context, its device part, and what the
// front end keeps besides.
struct ReaderDeviceBlock {
  SmartcardExtension Extension;
  ReaderDeviceData DeviceData;
  uint8_t Introduced;  // the smart-card subsystem took the reader's name
  // Card-tracking waits that have given up the reader lock to wait and not
  // yet taken it back; changed and read under the reader lock.
  uint32_t TrackingWaits;
};

static_assert(offsetof(ReaderDeviceBlock, Extension) == 0, "the context opens the block");

inline ReaderDeviceBlock* BlockOf(SmartcardExtension* SmartcardExtension) {
  return reinterpret_cast<ReaderDeviceBlock*>(SmartcardExtension);
}

// Driver-wide state.
extern SmartcardExtension* DeviceTable[MaxReaders];
extern uint32_t UnitCounter;

// Run state, read and written across threads.
uint32_t GetRunState(const ReaderDeviceData* DeviceData);
void SetRunState(ReaderDeviceData* DeviceData, uint32_t State);

void DeviceTableLockInit();
BOOL DeviceTableAdd(SmartcardExtension* SmartcardExtension);
BOOL DeviceTableRemove(SmartcardExtension* SmartcardExtension);
BOOL DeviceTableAcquire(SmartcardExtension* SmartcardExtension);
void DeviceTableRelease(SmartcardExtension* SmartcardExtension);

void ReadActiveKey(LPCWSTR Path, WCHAR* DeviceName, DWORD DeviceNameBytes, LPVOID* ClientInfo);
SmartcardExtension* InitReaderDevice(LPCWSTR Path);
void BuildReaderName(SmartcardExtension* SmartcardExtension, WCHAR* Name, DWORD NameChars);
NTSTATUS IntroduceReader(LPCWSTR ReaderName, LPCWSTR DeviceName);
NTSTATUS ForgetReader(LPCWSTR ReaderName);
DWORD CardStatusThread(LPVOID DeviceBlock);
// One notice from the interrupt pipe; FALSE when the read failed.
BOOL PollCardStatus(SmartcardExtension* SmartcardExtension);
void TearDownReaderDevice(SmartcardExtension* SmartcardExtension);

BOOL UsbDeviceNotify(LPVOID lpvNotifyParameter, DWORD dwCode, LPDWORD* dwInfo1, LPDWORD* dwInfo2,
                     LPDWORD* dwInfo3, LPDWORD* dwInfo4);

DWORD BulkReadComplete(LPVOID lpvNotifyParameter);
DWORD InterruptReadComplete(LPVOID lpvNotifyParameter);

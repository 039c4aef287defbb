// The Windows CE stand-in: clock, events, threads, registry, device manager
// and USB host driver transfers.
#include <gtest/gtest.h>
#include <usbdi.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "vqce/Clock.h"
#include "vqce/DeviceManager.h"
#include "vqce/Modules.h"
#include "vqce/Registry.h"
#include "vqce/UsbHost.h"
#include "vqsim/Cards.h"
#include "vqsim/SimReader.h"

namespace {

TEST(CePlatform, SleepAndTimedWaitsRunOnTheFastClock) {
  vqce::Clock::SetSpeed(10000);
  const DWORD t0 = GetTickCount();
  Sleep(60000);
  EXPECT_GE(GetTickCount() - t0, 60000u);
  HANDLE e = CreateEvent(nullptr, FALSE, FALSE, nullptr);
  const DWORD t1 = GetTickCount();
  EXPECT_EQ(WaitForSingleObject(e, 30000), WAIT_TIMEOUT);
  EXPECT_GE(GetTickCount() - t1, 30000u);
  CloseHandle(e);
  vqce::Clock::SetSpeed(1);
}

TEST(CePlatform, EventsAutoAndManualReset) {
  HANDLE autoEvent = CreateEvent(nullptr, FALSE, FALSE, nullptr);
  HANDLE manual = CreateEvent(nullptr, TRUE, TRUE, nullptr);
  const HANDLE both[2] = {autoEvent, manual};
  EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_OBJECT_0 + 1);
  EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0) << "a manual-reset event stays set";
  SetEvent(autoEvent);
  EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_OBJECT_0) << "first in the list wins";
  EXPECT_EQ(WaitForSingleObject(autoEvent, 0), WAIT_TIMEOUT) << "the wait used the signal up";
  ResetEvent(manual);
  EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_TIMEOUT);
  CloseHandle(autoEvent);
  CloseHandle(manual);
  EXPECT_EQ(WaitForSingleObject(autoEvent, 0), WAIT_FAILED) << "a closed handle is refused";
  EXPECT_FALSE(SetEvent(autoEvent));
}

TEST(CePlatform, SuspendedThreadRunsAfterResume) {
  static std::atomic<int> ran{0};
  static int five = 5;
  HANDLE t = CreateThread(nullptr, 0, [](LPVOID p) -> DWORD {
        ran = *static_cast<int*>(p);
        return 7;
      }, &five, CREATE_SUSPENDED, nullptr);
  ASSERT_NE(t, nullptr);
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(t, &code));
  EXPECT_EQ(code, STILL_ACTIVE);
  EXPECT_EQ(ResumeThread(t), 1u);
  EXPECT_EQ(WaitForSingleObject(t, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(ran.load(), 5);
  GetExitCodeThread(t, &code);
  EXPECT_EQ(code, 7u);
  CloseHandle(t);
}

TEST(CePlatform, CriticalSectionIsReentrant) {
  CRITICAL_SECTION cs;
  InitializeCriticalSection(&cs);
  EnterCriticalSection(&cs);
  EnterCriticalSection(&cs);
  LeaveCriticalSection(&cs);
  LeaveCriticalSection(&cs);
  DeleteCriticalSection(&cs);
}

TEST(CePlatform, RegistryValuesAndKeys) {
  vqce::registry::Reset();
  HKEY key;
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, L"Drivers\\Test", 0, nullptr, 0, 0, nullptr, &key, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  const DWORD value = 0x1234;
  ASSERT_EQ(RegSetValueEx(key, L"Value", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4), ERROR_SUCCESS);
  RegCloseKey(key);

  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, L"drivers\\TEST", 0, 0, &key), ERROR_SUCCESS) << "names ignore case";
  BYTE small[2];
  DWORD size = sizeof(small), type = 0;
  EXPECT_EQ(RegQueryValueEx(key, L"value", nullptr, &type, small, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 4u);
  DWORD read = 0;
  size = 4;
  EXPECT_EQ(RegQueryValueEx(key, L"Value", nullptr, &type, reinterpret_cast<BYTE*>(&read), &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_DWORD);
  EXPECT_EQ(read, value);
  EXPECT_EQ(RegQueryValueEx(key, L"Missing", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKey(HKEY_LOCAL_MACHINE, L"Drivers"), ERROR_SUCCESS) << "a key goes with its sub-keys";
  EXPECT_EQ(RegQueryValueEx(key, L"Value", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
  RegCloseKey(key);
}

// A stream driver of prefix TST whose Init refuses a zero bus context.
DWORD_PTR TST_Init(LPCWSTR, LPCVOID bus) { return reinterpret_cast<DWORD_PTR>(bus); }
std::atomic<int> g_deinits{0};
BOOL TST_Deinit(DWORD_PTR) {
  ++g_deinits;
  return TRUE;
}

TEST(CePlatform, DeviceManagerNamesAndReleasesDevices) {
  vqce::registry::Reset();
  vqce::modules::Register(L"tst.dll", [](const char* name) -> void* {
    if (!strcmp(name, "TST_Init")) return reinterpret_cast<void*>(&TST_Init);
    if (!strcmp(name, "TST_Deinit")) return reinterpret_cast<void*>(&TST_Deinit);
    return nullptr;
  });
  vqce::registry::SetString(HKEY_LOCAL_MACHINE, L"Drivers\\Tst", L"Prefix", L"TST");
  vqce::registry::SetString(HKEY_LOCAL_MACHINE, L"Drivers\\Tst", L"Dll", L"tst.dll");
  int a = 0, b = 0, c = 0;
  HANDLE h1 = ActivateDeviceEx(L"Drivers\\Tst", nullptr, 0, &a);
  HANDLE h2 = ActivateDeviceEx(L"Drivers\\Tst", nullptr, 0, &b);
  ASSERT_TRUE(h1 && h2);
  EXPECT_EQ(vqce::devices::FindByName(L"TST2:")->context, reinterpret_cast<DWORD_PTR>(&b));
  const std::wstring key = vqce::devices::FindByName(L"TST1:")->activeKey;
  EXPECT_EQ(vqce::registry::GetString(HKEY_LOCAL_MACHINE, key, L"Name"), L"TST1:");
  EXPECT_EQ(ActivateDeviceEx(L"Drivers\\Tst", nullptr, 0, nullptr), nullptr) << "Init refused";
  EXPECT_TRUE(DeactivateDevice(h1));
  EXPECT_EQ(g_deinits.load(), 1);
  EXPECT_FALSE(vqce::registry::KeyExists(HKEY_LOCAL_MACHINE, key));
  HANDLE h3 = ActivateDeviceEx(L"Drivers\\Tst", nullptr, 0, &c);
  EXPECT_TRUE(vqce::devices::FindByName(L"TST1:")) << "the freed index is used again";
  DeactivateDevice(h2);
  DeactivateDevice(h3);
  EXPECT_FALSE(DeactivateDevice(h3));
  EXPECT_TRUE(vqce::devices::List().empty());
}

// A test client that keeps its transfers for the test to look at.
struct Client {
  USB_HANDLE device = nullptr;
  LPCUSB_FUNCS funcs = nullptr;
  USB_PIPE pipes[3] = {};
  std::atomic<int> completions{0};
  std::atomic<int> closes{0};
};
Client g_client;

BOOL ClientNotify(LPVOID, DWORD code, LPDWORD*, LPDWORD*, LPDWORD*, LPDWORD*) {
  if (code != USB_CLOSE_DEVICE) return FALSE;
  ++g_client.closes;
  for (USB_PIPE& p : g_client.pipes) g_client.funcs->lpClosePipe(p);
  return TRUE;
}

BOOL ClientAttach(USB_HANDLE h, LPCUSB_FUNCS funcs, LPCUSB_INTERFACE, LPCWSTR, LPBOOL accept,
                  LPCUSB_DRIVER_SETTINGS, DWORD) {
  g_client.device = h;
  g_client.funcs = funcs;
  LPCUSB_INTERFACE itf = funcs->lpFindInterface(funcs->lpGetDeviceInfo(h), 0, 0);
  for (int i = 0; i < 3; ++i) g_client.pipes[i] = funcs->lpOpenPipe(h, &itf->lpEndpoints[i].Descriptor);
  funcs->lpRegisterNotificationRoutine(h, ClientNotify, nullptr);
  *accept = TRUE;
  return TRUE;
}

DWORD Completed(LPVOID) {
  ++g_client.completions;
  return 0;
}

TEST(CePlatform, UsbTransfersOverASimulatedReader) {
  vqce::registry::Reset();
  vqce::modules::Register(L"client.dll", [](const char* name) -> void* {
    return strcmp(name, "USBDeviceAttach") ? nullptr : reinterpret_cast<void*>(&ClientAttach);
  });
  USB_DRIVER_SETTINGS settings{sizeof(USB_DRIVER_SETTINGS), vqsim::kVendorId, vqsim::kProductId, USB_NO_INFO,
                               USB_NO_INFO, USB_NO_INFO, USB_NO_INFO, USB_NO_INFO, USB_NO_INFO, USB_NO_INFO};
  EXPECT_FALSE(RegisterClientSettings(L"client.dll", L"CLIENT", nullptr, &settings)) << "id first";
  ASSERT_TRUE(RegisterClientDriverID(L"CLIENT"));
  ASSERT_TRUE(RegisterClientSettings(L"client.dll", L"CLIENT", nullptr, &settings));
  auto sim = std::make_shared<vqsim::SimReader>();
  auto plugged = vqce::usb::Plug(sim);
  ASSERT_TRUE(plugged.claimed);
  EXPECT_EQ(plugged.driverId, L"CLIENT");
  LPCUSB_FUNCS f = g_client.funcs;

  // Nothing to read: the bulk-in transfer stays pending; closing it drops
  // its completion routine.
  uint8_t buf[512];
  USB_TRANSFER in = f->lpIssueBulkTransfer(g_client.pipes[0], Completed, nullptr,
                                           USB_IN_TRANSFER | USB_SHORT_TRANSFER_OK, sizeof(buf), buf, 0);
  ASSERT_NE(in, nullptr);
  EXPECT_FALSE(f->lpIsTransferComplete(in));
  EXPECT_TRUE(f->lpCloseTransfer(in));
  EXPECT_EQ(g_client.completions.load(), 0);

  // A request, then its answer arrives in one read.
  uint8_t getInfo[10] = {0x60, 0, 0, 0, 0, 0, 1, 0, 0, 0};
  USB_TRANSFER out = f->lpIssueBulkTransfer(g_client.pipes[1], nullptr, nullptr, USB_OUT_TRANSFER, 10, getInfo, 0);
  ASSERT_NE(out, nullptr);
  EXPECT_TRUE(f->lpIsTransferComplete(out));
  f->lpCloseTransfer(out);
  in = f->lpIssueBulkTransfer(g_client.pipes[0], Completed, nullptr, USB_IN_TRANSFER | USB_SHORT_TRANSFER_OK,
                              sizeof(buf), buf, 0);
  ASSERT_TRUE([&] {
    for (int i = 0; i < 10000 && !g_client.completions; ++i) Sleep(0);
    return g_client.completions.load() == 1;
  }());
  DWORD bytes = 0, error = 1;
  EXPECT_TRUE(f->lpGetTransferStatus(in, &bytes, &error));
  EXPECT_EQ(bytes, 26u);
  EXPECT_EQ(error, USB_NO_ERROR);
  f->lpCloseTransfer(in);

  // An interrupt transfer waits for the slot-change notice.
  uint8_t notice[2] = {};
  USB_TRANSFER irq = f->lpIssueInterruptTransfer(g_client.pipes[2], Completed, nullptr,
                                                 USB_IN_TRANSFER | USB_NO_WAIT | USB_SHORT_TRANSFER_OK, 2, notice, 0);
  EXPECT_FALSE(f->lpIsTransferComplete(irq));
  sim->InsertCard(vqsim::T0Card());
  for (int i = 0; i < 100000 && !f->lpIsTransferComplete(irq); ++i) Sleep(0);
  EXPECT_TRUE(f->lpIsTransferComplete(irq));
  EXPECT_EQ(notice[0], 0x50);
  f->lpCloseTransfer(irq);

  // Unplug: a pending transfer fails, the client is told (and closes its
  // pipes). The transfer it kept stays valid, failed, until it is closed.
  USB_TRANSFER pending = f->lpIssueBulkTransfer(g_client.pipes[0], nullptr, nullptr,
                                                USB_IN_TRANSFER | USB_NO_WAIT, sizeof(buf), buf, 0);
  ASSERT_NE(pending, nullptr);
  EXPECT_TRUE(vqce::usb::Unplug(plugged.id));
  EXPECT_EQ(g_client.closes.load(), 1);
  EXPECT_EQ(vqce::usb::OpenPipes(), 0u);
  EXPECT_FALSE(vqce::usb::IsPlugged(plugged.id));
  EXPECT_EQ(vqce::usb::OpenTransfers(), 1u);
  EXPECT_TRUE(f->lpIsTransferComplete(pending));
  EXPECT_TRUE(f->lpGetTransferStatus(pending, &bytes, &error));
  EXPECT_EQ(bytes, 0u);
  EXPECT_EQ(error, USB_DEVICE_NOT_RESPONDING_ERROR);
  EXPECT_TRUE(f->lpCloseTransfer(pending));
  EXPECT_FALSE(f->lpCloseTransfer(pending)) << "closed once";
  EXPECT_EQ(vqce::usb::OpenTransfers(), 0u);
  EXPECT_EQ(f->lpGetDeviceInfo(g_client.device), nullptr);
}

TEST(CePlatform, StalledEndpointsFailOrHoldTheirTransfers) {
  using vqce::usb::Endpoint;
  using vqce::usb::Stall;
  vqce::registry::Reset();
  vqce::modules::Register(L"client.dll", [](const char* name) -> void* {
    return strcmp(name, "USBDeviceAttach") ? nullptr : reinterpret_cast<void*>(&ClientAttach);
  });
  USB_DRIVER_SETTINGS settings{sizeof(USB_DRIVER_SETTINGS), vqsim::kVendorId, vqsim::kProductId, USB_NO_INFO,
                               USB_NO_INFO, USB_NO_INFO, USB_NO_INFO, USB_NO_INFO, USB_NO_INFO, USB_NO_INFO};
  ASSERT_TRUE(RegisterClientDriverID(L"CLIENT"));
  ASSERT_TRUE(RegisterClientSettings(L"client.dll", L"CLIENT", nullptr, &settings));
  auto sim = std::make_shared<vqsim::SimReader>();
  auto plugged = vqce::usb::Plug(sim);
  ASSERT_TRUE(plugged.claimed);
  LPCUSB_FUNCS f = g_client.funcs;
  USB_PIPE bulkIn = g_client.pipes[0], interruptIn = g_client.pipes[2];
  g_client.completions = 0;
  uint8_t buf[512];
  const DWORD inFlags = USB_IN_TRANSFER | USB_SHORT_TRANSFER_OK;
  auto status = [&](USB_TRANSFER t) {
    DWORD bytes = 99, error = 0;
    EXPECT_TRUE(f->lpGetTransferStatus(t, &bytes, &error));
    return std::make_pair(bytes, error);
  };

  // A pending read fails when its endpoint halts; later reads fail at once,
  // with their completion routines, until the pipe is reset.
  USB_TRANSFER pending = f->lpIssueBulkTransfer(bulkIn, Completed, nullptr, inFlags, sizeof(buf), buf, 0);
  ASSERT_NE(pending, nullptr);
  EXPECT_FALSE(f->lpIsTransferComplete(pending));
  ASSERT_TRUE(vqce::usb::SetStall(plugged.id, Endpoint::BulkIn, Stall::Error));
  EXPECT_TRUE(f->lpIsTransferComplete(pending));
  EXPECT_EQ(status(pending), std::make_pair(DWORD{0}, DWORD{USB_STALL_ERROR}));
  for (int i = 0; i < 100000 && !g_client.completions; ++i) Sleep(0);
  EXPECT_EQ(g_client.completions.load(), 1) << "its completion routine ran";
  f->lpCloseTransfer(pending);
  USB_TRANSFER failed = f->lpIssueBulkTransfer(bulkIn, Completed, nullptr, inFlags, sizeof(buf), buf, 0);
  ASSERT_NE(failed, nullptr) << "a halted endpoint still takes transfers";
  EXPECT_TRUE(f->lpIsTransferComplete(failed));
  EXPECT_EQ(status(failed), std::make_pair(DWORD{0}, DWORD{USB_STALL_ERROR}));
  f->lpCloseTransfer(failed);
  EXPECT_EQ(g_client.completions.load(), 2);
  BOOL halted = FALSE;
  EXPECT_TRUE(f->lpIsPipeHalted(bulkIn, &halted));
  EXPECT_TRUE(halted);
  EXPECT_TRUE(f->lpResetPipe(bulkIn));
  EXPECT_TRUE(f->lpIsPipeHalted(bulkIn, &halted));
  EXPECT_FALSE(halted);
  EXPECT_EQ(vqce::usb::TransfersIssued(plugged.id, Endpoint::BulkIn), 2u);

  // A hanging interrupt endpoint holds its transfer although a notice waits;
  // cleared, the transfer completes with the notice.
  ASSERT_TRUE(vqce::usb::SetStall(plugged.id, Endpoint::InterruptIn, Stall::Hang));
  uint8_t notice[2] = {};
  USB_TRANSFER irq = f->lpIssueInterruptTransfer(interruptIn, Completed, nullptr, inFlags | USB_NO_WAIT, 2, notice, 0);
  ASSERT_NE(irq, nullptr);
  sim->InsertCard(vqsim::T0Card());
  Sleep(100);
  EXPECT_FALSE(f->lpIsTransferComplete(irq));
  EXPECT_EQ(sim->PendingNotices(), 1u);
  ASSERT_TRUE(vqce::usb::SetStall(plugged.id, Endpoint::InterruptIn, Stall::None));
  for (int i = 0; i < 100000 && !f->lpIsTransferComplete(irq); ++i) Sleep(0);
  EXPECT_TRUE(f->lpIsTransferComplete(irq));
  EXPECT_EQ(status(irq), std::make_pair(DWORD{2}, DWORD{USB_NO_ERROR}));
  EXPECT_EQ(notice[0], 0x50);
  f->lpCloseTransfer(irq);
  EXPECT_EQ(vqce::usb::TransfersIssued(plugged.id, Endpoint::InterruptIn), 1u);

  // Unplugging fails what a hang holds back.
  ASSERT_TRUE(vqce::usb::SetStall(plugged.id, Endpoint::BulkIn, Stall::Hang));
  USB_TRANSFER held = f->lpIssueBulkTransfer(bulkIn, nullptr, nullptr, inFlags | USB_NO_WAIT, sizeof(buf), buf, 0);
  ASSERT_NE(held, nullptr);
  EXPECT_TRUE(vqce::usb::Unplug(plugged.id));
  EXPECT_FALSE(vqce::usb::SetStall(plugged.id, Endpoint::BulkIn, Stall::None)) << "unknown device";
  EXPECT_EQ(status(held), std::make_pair(DWORD{0}, DWORD{USB_DEVICE_NOT_RESPONDING_ERROR}));
  EXPECT_TRUE(f->lpCloseTransfer(held));
  EXPECT_EQ(vqce::usb::OpenTransfers(), 0u);
}

}  // namespace

// A client whose device goes away while its attach runs.
struct LateClient {
  bool otherThread = false;
  std::atomic<bool> attachReturned{false};
  std::atomic<int> notices{0};
  std::atomic<bool> noticeAfterAttach{false};
  USB_PIPE before = nullptr, after = nullptr;
  USB_TRANSFER refused = reinterpret_cast<USB_TRANSFER>(1);
  std::thread unplugger;
};
LateClient* g_late = nullptr;

BOOL LateNotify(LPVOID, DWORD code, LPDWORD*, LPDWORD*, LPDWORD*, LPDWORD*) {
  if (code != USB_CLOSE_DEVICE) return FALSE;
  ++g_late->notices;
  g_late->noticeAfterAttach = g_late->attachReturned.load();
  return TRUE;
}

BOOL LateAttach(USB_HANDLE h, LPCUSB_FUNCS funcs, LPCUSB_INTERFACE, LPCWSTR, LPBOOL accept,
                LPCUSB_DRIVER_SETTINGS, DWORD) {
  LPCUSB_INTERFACE itf = funcs->lpFindInterface(funcs->lpGetDeviceInfo(h), 0, 0);
  g_late->before = funcs->lpOpenPipe(h, &itf->lpEndpoints[0].Descriptor);
  const int id = vqce::usb::Devices().front();
  if (g_late->otherThread) {
    g_late->unplugger = std::thread([id] { vqce::usb::Unplug(id); });
    // Time for the Unplug to begin; it waits for this attach.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  } else {
    EXPECT_TRUE(vqce::usb::Unplug(id)) << "returns at once on the attach thread";
  }
  uint8_t buf[64];
  g_late->refused = funcs->lpIssueBulkTransfer(g_late->before, nullptr, nullptr, USB_IN_TRANSFER, sizeof(buf), buf, 0);
  g_late->after = funcs->lpOpenPipe(h, &itf->lpEndpoints[1].Descriptor);
  funcs->lpRegisterNotificationRoutine(h, LateNotify, nullptr);
  *accept = TRUE;
  EXPECT_EQ(g_late->notices.load(), 0);
  g_late->attachReturned = true;
  return TRUE;
}

TEST(CePlatform, CloseNoticeOfADeviceGoneDuringItsAttachComesAfterTheAttach) {
  vqce::registry::Reset();
  vqce::modules::Register(L"late.dll", [](const char* name) -> void* {
    return strcmp(name, "USBDeviceAttach") ? nullptr : reinterpret_cast<void*>(&LateAttach);
  });
  USB_DRIVER_SETTINGS settings{sizeof(USB_DRIVER_SETTINGS), vqsim::kVendorId, vqsim::kProductId, USB_NO_INFO,
                               USB_NO_INFO, USB_NO_INFO, USB_NO_INFO, USB_NO_INFO, USB_NO_INFO, USB_NO_INFO};
  ASSERT_TRUE(RegisterClientDriverID(L"LATE"));
  ASSERT_TRUE(RegisterClientSettings(L"late.dll", L"LATE", nullptr, &settings));
  for (bool otherThread : {false, true}) {
    SCOPED_TRACE(otherThread ? "unplugged from another thread" : "unplugged on the attach thread");
    LateClient client;
    client.otherThread = otherThread;
    g_late = &client;
    auto plugged = vqce::usb::Plug(std::make_shared<vqsim::SimReader>());
    if (client.unplugger.joinable()) client.unplugger.join();
    EXPECT_TRUE(plugged.claimed);
    EXPECT_FALSE(vqce::usb::IsPlugged(plugged.id));
    EXPECT_EQ(client.notices.load(), 1);
    EXPECT_TRUE(client.noticeAfterAttach);
    // The pipe opened before stays valid but refuses transfers; none opens after.
    EXPECT_EQ(client.refused, nullptr);
    EXPECT_EQ(client.after, nullptr);
    EXPECT_EQ(vqce::usb::OpenPipes(), 1u);
    EXPECT_TRUE(vqce::usb::Funcs()->lpClosePipe(client.before));
    EXPECT_EQ(vqce::usb::OpenPipes(), 0u);
  }
  g_late = nullptr;
}

// Installation, attach, naming, the device table, open and close, unplug.
#include <dlfcn.h>

#include "CeFixture.h"

namespace cetest {
namespace {

using vqce::registry::GetString;
using vqce::smartcard::Event;

std::wstring W(const std::string& s) { return std::wstring(s.begin(), s.end()); }

TEST_F(CeDriver, InstallWritesTheDriverKeyAndUninstallRemovesIt) {
  EXPECT_EQ(GetString(HKEY_LOCAL_MACHINE, L"Drivers\\USB\\Vqrdce", L"Dll"), L"VQRDCE.dll");
  EXPECT_EQ(GetString(HKEY_LOCAL_MACHINE, L"Drivers\\USB\\Vqrdce", L"Prefix"), L"VQU");
  EXPECT_TRUE(USBUnInstallDriver());
  EXPECT_FALSE(vqce::registry::KeyExists(HKEY_LOCAL_MACHINE, L"Drivers\\USB\\Vqrdce"));
  EXPECT_FALSE(USBUnInstallDriver()) << "nothing left to unregister";
  // Without the client settings a reader finds no driver.
  EXPECT_FALSE(Plug().claimed);
}

TEST_F(CeDriver, InstallFailsAndDropsTheKeyWhenTheRegistryRefusesIt) {
  ASSERT_TRUE(USBUnInstallDriver());
  vqce::registry::SetReadOnlyPath(L"Drivers\\USB\\Vqrdce");
  EXPECT_FALSE(USBInstallDriver(L"VQRDCE.dll"));
  vqce::registry::SetReadOnlyPath(L"");
  EXPECT_FALSE(vqce::registry::KeyExists(HKEY_LOCAL_MACHINE, L"Drivers\\USB\\Vqrdce"));
}

struct NamingCase {
  std::string model, firmware;
  std::string ifdType;
  uint8_t rates;
  uint32_t maxIfsd, maxRate;
};

TEST_F(CeDriver, ModelTextAndFirmwareGiveNameRatesAndIfsd) {
  const NamingCase cases[] = {
      {"VQ480T", "0100", "VQ480T", 4, 252, 115200},
      {"GENERIC", "0039", "VQ480T", 13, 251, 74400},
      {"KL770DR", "0040", "VQ480T", 15, 252, 115200},
      {"VQ380", "0070", "VQ380", 15, 252, 115200},
      {"ABCDEFGH", "0041", "ABCDEFGH0041", 15, 252, 115200},  // no hyphen: all 12 bytes
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.model + " " + c.firmware);
    vqce::smartcard::Reset();
    Reader r = Plug(c.model, c.firmware);
    ASSERT_TRUE(r.claimed);
    EXPECT_EQ(r.device.name, L"VQU1:");
    const std::wstring name = L"TERVANE " + W(c.ifdType) + L" 0";
    auto readers = vqce::smartcard::Readers();
    ASSERT_EQ(readers.count(name), 1u);
    EXPECT_EQ(readers[name], L"VQU1:");
    EXPECT_EQ(r.ext->VendorAttributes.UnitNo, 1u);
    EXPECT_EQ(r.ext->ReaderCapabilities.DataRatesSupported.Entries, c.rates);
    EXPECT_EQ(r.ext->ReaderCapabilities.MaxIFSD, c.maxIfsd);
    EXPECT_EQ(r.ext->ReaderCapabilities.DataRate.Default, 9600u);
    EXPECT_EQ(r.ext->ReaderCapabilities.DataRate.Max, c.maxRate);
    EXPECT_EQ(r.ext->DeviceData->ReadTimeout, 60000u);
    EXPECT_EQ(CardState(r.ext), CardStateAbsent);
    ASSERT_TRUE(vqce::usb::Unplug(r.id));
    // Forgotten under the name it was introduced with.
    auto history = vqce::smartcard::History();
    ASSERT_EQ(history.size(), 2u);
    EXPECT_EQ(history[1].kind, Event::Forgotten);
    EXPECT_EQ(history[1].reader, name);
    EXPECT_TRUE(vqce::smartcard::Readers().empty());
  }
}

TEST_F(CeDriver, FourReadersAreNamedByDeviceDigitAndAFifthIsRefused) {
  std::vector<Reader> readers;
  for (int i = 0; i < 4; ++i) readers.push_back(Plug());
  for (int i = 0; i < 4; ++i) {
    ASSERT_TRUE(readers[i].claimed);
    EXPECT_EQ(readers[i].device.name, L"VQU" + std::to_wstring(i + 1) + L":");
    EXPECT_EQ(readers[i].ext->VendorAttributes.UnitNo, static_cast<uint32_t>(i + 1));
  }
  EXPECT_EQ(vqce::smartcard::Readers().count(L"TERVANE VQ480T 2"), 1u) << "VQU3: has index 2";

  Reader fifth = Plug();
  EXPECT_FALSE(fifth.claimed);
  EXPECT_EQ(fifth.ext, nullptr);
  EXPECT_EQ(vqce::devices::List().size(), 4u);
  EXPECT_EQ(vqce::smartcard::Readers().size(), 4u);
  for (auto& r : readers) {
    DWORD_PTR h = Open(r);
    ASSERT_NE(h, 0u);
    auto state = Ioctl(h, IOCTL_SMARTCARD_GET_STATE, {}, 4);
    EXPECT_TRUE(state.ok);
    EXPECT_EQ(state.Value(), CardStateAbsent);
    EXPECT_TRUE(VQU_Close(h));
  }
}

TEST_F(CeDriver, EmptyNameValueGivesAWorkingReaderWithoutName) {
  vqce::devices::SetActivationHook([](const std::wstring& key) {
    vqce::registry::SetString(HKEY_LOCAL_MACHINE, key, L"Name", L"");
  });
  Reader r = Plug();
  ASSERT_TRUE(r.claimed);
  EXPECT_TRUE(vqce::smartcard::History().empty());
  DWORD_PTR h = Open(r);
  ASSERT_NE(h, 0u);
  EXPECT_TRUE(Attr(h, SCARD_ATTR_VENDOR_NAME).ok);
  EXPECT_TRUE(VQU_Close(h));
}

TEST_F(CeDriver, ReaderWithoutNameDoesNotForgetAnotherReadersName) {
  Reader named = Plug();  // VQU1:, "TERVANE VQ480T 0"
  ASSERT_TRUE(named.claimed);
  vqce::devices::SetActivationHook([](const std::wstring& key) {
    vqce::registry::SetString(HKEY_LOCAL_MACHINE, key, L"Name", L"");
  });
  UnitCounter = 1;  // the nameless reader keeps unit 1: the same name
  Reader nameless = Plug();
  ASSERT_TRUE(nameless.claimed);
  EXPECT_EQ(nameless.ext->VendorAttributes.UnitNo, 1u);
  ASSERT_TRUE(vqce::usb::Unplug(nameless.id));
  EXPECT_EQ(vqce::smartcard::Readers().count(L"TERVANE VQ480T 0"), 1u);
}

TEST_F(CeDriver, RefusedIntroductionLeavesAStreamDevice) {
  vqce::smartcard::SetRefuseIntroduce(true);
  Reader r = Plug();
  ASSERT_TRUE(r.claimed);
  EXPECT_TRUE(vqce::smartcard::Readers().empty());
  EXPECT_NE(Open(r), 0u);
}

TEST_F(CeDriver, IndexCharacterOfTheReaderName) {
  const std::pair<uint32_t, wchar_t> cases[] = {{1, L'0'}, {3, L'2'}, {9, L'8'}, {10, L'9'}, {11, L'0'}, {20, L'9'}};
  auto block = std::make_unique<ReaderDeviceBlock>();
  SmartcardExtension* ext = &block->Extension;
  memcpy(ext->VendorAttributes.VendorName.Buffer, "TERVANE", 8);
  memcpy(ext->VendorAttributes.IfdType.Buffer, "VQ480T", 7);
  for (auto [unit, digit] : cases) {
    ext->VendorAttributes.UnitNo = unit;
    WCHAR name[ReaderNameChars];
    BuildReaderName(ext, name, ReaderNameChars);
    EXPECT_EQ(std::wstring(name), std::wstring(L"TERVANE VQ480T ") + digit) << unit;
  }
}

TEST_F(CeDriver, AttachFailuresLeaveNothingBehind) {
  struct Case {
    const char* what;
    std::function<void(vqsim::SimReader&)> before;
    vqce::usb::DeviceOptions options;
  };
  vqce::usb::DeviceOptions twoEndpoints;
  twoEndpoints.endpoints.pop_back();
  vqce::usb::DeviceOptions interfaceGiven;
  interfaceGiven.passInterface = true;
  std::vector<Case> cases = {
      {"no interrupt endpoint", nullptr, twoEndpoints},
      {"block allocation fails", [](vqsim::SimReader&) { vqce::failures::FailNextAllocations(1); }, {}},
      {"reader does not answer", [](vqsim::SimReader& s) { s.UpdateFaults([](vqsim::Faults& f) { f.muteReader = true; }); }, {}},
      {"card-status thread cannot start", [](vqsim::SimReader&) { vqce::failures::FailNextThreadCreations(1); }, {}},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    vqce::smartcard::Reset();
    auto sim = std::make_shared<vqsim::SimReader>();
    if (c.before) c.before(*sim);
    auto plugged = vqce::usb::Plug(sim, c.options);
    vqce::failures::Reset();
    EXPECT_FALSE(plugged.claimed);
    EXPECT_TRUE(vqce::devices::List().empty());
    EXPECT_TRUE(vqce::smartcard::Readers().empty());
    EXPECT_EQ(vqce::usb::OpenPipes(), 0u);
    EXPECT_EQ(vqce::usb::OpenTransfers(), 0u);
    for (SmartcardExtension* slot : DeviceTable) EXPECT_EQ(slot, nullptr);
    vqce::usb::Unplug(plugged.id);
  }
  EXPECT_EQ(VQU_Init(L"Drivers\\Active\\99", nullptr), 0u) << "an active key without client information";
  // The interface may come with the attach call.
  auto plugged = vqce::usb::Plug(std::make_shared<vqsim::SimReader>(), interfaceGiven);
  EXPECT_TRUE(plugged.claimed);
}

TEST_F(CeDriver, OneOpenAtATimeAndCallsNeedAnOpenReader) {
  Reader r = Plug();
  DWORD_PTR h = Open(r);
  ASSERT_EQ(h, r.device.context);
  SetLastError(0);
  EXPECT_EQ(Open(r), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_TRUE(VQU_Close(h));
  SetLastError(0);
  EXPECT_FALSE(VQU_Close(h));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_DEVICE));
  SetLastError(7);
  EXPECT_FALSE(VQU_IOControl(h, IOCTL_SMARTCARD_GET_STATE, nullptr, 0, nullptr, 0, nullptr));
  EXPECT_EQ(GetLastError(), 7u) << "not open: the last error is left alone";
  EXPECT_EQ(Open(r), h);
  EXPECT_TRUE(VQU_Close(h));

  // Once unplugged the context is no longer in the table.
  ASSERT_TRUE(vqce::usb::Unplug(r.id));
  SetLastError(0);
  EXPECT_EQ(VQU_Open(h, 0, 0), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_DEVICE));
  EXPECT_FALSE(VQU_IOControl(h, IOCTL_SMARTCARD_GET_STATE, nullptr, 0, nullptr, 0, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_DEVICE));
}

TEST_F(CeDriver, ReaderUnpluggedByTheSimulatorIsTakenAway) {
  Reader r = Plug();
  ASSERT_TRUE(r.claimed);
  r.sim->Unplug();
  EXPECT_TRUE(Eventually([&] { return !vqce::usb::IsPlugged(r.id); }));
  EXPECT_TRUE(vqce::devices::List().empty());
  EXPECT_TRUE(vqce::smartcard::Readers().empty());
}

TEST(CeLibrary, ExportsTheEntryPoints) {
  void* lib = dlopen(VQRDCE_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(lib, nullptr) << dlerror();
  for (const char* name : {"USBInstallDriver", "USBUnInstallDriver", "USBDeviceAttach", "VQU_Init", "VQU_Deinit",
                           "VQU_Open", "VQU_Close", "VQU_IOControl", "VQU_Read", "VQU_Write", "VQU_Seek",
                           "VQU_PowerUp", "VQU_PowerDown"}) {
    EXPECT_NE(dlsym(lib, name), nullptr) << name;
  }
  for (const char* hidden : {"InitReaderDevice", "DllMain", "SmartcardIoctlDispatch", "CCID_ReadWrite"}) {
    EXPECT_EQ(dlsym(lib, hidden), nullptr) << hidden << " stays inside";
  }
  dlclose(lib);
}

}  // namespace
}  // namespace cetest

// Who may change the registry: a user without administrator rights reads
// HKEY_LOCAL_MACHINE on the NT family but changes nothing there; the
// current user's keys, Windows 95/98/ME and administrators are not limited.
#include <gtest/gtest.h>
#include <vqwin/TestMachine.h>
#include <windows.h>

#include <fstream>
#include <iterator>
#include <string>

namespace {

const char kNt[] = "[os]\nplatform = \"nt\"\nmajor = 5\nminor = 1\n";
const char k9x[] = "[os]\nplatform = \"9x\"\nmajor = 4\nminor = 10\nbuild = 2222\n";
const char kUser[] = "[security]\nadmin = false\n";
const char kRegistry[] =
    "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\SCardSvr]\n\"Start\"=dword:00000003\n\n"
    "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\SCardSvr\\Enum]\n\n"
    "[HKEY_CURRENT_USER\\Software]\n\n";

std::string ReadFileText(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

LONG SetDword(HKEY key, const char* name, DWORD value) {
  return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

TEST(RegistryRights, ANonAdministratorChangesNothingUnderTheLocalMachineOnTheNtFamily) {
  const char* const kService = "SYSTEM\\CurrentControlSet\\Services\\SCardSvr";
  struct {
    const char* name;
    const char* os;
    const char* security;
    bool limited;
  } const cases[] = {
      {"NT, not an administrator", kNt, kUser, true},
      {"NT, administrator", kNt, "", false},
      {"9x, not an administrator", k9x, kUser, false},
  };
  for (const auto& c : cases) {
    vqwin::ScratchMachine scratch(false);
    scratch.Toml(std::string(c.os) + c.security).Registry(kRegistry);
    scratch.Load();
    const LONG denied = c.limited ? ERROR_ACCESS_DENIED : ERROR_SUCCESS;
    const std::string before = ReadFileText(scratch.folder() / "registry.reg");

    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, kService, &key), ERROR_SUCCESS) << c.name;
    DWORD start = 0, size = sizeof start;
    EXPECT_EQ(RegQueryValueExA(key, "Start", nullptr, nullptr, reinterpret_cast<BYTE*>(&start), &size),
              ERROR_SUCCESS)
        << c.name;
    EXPECT_EQ(start, 3u) << c.name;
    EXPECT_EQ(SetDword(key, "Start", 2), denied) << c.name;
    EXPECT_EQ(RegDeleteValueA(key, "Start"), denied) << c.name;
    EXPECT_EQ(RegDeleteKeyA(key, "Enum"), denied) << c.name;
    RegCloseKey(key);
    EXPECT_EQ(SetDword(HKEY_LOCAL_MACHINE, "Top", 1), denied) << c.name;

    // Opened for reading it is; asked for a right to change it, it is not.
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kService, 0, KEY_READ, &key), ERROR_SUCCESS) << c.name;
    RegCloseKey(key);
    key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kService, 0, KEY_SET_VALUE, &key), denied) << c.name;
    if (key) RegCloseKey(key);
    key = nullptr;
    // An existing key is opened by RegCreateKeyA, a new one is not made.
    EXPECT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, kService, &key), ERROR_SUCCESS) << c.name;
    EXPECT_EQ(SetDword(key, "Start", 2), denied) << c.name;
    RegCloseKey(key);
    key = nullptr;
    EXPECT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tervane\\VqReader", &key), denied) << c.name;
    EXPECT_EQ(key == nullptr, c.limited) << c.name;
    if (key) RegCloseKey(key);
    key = nullptr;
    EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kService, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              denied)
        << c.name;
    if (key) RegCloseKey(key);

    if (c.limited) {
      EXPECT_EQ(ReadFileText(scratch.folder() / "registry.reg"), before) << c.name;
    }

    // The user's own keys stay the user's to change.
    ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, "Software\\Tervane", &key), ERROR_SUCCESS) << c.name;
    EXPECT_EQ(SetDword(key, "Seen", 1), ERROR_SUCCESS) << c.name;
    RegCloseKey(key);
  }
}

}  // namespace

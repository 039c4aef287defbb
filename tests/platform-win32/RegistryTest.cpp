#include <gtest/gtest.h>
#include <vqwin/Registry.h>
#include <vqwin/TestMachine.h>
#include <windows.h>

#include <cstring>
#include <fstream>
#include <iterator>

namespace {

std::string ReadFileText(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(Registry, ValuesSurviveARoundTripThroughRegistryReg) {
  vqwin::ScratchMachine scratch;
  scratch.Load();
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "Software\\Tervane\\VqReader\\VQUSB", &key), ERROR_SUCCESS);
  const DWORD type = 3;
  const char driver[] = "VQUSB.SYS";
  const BYTE start = 0;
  const char quoted[] = "C:\\path \"quoted\"";
  ASSERT_EQ(RegSetValueExA(key, "Type", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&type), 4), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key, "Driver", 0, REG_SZ, reinterpret_cast<const BYTE*>(driver), 10), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key, "Start", 0, REG_BINARY, &start, 1), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key, "Path", 0, REG_SZ, reinterpret_cast<const BYTE*>(quoted), sizeof quoted), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key, "NoZero", 0, REG_SZ, reinterpret_cast<const BYTE*>("abc"), 3), ERROR_SUCCESS);
  RegCloseKey(key);

  const std::string text = ReadFileText(scratch.folder() / "registry.reg");
  EXPECT_EQ(text.rfind("REGEDIT4\n", 0), 0u);
  EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tervane\\VqReader\\VQUSB]\n\"Type\"=dword:00000003\n"
                      "\"Driver\"=\"VQUSB.SYS\"\n\"Start\"=hex:00\n\"Path\"=\"C:\\\\path \\\"quoted\\\"\"\n"
                      "\"NoZero\"=hex(1):61,62,63\n"),
            std::string::npos)
      << text;

  // A fresh load of the folder reads the same values back, in any case.
  scratch.Load();
  ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\TERVANE\\vqreader\\vqusb", &key), ERROR_SUCCESS);
  DWORD got = 0, size = 4, kind = 0;
  EXPECT_EQ(RegQueryValueExA(key, "type", nullptr, &kind, reinterpret_cast<BYTE*>(&got), &size), ERROR_SUCCESS);
  EXPECT_EQ(got, 3u);
  EXPECT_EQ(kind, static_cast<DWORD>(REG_DWORD));
  char buffer[99];
  size = sizeof buffer;
  EXPECT_EQ(RegQueryValueExA(key, "Path", nullptr, &kind, reinterpret_cast<BYTE*>(buffer), &size), ERROR_SUCCESS);
  EXPECT_STREQ(buffer, quoted);
  EXPECT_EQ(size, sizeof quoted);
  // A too-small buffer, a size query, a missing value.
  size = 4;
  EXPECT_EQ(RegQueryValueExA(key, "Driver", nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 10u);
  size = 0;
  EXPECT_EQ(RegQueryValueExA(key, "Start", nullptr, &kind, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 1u);
  EXPECT_EQ(kind, static_cast<DWORD>(REG_BINARY));
  EXPECT_EQ(RegQueryValueExA(key, "Missing", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteValueA(key, "DRIVER"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueA(key, "Driver"), ERROR_FILE_NOT_FOUND);
  RegCloseKey(key);
  EXPECT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "Software\\Nobody", &key), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegCloseKey(reinterpret_cast<HKEY>(0x1234)), ERROR_INVALID_HANDLE);
}

TEST(Registry, DeletingAKeyWithSubkeysDependsOnTheFamily) {
  struct Case {
    const char* os;
    LONG result;
  } cases[] = {
      {"[os]\nplatform = \"9x\"\nmajor = 4\nminor = 10\nbuild = 2222\n", ERROR_SUCCESS},
      {"[os]\nplatform = \"nt\"\nmajor = 5\nminor = 1\n", ERROR_ACCESS_DENIED},
  };
  for (const Case& c : cases) {
    vqwin::ScratchMachine scratch(false);
    scratch.Toml(c.os).Registry(
        "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Enum\\USB\\VID_F1E5&PID_0480\\INST_0]\n\"Class\"=\"UnKnown\"\n");
    scratch.Load();
    HKEY key;
    ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "Enum\\USB\\VID_F1E5&PID_0480\\INST_0", &key), ERROR_SUCCESS);
    HKEY usb;
    ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "Enum\\USB", &usb), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyA(usb, "VID_F1E5&PID_0480"), c.result) << c.os;
    if (c.result == ERROR_SUCCESS) {
      // The open handle of a deleted key is dead.
      DWORD size = 0;
      EXPECT_EQ(RegQueryValueExA(key, "Class", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
      EXPECT_EQ(ReadFileText(scratch.folder() / "registry.reg").find("VID_F1E5"), std::string::npos);
    }
    RegCloseKey(key);
    RegCloseKey(usb);
  }
}

TEST(Registry, EnumeratesKeysAndValuesInOrder) {
  vqwin::ScratchMachine scratch(false);
  scratch.Registry("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A\\One]\n@=\"default\"\n\"x\"=dword:1\n[HKEY_LOCAL_MACHINE\\A\\Two]\n");
  scratch.Load();
  HKEY a;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "A", 0, KEY_READ, &a), ERROR_SUCCESS);
  char name[32];
  std::vector<std::string> keys;
  for (DWORD i = 0;; ++i) {
    DWORD n = sizeof name;
    if (RegEnumKeyExA(a, i, name, &n, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    keys.push_back(name);
  }
  EXPECT_EQ(keys, (std::vector<std::string>{"One", "Two"}));
  HKEY one;
  ASSERT_EQ(RegOpenKeyA(a, "One", &one), ERROR_SUCCESS);
  DWORD n = sizeof name, type = 0;
  ASSERT_EQ(RegEnumValueA(one, 0, name, &n, nullptr, &type, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_STREQ(name, "");
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  n = sizeof name;
  EXPECT_EQ(RegEnumValueA(one, 2, name, &n, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
  RegCloseKey(one);
  RegCloseKey(a);
}

TEST(Registry, BrokenTextIsReportedWithItsLine) {
  struct Case {
    const char* text;
    int line;
    const char* words;
  } cases[] = {
      {"Windows Registry Editor\n", 1, "REGEDIT4"},
      {"REGEDIT4\n\"a\"=\"b\"\n", 2, "before the first [key]"},
      {"REGEDIT4\n\n[HKEY_NOWHERE\\X]\n", 3, "unknown registry hive"},
      {"REGEDIT4\n[HKLM\\X]\n\"v\"=dword:xyz\n", 3, "dword"},
      {"REGEDIT4\n[HKLM\\X]\n\"v\"=hex:01,zz\n", 3, "zz"},
      {"REGEDIT4\n[HKLM\\X]\n\"v\"=\"open\n", 3, "not closed"},
      {"REGEDIT4\n[HKLM\\X\n", 2, "']'"},
  };
  for (const Case& c : cases) {
    try {
      vqwin::Registry::Parse(c.text, "registry.reg");
      ADD_FAILURE() << c.text;
    } catch (const vqwin::MachineError& e) {
      EXPECT_EQ(e.line(), c.line) << c.text;
      EXPECT_NE(std::string(e.what()).find(c.words), std::string::npos) << e.what();
      EXPECT_EQ(e.file(), "registry.reg");
    }
  }
  // Continued hex lines and deletions parse.
  auto r = vqwin::Registry::Parse(
      "REGEDIT4\n[HKLM\\X]\n\"m\"=hex(7):41,00,\\\n  42,00,00\n\"gone\"=\"1\"\n\"gone\"=-\n[-HKLM\\X\\Y]\n", "r");
  auto key = r->Find("HKEY_LOCAL_MACHINE\\X");
  ASSERT_TRUE(key);
  ASSERT_TRUE(key->Value("m"));
  EXPECT_EQ(key->Value("m")->data, (std::vector<uint8_t>{0x41, 0, 0x42, 0, 0}));
  EXPECT_FALSE(key->Value("gone"));
}

}  // namespace

#include <gtest/gtest.h>
#include <vqwin/Clock.h>
#include <vqwin/MessageBox.h>
#include <vqwin/TestMachine.h>
#include <windows.h>

#include <cstring>
#include <string>

namespace {

std::string WithOs(const std::string& os) {
  std::string toml = vqwin::DefaultMachineToml();
  const size_t from = toml.find("[os]"), to = toml.find("[locale]");
  return toml.replace(from, to - from, os + "\n");
}

TEST(Version, EachRecordSizeAsTheMachineAnswers) {
  struct Case {
    const char* os;
    bool extended, basic;
  } cases[] = {
      {"[os]\nplatform = \"nt\"\nmajor = 5\nminor = 1\nbuild = 2600\n", true, true},
      {"[os]\nplatform = \"9x\"\nmajor = 4\nminor = 10\nbuild = 2222\ncsd = \" A \"\n", false, true},
      {"[os]\nplatform = \"nt\"\nmajor = 4\nminor = 0\nbuild = 1381\nsp_major = 5\n", false, true},
      {"[os]\nplatform = \"nt\"\nmajor = 4\nminor = 0\nbuild = 1381\nsp_major = 6\n", true, true},
      {"[os]\nplatform = \"nt\"\nmajor = 6\nminor = 1\nversion_query = \"none\"\n", false, false},
  };
  for (const Case& c : cases) {
    vqwin::ScratchMachine scratch;
    scratch.Toml(WithOs(c.os));
    scratch.Load();
    OSVERSIONINFOEXA ex;
    std::memset(&ex, 0, sizeof ex);
    ex.dwOSVersionInfoSize = 156;
    EXPECT_EQ(GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&ex)) != 0, c.extended) << c.os;
    ex.dwOSVersionInfoSize = 148;
    EXPECT_EQ(GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&ex)) != 0, c.basic) << c.os;
    ex.dwOSVersionInfoSize = 100;
    EXPECT_FALSE(GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&ex)));
  }
}

TEST(Version, RecordFieldsAndTheWin9xBuildWord) {
  vqwin::ScratchMachine scratch;
  scratch.Toml(WithOs("[os]\nplatform = \"9x\"\nmajor = 4\nminor = 10\nbuild = 2222\ncsd = \" A \"\n"));
  scratch.Load();
  OSVERSIONINFOA v;
  std::memset(&v, 0, sizeof v);
  v.dwOSVersionInfoSize = sizeof v;
  ASSERT_TRUE(GetVersionExA(&v));
  EXPECT_EQ(v.dwPlatformId, 1u);
  EXPECT_EQ(v.dwBuildNumber, 0x040A08AEu);
  EXPECT_EQ(v.szCSDVersion[1], 'A');
  EXPECT_EQ(GetVersion() & 0x8000FFFFu, 0x80000A04u);
  char dir[MAX_PATH];
  GetSystemDirectoryA(dir, sizeof dir);
  EXPECT_STREQ(dir, "C:\\WINDOWS\\SYSTEM");

  scratch.Toml(vqwin::DefaultMachineToml());
  scratch.Load();
  OSVERSIONINFOEXA ex;
  std::memset(&ex, 0, sizeof ex);
  ex.dwOSVersionInfoSize = sizeof ex;
  ASSERT_EQ(sizeof ex, 156u);
  ASSERT_TRUE(GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&ex)));
  EXPECT_EQ(ex.dwMajorVersion, 5u);
  EXPECT_EQ(ex.dwMinorVersion, 1u);
  EXPECT_EQ(ex.dwBuildNumber, 2600u);
  EXPECT_STREQ(ex.szCSDVersion, "Service Pack 3");
  EXPECT_EQ(ex.wServicePackMajor, 3);
  EXPECT_EQ(ex.wSuiteMask, 0x0100);
  EXPECT_EQ(ex.wProductType, 1);
}

TEST(SystemInfo, A32BitProgramOn64BitWindowsSeesX86UnlessNative) {
  struct Case {
    const char* arch;
    WORD plain, native;
  } cases[] = {{"x86", 0, 0}, {"x64", 0, 9}, {"ia64", 0, 6}};
  for (const Case& c : cases) {
    vqwin::ScratchMachine scratch;
    scratch.Toml(WithOs(std::string("[os]\nplatform = \"nt\"\nmajor = 6\nminor = 1\nproduct_info = 6\narchitecture = \"") +
                        c.arch + "\"\n"));
    scratch.Load();
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    EXPECT_EQ(info.wProcessorArchitecture, c.plain) << c.arch;
    GetNativeSystemInfo(&info);
    EXPECT_EQ(info.wProcessorArchitecture, c.native) << c.arch;
    DWORD product = 0;
    EXPECT_TRUE(GetProductInfo(6, 1, 0, 0, &product));
    EXPECT_EQ(product, 6u);
  }
}

TEST(Modules, OptionalFunctionsFollowTheMachine) {
  struct Case {
    const char* os;
    const char* extra;
    const char* function;
    bool found;
  } cases[] = {
      {"[os]\nplatform = \"nt\"\nmajor = 5\nminor = 1\n", "", "GetNativeSystemInfo", true},
      {"[os]\nplatform = \"nt\"\nmajor = 5\nminor = 1\n", "[functions]\nabsent = [\"GetNativeSystemInfo\"]\n",
       "GetNativeSystemInfo", false},
      {"[os]\nplatform = \"nt\"\nmajor = 5\nminor = 0\n", "", "GetNativeSystemInfo", false},
      {"[os]\nplatform = \"nt\"\nmajor = 5\nminor = 1\n", "", "GetProductInfo", false},
      {"[os]\nplatform = \"nt\"\nmajor = 6\nminor = 0\n", "", "GetProductInfo", true},
      {"[os]\nplatform = \"nt\"\nmajor = 5\nminor = 1\n", "", "Wow64DisableWow64FsRedirection", false},
      {"[os]\nplatform = \"nt\"\nmajor = 6\nminor = 1\narchitecture = \"x64\"\n", "",
       "Wow64DisableWow64FsRedirection", true},
      {"[os]\nplatform = \"nt\"\nmajor = 5\nminor = 1\n", "", "NoSuchFunction", false},
  };
  for (const Case& c : cases) {
    vqwin::ScratchMachine scratch;
    scratch.Toml(WithOs(c.os) + c.extra);
    scratch.Load();
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    ASSERT_NE(kernel, nullptr);
    EXPECT_EQ(GetModuleHandleA("KERNEL32"), kernel);
    SetLastError(0);
    FARPROC f = GetProcAddress(kernel, c.function);
    EXPECT_EQ(f != nullptr, c.found) << c.os << c.extra << c.function;
    if (!c.found) {
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    }
  }
  // A module that is not loaded has no handle; one the machine lacks does not load.
  vqwin::ScratchMachine scratch;
  scratch.Toml(WithOs("[os]\nplatform = \"9x\"\nmajor = 4\nminor = 90\n"));
  scratch.Load();
  EXPECT_EQ(GetModuleHandleA("version.dll"), nullptr);
  HMODULE version = LoadLibraryA("version.dll");
  EXPECT_NE(version, nullptr);
  EXPECT_TRUE(FreeLibrary(version));
  EXPECT_EQ(LoadLibraryA("psapi.dll"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

TEST(Clock, SleepAdvancesTheMachineClock) {
  vqwin::ScratchMachine scratch;
  vqwin::Machine& m = scratch.Load();
  EXPECT_EQ(&vqwin::CurrentClock(), &m.clock());
  const DWORD t0 = GetTickCount();
  EXPECT_EQ(t0, 3600000u);
  Sleep(10000);
  EXPECT_EQ(GetTickCount() - t0, 10000u);

  SYSTEMTIME st;
  GetLocalTime(&st);
  EXPECT_EQ(st.wYear, 2026);
  EXPECT_EQ(st.wMonth, 12);
  EXPECT_EQ(st.wDay, 10);
  EXPECT_EQ(st.wDayOfWeek, 4);  // a Thursday
  EXPECT_EQ(st.wHour, 9);
  EXPECT_EQ(st.wMinute, 30);
  EXPECT_EQ(st.wSecond, 10);
  // Across midnight and the year's end.
  scratch.Toml(vqwin::DefaultMachineToml().replace(vqwin::DefaultMachineToml().find("2026-12-10T09:30:00"), 19,
                                                   "2026-12-31T23:59:59"));
  scratch.Load();
  Sleep(1500);
  GetLocalTime(&st);
  EXPECT_EQ(st.wYear, 2027);
  EXPECT_EQ(st.wMonth, 1);
  EXPECT_EQ(st.wDay, 1);
  EXPECT_EQ(st.wDayOfWeek, 5);
  EXPECT_EQ(st.wSecond, 0);
  EXPECT_EQ(st.wMilliseconds, 500);
}

TEST(Identity, NamesFoldersAndMetrics) {
  vqwin::ScratchMachine scratch;
  scratch.Load();
  char name[50];
  DWORD size = sizeof name;
  ASSERT_TRUE(GetComputerNameA(name, &size));
  EXPECT_STREQ(name, "VQ-XP");
  EXPECT_EQ(size, 5u);
  size = 3;
  EXPECT_FALSE(GetUserNameA(name, &size));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(size, 14u);
  ASSERT_TRUE(GetUserNameA(name, &size));
  EXPECT_STREQ(name, "Administrator");
  char path[255] = {};
  EXPECT_EQ(GetWindowsDirectoryA(path, sizeof path), 10u);
  EXPECT_STREQ(path, "C:\\WINDOWS");
  EXPECT_EQ(GetWindowsDirectoryA(path, 5), 11u);  // too small: the size needed
  EXPECT_EQ(GetModuleFileNameA(nullptr, path, sizeof path), 33u);
  EXPECT_STREQ(path, "C:\\Program Files\\VQUSB\\vqdiag.exe");
  EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 1024);
  // A launcher can put the program elsewhere; the current directory follows it.
  vqwin::LoadOptions options;
  options.programPath = "C:\\VQNANOS_V2\\vqdiag.exe";
  scratch.File("C:\\VQNANOS_V2\\vqdiag.exe", "");
  scratch.Load(options);
  GetModuleFileNameA(nullptr, path, sizeof path);
  EXPECT_STREQ(path, "C:\\VQNANOS_V2\\vqdiag.exe");
  GetCurrentDirectoryA(sizeof path, path);
  EXPECT_STREQ(path, "C:\\VQNANOS_V2");
  EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 768);
  EXPECT_EQ(GetSystemMetrics(SM_SERVERR2), 0);
}

TEST(Errors, SystemTextsInEnglish) {
  char text[256];
  struct Case {
    DWORD code;
    const char* text;
  } cases[] = {{2, "The system cannot find the file specified.\r\n"},
               {32, "The process cannot access the file because it is being used by another process.\r\n"},
               {112, "There is not enough space on the disk.\r\n"},
               {1060, "The specified service does not exist as an installed service.\r\n"}};
  for (const Case& c : cases) {
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, c.code,
                                   0, text, sizeof text, nullptr);
    EXPECT_EQ(n, std::strlen(c.text));
    EXPECT_STREQ(text, c.text);
  }
  char* allocated = nullptr;
  ASSERT_GT(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, 5, 0,
                           reinterpret_cast<LPSTR>(&allocated), 0, nullptr), 0u);
  EXPECT_STREQ(allocated, "Access is denied.\r\n");
  LocalFree(allocated);
  EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 0xDEAD, 0, text, sizeof text, nullptr), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND));
}

TEST(MessageBoxes, AnsweredByTheHandlerAndRecorded) {
  vqwin::ScratchMachine scratch;
  scratch.Load();
  vqwin::ClearMessageBoxRecord();
  EXPECT_EQ(MessageBoxA(nullptr, "Cannot Support on Windows 95!", "Error", MB_OK), IDOK);
  EXPECT_EQ(MessageBoxA(nullptr, "Again?", "Question", MB_YESNO | MB_DEFBUTTON2), IDNO);
  auto previous = vqwin::SetMessageBoxHandler([](HWND, const char* text, const char*, UINT) {
    return std::string(text) == "Retry?" ? IDRETRY : IDCANCEL;
  });
  EXPECT_EQ(MessageBoxA(nullptr, "Retry?", "Error", MB_RETRYCANCEL), IDRETRY);
  EXPECT_EQ(MessageBoxW(nullptr, L"Smart Card Reader Driver Installed Failed!", L"Notice", MB_ICONWARNING), IDCANCEL);
  vqwin::SetMessageBoxHandler(previous);
  const auto& record = vqwin::MessageBoxRecord();
  ASSERT_EQ(record.size(), 4u);
  EXPECT_EQ(record[0].caption, "Error");
  EXPECT_EQ(record[1].answer, IDNO);
  EXPECT_TRUE(record[3].wide);
  EXPECT_EQ(record[3].text, "Smart Card Reader Driver Installed Failed!");
  EXPECT_EQ(record[3].type, static_cast<UINT>(MB_ICONWARNING));
}

}  // namespace

namespace {

TEST(Clock, TheDefaultMachineTakesOverTheClockWithoutGoingBack) {
  vqwin::ClearCurrentMachine();
  vqwin::CurrentClock().Sleep(5000);
  const uint64_t before = vqwin::CurrentClock().Now();
  GetSystemMetrics(SM_CXSCREEN);  // makes the embedded default machine current
  ASSERT_NE(vqwin::CurrentMachineIfAny(), nullptr);
  EXPECT_GE(vqwin::CurrentClock().Now(), before);
  vqwin::ClearCurrentMachine();
}

}  // namespace

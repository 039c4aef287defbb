#include <gtest/gtest.h>
#include <share.h>
#include <vqwin/FileSystem.h>
#include <vqwin/Handles.h>
#include <vqwin/Machine.h>
#include <vqwin/TestMachine.h>
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string ReadWhole(const char* path) {
  HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return "<" + std::to_string(GetLastError()) + ">";
  char buffer[256];
  DWORD got = 0;
  ReadFile(h, buffer, sizeof buffer, &got, nullptr);
  CloseHandle(h);
  return std::string(buffer, got);
}

bool WriteWhole(const char* path, const std::string& bytes) {
  HANDLE h = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD put = 0;
  const BOOL ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr);
  CloseHandle(h);
  return ok && put == bytes.size();
}

std::vector<std::string> List(const char* pattern) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA data;
  HANDLE h = FindFirstFileA(pattern, &data);
  if (h == INVALID_HANDLE_VALUE) return {"<" + std::to_string(GetLastError()) + ">"};
  do names.push_back(data.cFileName);
  while (FindNextFileA(h, &data));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
  FindClose(h);
  return names;
}

class Files : public ::testing::Test {
 protected:
  void SetUp() override { scratch.Load(); }
  vqwin::ScratchMachine scratch;
};

TEST_F(Files, PathsAreFoundInAnyCaseAndCreatedInTheCaseGiven) {
  // The default machine keeps its driver as C/WINDOWS/system32/drivers/vqusb.sys.
  for (const char* path : {"C:\\WINDOWS\\system32\\drivers\\vqusb.sys", "c:\\windows\\SYSTEM32\\Drivers\\VQUSB.SYS",
                           "C:/Windows/System32/drivers/./x/../VqUsb.sys"})
    EXPECT_NE(GetFileAttributesA(path), INVALID_FILE_ATTRIBUTES) << path;

  ASSERT_TRUE(CreateDirectoryA("c:\\windows\\NewFolder", nullptr));
  ASSERT_TRUE(WriteWhole("C:\\WINDOWS\\newfolder\\Report.LOG", "line\r\n"));
  EXPECT_TRUE(fs::exists(scratch.folder() / "C" / "WINDOWS" / "NewFolder" / "Report.LOG"));
  EXPECT_EQ(ReadWhole("c:\\WINDOWS\\NEWFOLDER\\report.log"), "line\r\n");

  // The errors of missing files and folders.
  EXPECT_EQ(GetFileAttributesA("C:\\WINDOWS\\missing.txt"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(GetFileAttributesA("C:\\NoSuchFolder\\missing.txt"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_FALSE(CreateDirectoryA("C:\\WINDOWS\\NEWFOLDER", nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(ReadWhole("Q:\\x.txt"), "<3>");
}

// The stored name of a machine file in the host folder, "" when missing.
std::string StoredName(const char* windowsPath) {
  const vqwin::ResolvedPath r = vqwin::CurrentMachine().files().Resolve(windowsPath);
  return r.exists ? r.hostPath.filename().string() : "";
}

TEST_F(Files, NamesInAnotherCaseFollowTheFolderAsItChanges) {
  // Each change comes right after a look-up, once in a folder that has not
  // changed for a while and once in one that just has.
  const fs::path inf = scratch.folder() / "C" / "WINDOWS" / "inf";
  const char* const path = "C:\\WINDOWS\\INF\\VQUSB.INF";
  // Two names that differ in case only: each is found in its own case.
  std::ofstream(inf / "Twin.inf") << "1";
  std::ofstream(inf / "twin.inf") << "2";
  for (const bool aged : {true, false}) {
    SCOPED_TRACE(aged ? "aged folder" : "fresh folder");
    if (aged) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(StoredName(path), "vqusb.inf");
    EXPECT_EQ(StoredName("C:\\WINDOWS\\inf\\Twin.inf"), "Twin.inf");
    EXPECT_EQ(StoredName("C:\\WINDOWS\\inf\\twin.inf"), "twin.inf");
    EXPECT_EQ(StoredName("C:\\WINDOWS\\inf\\none.inf"), "");
    fs::rename(inf / "vqusb.inf", inf / "VqUsb.Inf");
    EXPECT_EQ(StoredName(path), "VqUsb.Inf");
    fs::remove(inf / "VqUsb.Inf");
    EXPECT_EQ(GetFileAttributesA(path), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    std::ofstream(inf / "vqusb.inf") << "[Version]";
  }
  // The same folder made anew.
  fs::remove_all(inf);
  fs::create_directories(inf);
  EXPECT_EQ(StoredName(path), "");
  std::ofstream(inf / "Vqusb.inf") << "[Version]";
  EXPECT_EQ(StoredName(path), "Vqusb.inf");
}

TEST_F(Files, LetterCaseFollowsTheMachinesCodePage) {
  // 0xA4 0x41 is one Big5 character, whose second byte is no letter; in
  // code page 1252 they are two characters, the second an "A".
  scratch.File("C:\\Data\\x\xA4\x41.txt", "");
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(StoredName("C:\\Data\\X\xA4\x61.TXT"), "x\xA4\x41.txt");
  vqwin::CurrentMachine().spec().locale.ansiCodePage = 950;
  EXPECT_EQ(StoredName("C:\\Data\\X\xA4\x61.TXT"), "");
  EXPECT_EQ(StoredName("C:\\Data\\X\xA4\x41.TXT"), "x\xA4\x41.txt");
}

TEST_F(Files, RelativePathsFollowTheCurrentDirectory) {
  char dir[MAX_PATH];
  ASSERT_GT(GetCurrentDirectoryA(sizeof dir, dir), 0u);
  EXPECT_STREQ(dir, "C:\\Program Files\\VQUSB");
  ASSERT_TRUE(SetCurrentDirectoryA("c:\\windows\\inf"));
  EXPECT_NE(GetFileAttributesA("vqusb.inf"), INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(GetFileAttributesA("..\\system32\\scardsvr.exe"), INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(GetFileAttributesA("\\WINDOWS\\inf\\vqusb.inf"), INVALID_FILE_ATTRIBUTES);
}

TEST_F(Files, SearchListsDotsFirstThenNamesInOrder) {
  scratch.File("C:\\Data\\b.inf", "").File("C:\\Data\\A.INF", "").File("C:\\Data\\c.txt", "");
  CreateDirectoryA("C:\\Data\\sub.inf", nullptr);
  EXPECT_EQ(List("C:\\Data\\*.*"), (std::vector<std::string>{".", "..", "A.INF", "b.inf", "c.txt", "sub.inf"}));
  EXPECT_EQ(List("c:\\data\\*.inf"), (std::vector<std::string>{"A.INF", "b.inf", "sub.inf"}));
  EXPECT_EQ(List("C:\\Data\\?.TXT"), (std::vector<std::string>{"c.txt"}));
  EXPECT_EQ(List("C:\\Data\\*.sys"), (std::vector<std::string>{"<2>"}));
  EXPECT_EQ(List("C:\\Nothing\\*.*"), (std::vector<std::string>{"<3>"}));
  WIN32_FIND_DATAA data;
  HANDLE h = FindFirstFileA("C:\\Data\\sub.inf", &data);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(data.dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  FindClose(h);

  // Each entry carries the attributes, size and time of its own file.
  scratch.File("C:\\Data\\b.inf", "12345");
  ASSERT_TRUE(SetFileAttributesA("c:\\data\\B.INF", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY));
  h = FindFirstFileA("C:\\Data\\*.inf", &data);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  struct Entry {
    std::string name;
    DWORD attributes, size;
    bool timed;
  };
  std::vector<Entry> entries;
  do entries.push_back({data.cFileName, data.dwFileAttributes, data.nFileSizeLow, data.ftLastWriteTime.dwHighDateTime != 0});
  while (FindNextFileA(h, &data));
  FindClose(h);
  ASSERT_EQ(entries.size(), 3u);
  const DWORD hiddenReadOnly = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY;
  const Entry expected[] = {{"A.INF", FILE_ATTRIBUTE_ARCHIVE, 0, true},
                            {"b.inf", hiddenReadOnly, 5, true},
                            {"sub.inf", FILE_ATTRIBUTE_DIRECTORY, 0, true}};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(entries[i].name, expected[i].name);
    EXPECT_EQ(entries[i].attributes, expected[i].attributes) << expected[i].name;
    EXPECT_EQ(entries[i].size, expected[i].size) << expected[i].name;
    EXPECT_TRUE(entries[i].timed) << expected[i].name;
  }
}

TEST_F(Files, AttributesAreKeptAndReadOnlyFilesResist) {
  const char* file = "C:\\WINDOWS\\system32\\drivers\\vqusb.sys";
  EXPECT_EQ(GetFileAttributesA(file), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
  ASSERT_TRUE(SetFileAttributesA(file, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
  EXPECT_FALSE(CopyFileA("C:\\WINDOWS\\inf\\vqusb.inf", file, FALSE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(DeleteFileA(file));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

  // Attributes live in the machine folder: a second load sees them.
  scratch.Load();
  EXPECT_EQ(GetFileAttributesA(file), static_cast<DWORD>(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
  ASSERT_TRUE(SetFileAttributesA(file, FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(GetFileAttributesA(file), static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL));
  EXPECT_TRUE(CopyFileA("C:\\WINDOWS\\inf\\vqusb.inf", file, FALSE));
  EXPECT_TRUE(DeleteFileA(file));
}

TEST_F(Files, CopyMoveAndDeleteReportWhatStopsThem) {
  const char* src = "C:\\WINDOWS\\inf\\vqusb.inf";
  EXPECT_TRUE(CopyFileA(src, "C:\\copy.inf", TRUE));
  EXPECT_FALSE(CopyFileA(src, "C:\\copy.inf", TRUE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
  EXPECT_FALSE(CopyFileA("C:\\none.inf", "C:\\x.inf", FALSE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(CopyFileA(src, "C:\\NoFolder\\x.inf", FALSE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));

  // A file held open without write sharing can't be overwritten or deleted.
  HANDLE h = CreateFileA("C:\\copy.inf", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(CopyFileA(src, "C:\\copy.inf", FALSE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(DeleteFileA("C:\\copy.inf"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  CloseHandle(h);

  EXPECT_TRUE(MoveFileA("C:\\copy.inf", "C:\\WINDOWS\\moved.inf"));
  EXPECT_FALSE(MoveFileA(src, "C:\\WINDOWS\\MOVED.INF"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_TRUE(DeleteFileA("c:\\windows\\moved.inf"));
  EXPECT_FALSE(DeleteFileA("c:\\windows\\moved.inf"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

// A replacing move puts the file in the other's place in one step; what
// stops it leaves both files as they were. Windows 98 has no such move.
TEST_F(Files, AReplacingMoveReplacesInOneStepOrNotAtAll) {
  ASSERT_TRUE(WriteWhole("C:\\new.log", "new"));
  ASSERT_TRUE(WriteWhole("C:\\old.log", "old"));
  EXPECT_FALSE(MoveFileExA("C:\\new.log", "C:\\old.log", 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));

  SetFileAttributesA("C:\\old.log", FILE_ATTRIBUTE_READONLY);
  EXPECT_FALSE(MoveFileExA("C:\\new.log", "C:\\old.log", MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  SetFileAttributesA("C:\\old.log", FILE_ATTRIBUTE_NORMAL);
  HANDLE h = CreateFileA("C:\\old.log", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(MoveFileExA("C:\\new.log", "C:\\old.log", MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  CloseHandle(h);
  EXPECT_EQ(ReadWhole("C:\\old.log"), "old");
  EXPECT_EQ(ReadWhole("C:\\new.log"), "new");

  vqwin::CurrentMachine().spec().os.platformId = VER_PLATFORM_WIN32_WINDOWS;
  EXPECT_FALSE(MoveFileExA("C:\\new.log", "C:\\old.log", MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CALL_NOT_IMPLEMENTED));
  vqwin::CurrentMachine().spec().os.platformId = VER_PLATFORM_WIN32_NT;

  EXPECT_TRUE(MoveFileExA("C:\\new.log", "C:\\old.log", MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(ReadWhole("C:\\old.log"), "new");
  EXPECT_EQ(GetFileAttributesA("C:\\new.log"), INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(MoveFileExA("C:\\old.log", "C:\\fresh.log", MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(ReadWhole("C:\\fresh.log"), "new");
}

TEST(FilesScripted, MachineCanScriptDiskFullAndSharingViolations) {
  vqwin::ScratchMachine scratch;
  scratch.AppendToml(R"(
[[file_failures]]
path = 'C:\WINDOWS\system32\vqscmon.exe'
op = "copy"
error = 32

[[file_failures]]
path = 'C:\WINDOWS\system32\drivers\*'
op = "copy"
error = 112

[[file_failures]]
path = 'C:\full\*'
op = "write"
error = 112
)");
  scratch.File("D:\\drivers\\vqscmon.exe", "program").File("D:\\drivers\\VQUSB.sys", "driver");
  scratch.Load();
  CreateDirectoryA("C:\\full", nullptr);
  struct Case {
    const char* src;
    const char* dst;
    DWORD error;
  } cases[] = {
      {"D:\\drivers\\vqscmon.exe", "C:\\WINDOWS\\System32\\VQSCMON.EXE", ERROR_SHARING_VIOLATION},
      {"D:\\drivers\\VQUSB.sys", "C:\\WINDOWS\\system32\\drivers\\VQUSB.sys", ERROR_DISK_FULL},
      {"D:\\drivers\\VQUSB.sys", "C:\\WINDOWS\\VQUSB.sys", 0},
  };
  for (const Case& c : cases) {
    SetLastError(0);
    EXPECT_EQ(CopyFileA(c.src, c.dst, FALSE), c.error == 0) << c.dst;
    EXPECT_EQ(GetLastError(), c.error) << c.dst;
  }
  EXPECT_FALSE(WriteWhole("C:\\full\\log.txt", "x"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISK_FULL));
}

TEST(FilesWow64, SystemFolderIsRedirectedUntilRedirectionIsOff) {
  vqwin::ScratchMachine scratch;
  std::string toml = vqwin::DefaultMachineToml();
  toml.replace(toml.find("architecture = \"x86\""), 20, "architecture = \"x64\"");
  scratch.Toml(toml);
  scratch.File("C:\\WINDOWS\\system32\\drivers\\vqusb64.sys", "native");
  scratch.File("C:\\WINDOWS\\SysWOW64\\drivers\\vqusb64.sys", "wow64");
  scratch.File("C:\\WINDOWS\\system32\\drivers\\etc\\hosts", "hosts");
  scratch.Load();
  EXPECT_EQ(ReadWhole("C:\\WINDOWS\\system32\\drivers\\vqusb64.sys"), "wow64");
  EXPECT_EQ(ReadWhole("C:\\WINDOWS\\Sysnative\\drivers\\vqusb64.sys"), "native");
  EXPECT_EQ(ReadWhole("C:\\WINDOWS\\System32\\drivers\\etc\\hosts"), "hosts");  // exempt

  HMODULE kernel = GetModuleHandleA("kernel32");
  auto disable = reinterpret_cast<BOOL(WINAPI*)(PVOID*)>(GetProcAddress(kernel, "Wow64DisableWow64FsRedirection"));
  auto revert = reinterpret_cast<BOOL(WINAPI*)(PVOID)>(GetProcAddress(kernel, "Wow64RevertWow64FsRedirection"));
  ASSERT_TRUE(disable && revert);
  PVOID old = nullptr;
  ASSERT_TRUE(disable(&old));
  EXPECT_EQ(ReadWhole("C:\\WINDOWS\\system32\\drivers\\vqusb64.sys"), "native");
  ASSERT_TRUE(revert(old));
  EXPECT_EQ(ReadWhole("C:\\WINDOWS\\system32\\drivers\\vqusb64.sys"), "wow64");

  char dir[MAX_PATH];
  GetSystemDirectoryA(dir, sizeof dir);
  EXPECT_STREQ(dir, "C:\\WINDOWS\\system32");
}

TEST_F(Files, TextModeReadsAsTheCLibraryDoes) {
  scratch.File("C:\\WINDOWS\\inf\\oem1.inf", std::string("[Ver]\r\nVQUSB\r\n\x1A" "after", 20));
  FILE* text = _fsopen("c:\\windows\\INF\\OEM1.INF", "r", _SH_DENYNO);
  ASSERT_NE(text, nullptr);
  char buffer[64] = {};
  const size_t n = std::fread(buffer, 1, sizeof buffer - 1, text);
  std::fclose(text);
  EXPECT_EQ(std::string(buffer, n), "[Ver]\nVQUSB\n");

  FILE* binary = _fsopen("C:\\WINDOWS\\inf\\oem1.inf", "rb", _SH_DENYNO);
  ASSERT_NE(binary, nullptr);
  EXPECT_EQ(std::fread(buffer, 1, sizeof buffer, binary), 20u);
  std::fclose(binary);

  FILE* out = _fsopen("C:\\WINDOWS\\out.txt", "w", _SH_DENYNO);
  ASSERT_NE(out, nullptr);
  std::fputs("a\nb\n", out);
  std::fclose(out);
  EXPECT_EQ(ReadWhole("C:\\WINDOWS\\out.txt"), "a\r\nb\r\n");
  EXPECT_EQ(_fsopen("C:\\WINDOWS\\none.txt", "r", _SH_DENYNO), nullptr);
  EXPECT_EQ(_fsopen("C:\\WINDOWS", "r", _SH_DENYNO), nullptr);
}

}  // namespace

namespace {

class EchoDevice : public vqwin::KernelObject {
 public:
  BOOL Read(void* buffer, DWORD size, DWORD* got, DWORD&) override {
    const DWORD n = size < 2 ? size : 2;
    std::memcpy(buffer, "OK", n);
    *got = n;
    return TRUE;
  }
};

TEST(Devices, DevicePathsGoToTheOpener) {
  vqwin::ScratchMachine scratch;
  scratch.Load();
  vqwin::SetDeviceOpener(nullptr);
  EXPECT_EQ(CreateFileA("\\\\.\\VQUSB0", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  vqwin::SetDeviceOpener([](const std::string& name, DWORD, DWORD, DWORD& error) -> std::shared_ptr<vqwin::KernelObject> {
    if (name == "VQUSB0") return std::make_shared<EchoDevice>();
    error = ERROR_SHARING_VIOLATION;
    return nullptr;
  });
  HANDLE h = CreateFileA("\\\\.\\VQUSB0", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  char buffer[4];
  DWORD got = 0;
  EXPECT_TRUE(ReadFile(h, buffer, sizeof buffer, &got, nullptr));
  EXPECT_EQ(std::string(buffer, got), "OK");
  EXPECT_FALSE(WriteFile(h, "x", 1, &got, nullptr));  // the default object refuses
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FUNCTION));
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_FALSE(CloseHandle(h));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(CreateFileA("\\\\.\\VQUSB1", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  vqwin::SetDeviceOpener(nullptr);
}

}  // namespace

// ShellExecuteA of the Win32 stand-in: a start is recorded on the machine
// when the program file is there, a failure is a result of 32 or less with
// the last error set.
#include "DiagMachine.h"

#include <vqwin/FileSystem.h>
#include <vqwin/Started.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

struct ShellCase {
  const char* label;
  const char* verb;
  const char* file;
  const char* directory;
  INT_PTR result;  // 0: a success (above 32)
  DWORD error;
};

const ShellCase kCases[] = {
    {"Open", "open", "C:\\Viewer\\View.exe", "C:\\Viewer", 0, 0},
    {"DefaultVerb", nullptr, "C:\\Viewer\\View.exe", nullptr, 0, 0},
    {"NameOfOtherCase", "OPEN", "c:\\viewer\\VIEW.EXE", "C:\\Viewer\\", 0, 0},
    {"RelativeToDirectory", "open", "View.exe", "C:\\Viewer", 0, 0},
    {"MissingFile", "open", "C:\\Viewer\\Other.exe", "C:\\Viewer", SE_ERR_FNF, ERROR_FILE_NOT_FOUND},
    {"NoFile", "open", nullptr, nullptr, SE_ERR_FNF, ERROR_FILE_NOT_FOUND},
    {"MissingDirectory", "open", "C:\\Viewer\\View.exe", "C:\\Gone", SE_ERR_PNF, ERROR_PATH_NOT_FOUND},
    {"UnknownVerb", "edit", "C:\\Viewer\\View.exe", nullptr, SE_ERR_NOASSOC, ERROR_NO_ASSOCIATION},
};

void PrintTo(const ShellCase& c, std::ostream* os) { *os << c.label; }

class Shell : public ::testing::TestWithParam<ShellCase> {
 protected:
  diagtest::ScratchMachine machine_;
};

TEST_P(Shell, StartsOnlyWhatIsThere) {
  const ShellCase& c = GetParam();
  machine_.machine().files().WriteBytes("C:\\Viewer\\View.exe", "MZ");
  SetLastError(0);
  const INT_PTR result =
      reinterpret_cast<INT_PTR>(ShellExecuteA(nullptr, c.verb, c.file, "a b", c.directory, SW_SHOWNORMAL));
  const auto started = vqwin::StartedPrograms();
  if (c.result == 0) {
    EXPECT_GT(result, 32);
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(started[0].file, c.file);
    EXPECT_EQ(started[0].verb, c.verb ? c.verb : "");
    EXPECT_EQ(started[0].parameters, "a b");
    EXPECT_EQ(started[0].directory, c.directory ? c.directory : "");
    EXPECT_EQ(started[0].show, SW_SHOWNORMAL);
  } else {
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(GetLastError(), c.error);
    EXPECT_TRUE(started.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, Shell, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.label); });

TEST(ShellRecord, EachMachineKeepsItsOwnStarts) {
  {
    diagtest::ScratchMachine first;
    first.machine().files().WriteBytes("C:\\View.exe", "MZ");
    ShellExecuteA(nullptr, "open", "C:\\View.exe", nullptr, nullptr, SW_SHOWNORMAL);
    ShellExecuteA(nullptr, "open", "C:\\View.exe", nullptr, nullptr, SW_SHOWNORMAL);
    EXPECT_EQ(vqwin::StartedPrograms().size(), 2u);
    vqwin::ClearStartedPrograms();
    EXPECT_TRUE(vqwin::StartedPrograms().empty());
    ShellExecuteA(nullptr, "open", "C:\\View.exe", nullptr, nullptr, SW_SHOWNORMAL);
  }
  diagtest::ScratchMachine second;
  EXPECT_TRUE(vqwin::StartedPrograms().empty());
}

TEST(ShellRecord, FileNotFoundHasTheSystemsText) {
  char text[128] = {};
  ASSERT_GT(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           ERROR_FILE_NOT_FOUND, 0, text, sizeof text, nullptr),
            0u);
  EXPECT_STREQ(text, "The system cannot find the file specified.\r\n");
}

}  // namespace

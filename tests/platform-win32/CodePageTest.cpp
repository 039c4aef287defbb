#include <gtest/gtest.h>
#include <vqwin/CodePage.h>
#include <vqwin/TestMachine.h>
#include <windows.h>

#include <string>

namespace {

struct RoundTrip {
  UINT codePage;
  std::string bytes;   // in that code page
  std::wstring text;
};

class CodePageRoundTrip : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(CodePageRoundTrip, BytesToWideAndBack) {
  const RoundTrip& c = GetParam();
  // Size query, then the conversion; -1 counts the terminating zero.
  const int n = MultiByteToWideChar(c.codePage, 0, c.bytes.c_str(), -1, nullptr, 0);
  ASSERT_EQ(n, static_cast<int>(c.text.size() + 1));
  std::wstring wide(n, L'\0');
  ASSERT_EQ(MultiByteToWideChar(c.codePage, 0, c.bytes.c_str(), -1, wide.data(), n), n);
  EXPECT_EQ(wide.c_str(), c.text);

  const int m = WideCharToMultiByte(c.codePage, 0, c.text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  ASSERT_EQ(m, static_cast<int>(c.bytes.size() + 1));
  std::string back(m, '\0');
  BOOL usedDefault = TRUE;
  ASSERT_EQ(WideCharToMultiByte(c.codePage, 0, c.text.c_str(), -1, back.data(), m, nullptr, &usedDefault), m);
  EXPECT_EQ(back.c_str(), c.bytes);
  EXPECT_FALSE(usedDefault);
}

INSTANTIATE_TEST_SUITE_P(
    Pages, CodePageRoundTrip,
    ::testing::Values(
        // Big5: the full-width comma is A1 41, and 0x5C can be a trail byte.
        RoundTrip{950, "\xA8\x53\xA6\xB3\xA6\x5E\xC0\xB3\xA1\x41", L"沒有回應，"},
        RoundTrip{950, "\xB3\x5C\xA5\x69", L"許可"},
        RoundTrip{949, "\xC7\xD1\xB1\xB9\xBE\xEE", L"한국어"},
        RoundTrip{1252, "Caf\xE9 \x80", L"Café €"}),
    [](const ::testing::TestParamInfo<RoundTrip>& info) {
      return "cp" + std::to_string(info.param.codePage) + "_" + std::to_string(info.index);
    });

TEST(CodePage, AcpFollowsTheMachine) {
  vqwin::ScratchMachine scratch;
  std::string toml = vqwin::DefaultMachineToml();
  toml.replace(toml.find("lang_id = 0x0409\ncode_page = 1252"), 33, "lang_id = 0x0404");
  scratch.Toml(toml);
  scratch.Load();
  EXPECT_EQ(GetACP(), 950u);
  EXPECT_EQ(GetSystemDefaultLangID(), 0x0404);
  EXPECT_EQ(vqwin::ToWide("\xB4\xA3\xA5\xDC"), L"提示");
  EXPECT_TRUE(IsDBCSLeadByte(0xB3));
  EXPECT_FALSE(IsDBCSLeadByte('A'));
}

TEST(CodePage, FailuresAndReplacements) {
  vqwin::ScratchMachine scratch;
  scratch.Load();
  wchar_t wide[4];
  // Too small a buffer, an unknown code page, an invalid sequence asked to fail.
  EXPECT_EQ(MultiByteToWideChar(1252, 0, "abcdef", -1, wide, 4), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(MultiByteToWideChar(12345, 0, "a", -1, wide, 4), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(MultiByteToWideChar(950, MB_ERR_INVALID_CHARS, "\xA1", 1, wide, 4), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
  // A character the code page lacks becomes the default character.
  char out[8];
  BOOL used = FALSE;
  const int n = WideCharToMultiByte(1252, 0, L"a\u4E2Db", 3, out, sizeof out, nullptr, &used);
  EXPECT_EQ(std::string(out, n), "a?b");
  EXPECT_TRUE(used);
}

}  // namespace

// The framework on a simulated PC: texts in its code page, files on its drives.
#include "VclFixture.h"

#include <fstream>
#include <sstream>

#include "vqvcl/Dump.h"
#include "vqwin/TestMachine.h"

namespace {

class MachineTest : public VclTest {
 protected:
  // The default machine with its language and code page replaced.
  void Load(const std::string& langId, const std::string& codePage) {
    std::string toml = vqwin::DefaultMachineToml();
    auto replace = [&toml](const std::string& from, const std::string& to) {
      const size_t at = toml.find(from);
      ASSERT_NE(at, std::string::npos) << from;
      toml.replace(at, from.size(), to);
    };
    replace("lang_id = 0x0409", "lang_id = " + langId);
    replace("code_page = 1252", "code_page = " + codePage);
    scratch_.Toml(toml);
    scratch_.Load();
    VclTest::SetUp();
  }
  void SetUp() override {}
  vqwin::ScratchMachine scratch_;
};

TEST_F(MachineTest, WideCaptionsBecomeBig5OnATraditionalChineseSystem) {
  Load("0x0404", "950");
  ASSERT_EQ(GetACP(), 950u);
  TTestForm* f = nullptr;
  Application->CreateForm(__classid(TTestForm), &f);
  f->Caption = L"\u667A\u6167\u5361";  // three characters, two bytes each
  const AnsiString c = f->Caption;
  ASSERT_EQ(c.Length(), 6);
  for (int i = 1; i <= 6; i += 2) EXPECT_GE(static_cast<unsigned char>(c[i]), 0x81) << i;
  EXPECT_EQ(WideString(c).wstr(), L"\u667A\u6167\u5361");
  EXPECT_NE(vcl::DumpForm(f).find("caption=\"\xE6\x99\xBA\xE6\x85\xA7\xE5\x8D\xA1\""), std::string::npos);
  // A box with Big5 text is recorded in UTF-8.
  MessageBoxA(nullptr, c.c_str(), "x", MB_OK);
  EXPECT_EQ(Records().back().text, "\xE6\x99\xBA\xE6\x85\xA7\xE5\x8D\xA1");
}

TEST_F(MachineTest, SaveToFileWritesEachLineWithCrLfOrRaisesTheFileError) {
  Load("0x0409", "1252");
  TStringList lines;
  lines.Add("Target Reader : VQ Nano");
  lines.Add("");
  lines.Add("-> [Result] : done.");
  ASSERT_TRUE(CreateDir("C:\\Logs"));
  EXPECT_FALSE(CreateDir("C:\\Logs"));
  lines.SaveToFile("C:\\Logs\\Diagnostics Log.log");
  EXPECT_TRUE(FileExists("C:\\LOGS\\diagnostics log.LOG"));
  EXPECT_TRUE(DirectoryExists("C:\\Logs"));
  std::ifstream in(scratch_.folder() / "C" / "Logs" / "Diagnostics Log.log", std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  EXPECT_EQ(bytes.str(), "Target Reader : VQ Nano\r\n\r\n-> [Result] : done.\r\n");
  TStringList back;
  back.LoadFromFile("C:\\Logs\\Diagnostics Log.log");
  EXPECT_EQ(back.Count, 3);
  EXPECT_EQ(back[2], "-> [Result] : done.");
  EXPECT_THROW(lines.SaveToFile("C:\\No Such Folder\\x.log"), EFCreateError);
  EXPECT_THROW(back.LoadFromFile("C:\\missing.log"), EFOpenError);
}

}  // namespace

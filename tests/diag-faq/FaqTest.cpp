// The FAQ button: where the document and the viewer are looked for, the copy
// under the Windows folder, the viewer's command line and the messages.
#include "DiagProgram.h"

#include <vqwin/FileSystem.h>
#include <vqwin/MessageBox.h>
#include <vqwin/Started.h>
#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace {

const char kEngArgs[] = "C:\\WINDOWS\\Temp\\FAQ\\VQ_PCSC_Reader_FAQ_ENG.pdf -n 1 -NoRegister";
const char kChtArgs[] = "C:\\WINDOWS\\Temp\\FAQ\\VQ_PCSC_Reader_FAQ_CHT.pdf -n 1 -NoRegister";
const char kEngCopy[] = "C:\\WINDOWS\\Temp\\FAQ\\VQ_PCSC_Reader_FAQ_ENG.pdf";
const char kChtCopy[] = "C:\\WINDOWS\\Temp\\FAQ\\VQ_PCSC_Reader_FAQ_CHT.pdf";

// Message texts are Big5 bytes whatever the machine's code page.
std::string Big5(const char* utf8) { return vqwin::FromUtf8(utf8, 950); }

class Faq : public diagtest::DiagProgram {
 protected:
  void SetUp() override { vqwin::ClearMessageBoxRecord(); }

  void Put(const std::string& path, const std::string& bytes) {
    machine().machine().files().WriteBytes(path, bytes);
  }
  bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }
  std::string Read(const std::string& path) {
    std::ifstream in(machine().machine().files().Resolve(path).hostPath, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  void Click() { SelfForm->bbtn_FAQ->Click(); }

  // The installed layout: program, FAQ folder and viewer side by side.
  void Installed(const char* documents = "ENG") {
    spec().programPath = "C:\\Program Files\\VQUSB\\vqdiag.exe";
    for (const char* p = documents; *p; p += 3)
      Put(std::string("C:\\Program Files\\VQUSB\\FAQ\\VQ_PCSC_Reader_FAQ_") + std::string(p, 3) + ".pdf", "doc");
    Put("C:\\Program Files\\VQUSB\\Foxit Reader\\Foxit.exe", "MZ");
  }

  struct Box {
    std::string text, caption;
  };
  std::vector<Box> Boxes() {
    std::vector<Box> boxes;
    for (const vqwin::MessageBoxCall& call : vqwin::MessageBoxRecord()) {
      EXPECT_EQ(call.owner, nullptr);
      EXPECT_EQ(call.type, static_cast<UINT>(MB_OK | MB_ICONERROR));
      boxes.push_back({call.text, call.caption});
    }
    return boxes;
  }
};

struct LayoutCase {
  const char* label;
  const char* programPath;
  const char* faqFolder;
  const char* firstViewer;   // folder of the first candidate
  const char* secondViewer;  // folder of the second candidate
};

const LayoutCase kLayouts[] = {
    {"Medium", "D:\\SOFTWARE\\Diag\\vqdiag.exe", "D:\\FAQ", "D:\\SOFTWARE\\Foxit Reader",
     "D:\\SOFTWARE\\Diag\\Foxit Reader"},
    {"Installed", "C:\\Program Files\\VQUSB\\vqdiag.exe", "C:\\Program Files\\VQUSB\\FAQ",
     "C:\\Program Files\\VQUSB\\SOFTWARE\\Foxit Reader", "C:\\Program Files\\VQUSB\\Foxit Reader"},
    {"LowerCaseIsNoMatch", "D:\\software\\Diag\\vqdiag.exe", "D:\\software\\Diag\\FAQ",
     "D:\\software\\Diag\\SOFTWARE\\Foxit Reader", "D:\\software\\Diag\\Foxit Reader"},
    {"FirstMatchCounts", "D:\\SOFTWARE\\Setup\\SOFTWARE\\vqdiag.exe", "D:\\FAQ", "D:\\SOFTWARE\\Foxit Reader",
     "D:\\SOFTWARE\\Setup\\SOFTWARE\\Foxit Reader"},
    {"MatchInsideAName", "E:\\MYSOFTWAREDISK\\vqdiag.exe", "E:\\MYFAQ", "E:\\MYSOFTWARE\\Foxit Reader",
     "E:\\MYSOFTWAREDISK\\Foxit Reader"},
    // A Big5 file name whose second byte is a backslash (許 = B3 5C).
    {"TrailByteBackslash", "C:\\Tools\\\xB3\\.exe", "C:\\Tools\\FAQ", "C:\\Tools\\SOFTWARE\\Foxit Reader",
     "C:\\Tools\\Foxit Reader"},
};

void PrintTo(const LayoutCase& c, std::ostream* os) { *os << c.label; }

enum class Viewer { First, Second, Both };

std::string LayoutName(const ::testing::TestParamInfo<std::tuple<LayoutCase, Viewer>>& info) {
  static const char* const kViewer[] = {"First", "Second", "Both"};
  return std::string(std::get<0>(info.param).label) + "_" + kViewer[static_cast<int>(std::get<1>(info.param))];
}

class FaqLayout : public Faq, public ::testing::WithParamInterface<std::tuple<LayoutCase, Viewer>> {};

TEST_P(FaqLayout, FindsDocumentAndViewerFromTheProgramFolder) {
  const LayoutCase& c = std::get<0>(GetParam());
  const Viewer viewer = std::get<1>(GetParam());
  spec().locale.ansiCodePage = 950;  // English texts; Big5 paths
  spec().programPath = c.programPath;
  Put(std::string(c.faqFolder) + "\\VQ_PCSC_Reader_FAQ_ENG.pdf", "english faq");
  if (viewer != Viewer::Second) Put(std::string(c.firstViewer) + "\\Foxit.exe", "MZ");
  if (viewer != Viewer::First) Put(std::string(c.secondViewer) + "\\Foxit.exe", "MZ");
  Create();

  Click();

  EXPECT_TRUE(Boxes().empty());
  const std::string folder = viewer == Viewer::Second ? c.secondViewer : c.firstViewer;
  const std::vector<vqwin::StartedProgram> started = vqwin::StartedPrograms();
  ASSERT_EQ(started.size(), 1u);
  EXPECT_EQ(started[0].call, "ShellExecuteA");
  EXPECT_EQ(started[0].verb, "open");
  EXPECT_EQ(started[0].file, folder + "\\Foxit.exe");
  // The document path stands unquoted before the switches.
  EXPECT_EQ(started[0].parameters, kEngArgs);
  EXPECT_EQ(started[0].directory, folder);
  EXPECT_EQ(started[0].show, SW_SHOWNORMAL);
  EXPECT_EQ(Read(kEngCopy), "english faq");
}

INSTANTIATE_TEST_SUITE_P(Layouts, FaqLayout,
                         ::testing::Combine(::testing::ValuesIn(kLayouts),
                                            ::testing::Values(Viewer::First, Viewer::Second, Viewer::Both)),
                         LayoutName);

struct LanguageCase {
  const char* label;
  WORD langId;
  UINT codePage;
  const char* own;     // the document of the language
  const char* other;
  const char* ownCopy;
  const char* otherCopy;
  const char* arguments;
};

const LanguageCase kLanguages[] = {
    {"English", 0x0409, 1252, "ENG", "CHT", kEngCopy, kChtCopy, kEngArgs},
    {"TraditionalChinese", 0x0404, 950, "CHT", "ENG", kChtCopy, kEngCopy, kChtArgs},
    {"ChineseHongKong", 0x0C04, 950, "ENG", "CHT", kEngCopy, kChtCopy, kEngArgs},
    {"ChinesePrc", 0x0804, 936, "ENG", "CHT", kEngCopy, kChtCopy, kEngArgs},
};

void PrintTo(const LanguageCase& c, std::ostream* os) { *os << c.label; }

class FaqLanguage : public Faq, public ::testing::WithParamInterface<LanguageCase> {
 protected:
  void SetUpLanguage() {
    spec().locale.langId = GetParam().langId;
    spec().locale.ansiCodePage = GetParam().codePage;
  }
};

TEST_P(FaqLanguage, OnlyTheLanguagesDocumentIsLookedForDeletedAndOpened) {
  const LanguageCase& c = GetParam();
  SetUpLanguage();
  Installed(c.own);
  Create();
  Click();
  ASSERT_EQ(vqwin::StartedPrograms().size(), 1u);
  EXPECT_EQ(vqwin::StartedPrograms()[0].parameters, c.arguments);

  // The other language's document alone is not enough.
  vqwin::ClearStartedPrograms();
  DeleteFileA((std::string("C:\\Program Files\\VQUSB\\FAQ\\VQ_PCSC_Reader_FAQ_") + c.own + ".pdf").c_str());
  Put(std::string("C:\\Program Files\\VQUSB\\FAQ\\VQ_PCSC_Reader_FAQ_") + c.other + ".pdf", "doc");
  Click();
  EXPECT_TRUE(vqwin::StartedPrograms().empty());
  EXPECT_EQ(Boxes().size(), 1u);
}

TEST_P(FaqLanguage, DeletesTheOldCopyOfItsOwnDocumentOnly) {
  const LanguageCase& c = GetParam();
  SetUpLanguage();
  Installed("ENGCHT");
  Put(kEngCopy, "old");
  Put(kChtCopy, "old");
  // The copy cannot replace either document: what is left shows the delete.
  spec().fileFailures.push_back({"C:\\WINDOWS\\Temp\\FAQ\\*.pdf", "copy", ERROR_ACCESS_DENIED});
  Create();
  Click();
  EXPECT_FALSE(Exists(c.ownCopy));
  EXPECT_EQ(Read(c.otherCopy), "old");
  // The copy's failure is silent; the viewer is started on the missing copy.
  EXPECT_TRUE(Boxes().empty());
  ASSERT_EQ(vqwin::StartedPrograms().size(), 1u);
  EXPECT_EQ(vqwin::StartedPrograms()[0].parameters, c.arguments);
}

INSTANTIATE_TEST_SUITE_P(Languages, FaqLanguage, ::testing::ValuesIn(kLanguages),
                         [](const auto& info) { return std::string(info.param.label); });

struct MessageCase {
  const char* label;
  bool chinese;
  const char* caption;
  const char* documentMissing;
  const char* viewerMissing;
  const char* startFailed;  // prefix before the system's text
};

const MessageCase kMessages[] = {
    {"English", false, "Error", "Open file fail，VQ_PCSC_Reader_FAQ_ENG.pdf not found !",
     "Open file fail，Foxit.exe not found !", "Open file fail , "},
    {"TraditionalChinese", true, "錯誤訊息", "檔案開啟失敗，VQ_PCSC_Reader_FAQ_CHT.pdf 檔案不存在 !",
     "檔案開啟失敗，Foxit.exe 檔案不存在 !", "檔案開啟失敗 , "},
};

void PrintTo(const MessageCase& c, std::ostream* os) { *os << c.label; }

class FaqMessages : public Faq, public ::testing::WithParamInterface<MessageCase> {
 protected:
  void SetUpLanguage() {
    if (GetParam().chinese) Taiwanese();
  }
  const char* Doc() const { return GetParam().chinese ? "CHT" : "ENG"; }
};

TEST_P(FaqMessages, DocumentMissingStopsBeforeTheCopy) {
  SetUpLanguage();
  Installed("");
  Create();
  Click();
  const std::vector<Box> boxes = Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, Big5(GetParam().documentMissing));
  EXPECT_EQ(boxes[0].caption, Big5(GetParam().caption));
  EXPECT_FALSE(Exists("C:\\WINDOWS\\Temp\\FAQ"));
  EXPECT_TRUE(vqwin::StartedPrograms().empty());
}

TEST_P(FaqMessages, ViewerMissingStillCopiesAndReportsTheFailedStart) {
  SetUpLanguage();
  Installed(Doc());
  DeleteFileA("C:\\Program Files\\VQUSB\\Foxit Reader\\Foxit.exe");
  Create();
  Click();
  const std::vector<Box> boxes = Boxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].text, Big5(GetParam().viewerMissing));
  EXPECT_EQ(boxes[1].text,
            Big5(GetParam().startFailed) + "The system cannot find the file specified.\r\n");
  EXPECT_EQ(boxes[1].caption, Big5(GetParam().caption));
  EXPECT_TRUE(Exists(GetParam().chinese ? kChtCopy : kEngCopy));
  EXPECT_TRUE(vqwin::StartedPrograms().empty());
}

TEST_P(FaqMessages, WindowsFolderTooLongForItsBufferIsAFailedStart) {
  SetUpLanguage();
  Installed(Doc());
  machine().os().windowsDir = "C:\\" + std::string(260, 'W');
  Create();
  Click();
  const std::vector<Box> boxes = Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, Big5(GetParam().startFailed) + "The filename or extension is too long.\r\n");
  EXPECT_FALSE(Exists("C:\\Temp"));
  EXPECT_TRUE(vqwin::StartedPrograms().empty());
}

INSTANTIATE_TEST_SUITE_P(Languages, FaqMessages, ::testing::ValuesIn(kMessages),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(Faq, EachClickCopiesTheDocumentAnew) {
  Installed();
  Create();
  Click();
  EXPECT_EQ(Read(kEngCopy), "doc");

  Put("C:\\Program Files\\VQUSB\\FAQ\\VQ_PCSC_Reader_FAQ_ENG.pdf", "revised");
  Put("C:\\Program Files\\VQUSB\\FAQ\\Sub\\extra.txt", "x");
  Click();
  EXPECT_EQ(Read(kEngCopy), "revised");
  EXPECT_EQ(Read("C:\\WINDOWS\\Temp\\FAQ\\Sub\\extra.txt"), "x");

  // The copy folder removed between clicks is made again.
  std::filesystem::remove_all(machine().machine().files().Resolve("C:\\WINDOWS\\Temp\\FAQ").hostPath);
  Click();
  EXPECT_EQ(Read(kEngCopy), "revised");
  EXPECT_EQ(vqwin::StartedPrograms().size(), 3u);
  EXPECT_TRUE(Boxes().empty());
}

}  // namespace

// The welcome window: Windows classification, language, design values,
// hover colours, No and the keys.
#include "InstallerFixture.h"

#include <vqvcl/Input.h>

namespace setuptest {
namespace {

struct KindCase {
  const char* name;
  std::string os;
  int kind;
};

void PrintTo(const KindCase& c, std::ostream* os) { *os << c.name; }

class OsKind : public Installer, public ::testing::WithParamInterface<KindCase> {};

TEST_P(OsKind, FromTheVersionQuery) {
  Machine(GetParam().os);
  EXPECT_EQ(GetOsKind(), GetParam().kind);
}

INSTANTIATE_TEST_SUITE_P(
    Windows, OsKind,
    ::testing::Values(KindCase{"Win95", kWin95, 1}, KindCase{"Win98", kWin98, 2}, KindCase{"WinMe", kWinMe, 3},
                      KindCase{"Nt4", kNt4, 4},
                      KindCase{"Nt351", "[os]\nplatform = \"nt\"\nmajor = 3\nminor = 51\nbuild = 1057\n", 4},
                      KindCase{"Win2000", kWin2000, 5}, KindCase{"WinXp", kWinXp, 6},
                      KindCase{"Win2003", kWin2003, 6}, KindCase{"Vista", kVista, 7},
                      KindCase{"Other9x", "[os]\nplatform = \"9x\"\nmajor = 4\nminor = 20\nbuild = 1\n", 9},
                      KindCase{"Later9x", "[os]\nplatform = \"9x\"\nmajor = 4\nminor = 91\nbuild = 1\n", 9},
                      KindCase{"Win32s", "[os]\nplatform = \"win32s\"\nmajor = 3\nminor = 10\nbuild = 1\n", 9},
                      KindCase{"NoVersionAnswer", std::string(kWinXp) + "version_query = \"none\"\n", 9},
                      KindCase{"BasicRecordOnly", std::string(kNt4) + "version_query = \"basic\"\n", 4}),
    [](const auto& info) { return std::string(info.param.name); });

struct LanguageCase {
  const char* name;
  std::string os, locale;
  const char *caption, *title, *yes, *no;
  bool yesVisible;
};

void PrintTo(const LanguageCase& c, std::ostream* os) { *os << c.name; }

class WelcomeLanguage : public Installer, public ::testing::WithParamInterface<LanguageCase> {};

TEST_P(WelcomeLanguage, CaptionsAndTheYesLabel) {
  const LanguageCase& c = GetParam();
  Machine(c.os, c.locale);
  Create();
  EXPECT_EQ(Utf8(SetupForm->Caption), c.caption);
  EXPECT_EQ(Utf8(SetupForm->LblBK->Caption), c.title);
  EXPECT_EQ(Utf8(SetupForm->lblYes->Caption), c.yes);
  EXPECT_EQ(Utf8(SetupForm->lblNo->Caption), c.no);
  EXPECT_EQ(SetupForm->lblYes->Visible, c.yesVisible);
  // Every Korean slot has its text after the start, also rows no window shows in Korean.
  for (int row = 0; row < TextRowCount; ++row) EXPECT_NE(std::wstring(SetupTexts[row].Text[2]), L"????") << row;
}

INSTANTIATE_TEST_SUITE_P(
    Systems, WelcomeLanguage,
    ::testing::Values(
        LanguageCase{"English98", kWin98, kEnglish, "VQUSB Series Reader Driver Setup Program v6.5",
                     "VQ480T/VQnano/Corvel Driver Setup", "&Yes", "&No", true},
        LanguageCase{"Taiwan98", kWin98, kTaiwan, "VQUSB系列驅動程式安裝程式 v6.5", "VQ480T/VQnano/Corvel 驅動程式安裝",
                     "是(&Y)", "否(&N)", true},
        LanguageCase{"KoreanMeInEnglish", kWinMe, kKorean, "VQUSB Series Reader Driver Setup Program v6.5",
                     "VQ480T/VQnano/Corvel Driver Setup", "&Yes", "&No", true},
        LanguageCase{"English95HidesYes", kWin95, kEnglish, "VQUSB Series Reader Driver Setup Program v6.5",
                     "VQ480T/VQnano/Corvel Driver Setup", "&Yes", "&No", false},
        LanguageCase{"Taiwan95KeepsYes", kWin95, kTaiwan, "VQUSB系列驅動程式安裝程式 v6.5",
                     "VQ480T/VQnano/Corvel 驅動程式安裝", "是(&Y)", "否(&N)", true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Installer, WelcomeWindowDesignAndShow) {
  Machine(kWin98, kEnglish, "[screen]\nwidth = 800\nheight = 600\n");
  Create();
  SetupForm->Show();
  EXPECT_EQ(SetupForm->ClientWidth, 525);
  EXPECT_EQ(SetupForm->ClientHeight, 186);
  EXPECT_EQ(SetupForm->Left, (800 - SetupForm->Width) / 2);
  EXPECT_EQ(SetupForm->Top, (600 - SetupForm->Height) / 2);
  EXPECT_EQ(SetupForm->Color, (TColor)0xC2DAD0);
  EXPECT_EQ(SetupForm->LblBK->Font->Color, clGreen);
  EXPECT_EQ(SetupForm->lblYes->Font->Color, (TColor)0x18A652);
  EXPECT_EQ(SetupForm->lblNo->Font->Color, (TColor)0x18A652);
  EXPECT_EQ(SetupForm->Image1->Width, 530);
  EXPECT_EQ(SetupForm->ProgressBar1->Max, 4);
  EXPECT_FALSE(SetupForm->DelayTimer->Enabled);
  EXPECT_EQ(SetupForm->DelayTimer->Interval, 1000u);
}

TEST_F(Installer, HoverColoursAndStyles) {
  Machine(kWin98);
  Create();
  SetupForm->Show();
  const TFontStyles strong = TFontStyles() << fsBold << fsUnderline;
  ASSERT_EQ(vcl::UserHover(SetupForm->lblYes), "");
  EXPECT_EQ(SetupForm->lblYes->Font->Color, clBlue);
  EXPECT_TRUE(SetupForm->lblYes->Font->Style == strong);
  // Straight from Yes to No: Yes gets its colour back but stays bold and underlined.
  ASSERT_EQ(vcl::UserHover(SetupForm->lblNo), "");
  EXPECT_EQ(SetupForm->lblNo->Font->Color, clBlue);
  EXPECT_TRUE(SetupForm->lblNo->Font->Style == strong);
  EXPECT_EQ(SetupForm->lblYes->Font->Color, (TColor)0x18A652);
  EXPECT_TRUE(SetupForm->lblYes->Font->Style == strong);
  Screen->Cursor = crHourGlass;
  ASSERT_EQ(vcl::UserHover(SetupForm->Image1), "");
  EXPECT_EQ(Screen->Cursor, crDefault);
  for (TLabel* label : {SetupForm->lblYes, SetupForm->lblNo}) {
    EXPECT_EQ(label->Font->Color, (TColor)0x18A652);
    EXPECT_TRUE(TFontStyles(label->Font->Style).Empty());
  }
}

TEST_F(Installer, NoShiftsTheLabelWhileMessagesRunThenEnds) {
  Machine(kWin98);
  Create();
  SetupForm->Show();
  // A timer that looks at the label while No waits.
  TTimer* probe = new TTimer(SetupForm);
  probe->Interval = 1;
  std::vector<int> seen;
  probe->OnTimer = [&seen](TObject*) { seen.push_back(SetupForm->lblNo->Left * 1000 + SetupForm->lblNo->Top); };
  probe->Enabled = true;
  const DWORD start = GetTickCount();
  SetupForm->lblNoClick(SetupForm->lblNo);
  EXPECT_EQ(GetTickCount() - start, 200u);  // pressed for 200 ms, looked at every millisecond
  ASSERT_FALSE(seen.empty());
  for (int value : seen) EXPECT_EQ(value, 397 * 1000 + 135);
  EXPECT_EQ(SetupForm->lblNo->Left, 396);
  EXPECT_EQ(SetupForm->lblNo->Top, 134);
  EXPECT_TRUE(Application->Terminated);
}

TEST_F(Installer, KeysReachYesAndNoWhateverTheLabels) {
  Machine(kWin95);
  Create();
  SetupForm->Show();
  ASSERT_FALSE(SetupForm->lblYes->Visible);
  vcl::UserKey(SetupForm, 'x');
  EXPECT_TRUE(Dialogs().empty());
  EXPECT_FALSE(Application->Terminated);
  vcl::UserKey(SetupForm, 'y');
  ASSERT_EQ(Dialogs().size(), 1u);
  EXPECT_EQ(Dialogs()[0], "messagebox|Error|Cannot Support on Windows 95!");
  EXPECT_TRUE(Application->Terminated);
}

TEST_F(Installer, KeyNEndsTheProgram) {
  Machine(kWin98);
  Create();
  SetupForm->Show();
  vcl::UserKey(SetupForm, 'N');
  EXPECT_TRUE(Application->Terminated);
  EXPECT_FALSE(Exists("C:\\WINDOWS\\inf\\VQUSB.inf"));
}

}  // namespace
}  // namespace setuptest

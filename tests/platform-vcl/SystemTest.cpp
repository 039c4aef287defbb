// AnsiString and the number and string helpers.
#include "VclFixture.h"

namespace {

TEST(AnsiStringTest, IndexesFromOneAndRefusesOutOfRange) {
  AnsiString s = "C:\\VQNANOS_V2\\";
  EXPECT_EQ(s[1], 'C');
  EXPECT_EQ(s[s.Length()], '\\');
  EXPECT_THROW(s[0], ERangeError);
  EXPECT_THROW(s[s.Length() + 1], ERangeError);
  EXPECT_EQ(s.Pos("SOFTWARE"), 0);
  EXPECT_EQ(s.Pos("NANO"), 6);
  EXPECT_EQ(s.SubString(4, 9), "VQNANOS_V");
  EXPECT_EQ(s.SubString(40, 2), "");
  EXPECT_EQ(AnsiString("vqnanos").UpperCase(), "VQNANOS");
  EXPECT_EQ(AnsiString().sprintf("0x%08X", 0x8010001Du), "0x8010001D");
  EXPECT_STREQ(AnsiString().c_str(), "");
}

TEST(AnsiStringTest, WideTextGoesThroughTheAnsiCodePage) {
  ASSERT_EQ(GetACP(), 1252u);
  const AnsiString a = L"caf\u00E9";
  EXPECT_EQ(a.Length(), 4);
  EXPECT_EQ(static_cast<unsigned char>(a[4]), 0xE9);
  EXPECT_EQ(WideString(a).wstr(), L"caf\u00E9");
}

TEST(SysUtilsTest, StrToIntReadsDecimalAndHexAndRefusesTheRest) {
  struct {
    const char* text;
    bool ok;
    int value;
  } cases[] = {{"5000", true, 5000},     {"-5", true, -5},         {"  12", true, 12},
               {"$FF", true, 255},       {"0x10", true, 16},       {"2147483647", true, 2147483647},
               {"", false, 0},           {"12a", false, 0},        {"12 ", false, 0},
               {"2147483648", false, 0}, {"-", false, 0},          {"1.5", false, 0}};
  for (auto c : cases) {
    if (c.ok) {
      EXPECT_EQ(StrToInt(c.text), c.value) << c.text;
    } else {
      try {
        StrToInt(c.text);
        ADD_FAILURE() << c.text;
      } catch (EConvertError& e) {
        EXPECT_EQ(e.Message, AnsiString("'") + c.text + "' is not a valid integer value");
      }
    }
    EXPECT_EQ(StrToIntDef(c.text, -99), c.ok ? c.value : -99);
  }
  EXPECT_EQ(IntToStr(-42), "-42");
  EXPECT_EQ(IntToHex(0x1F, 4), "001F");
}

TEST(StringsTest, TextJoinsLinesEachEndedByCrLf) {
  TStringList l;
  l.Add("a");
  l.Add("");
  l.Add("b");
  EXPECT_EQ(l.Text, "a\r\n\r\nb\r\n");
  l.Text = "x\r\ny\nz";
  EXPECT_EQ(l.Count, 3);
  EXPECT_EQ(l[2], "z");
  EXPECT_EQ(l.IndexOf("Y"), 1);
  EXPECT_THROW((void)AnsiString(l.Strings[3]), EListError);
  l.Strings[0] = "w";
  EXPECT_EQ(l[0], "w");
}

}  // namespace

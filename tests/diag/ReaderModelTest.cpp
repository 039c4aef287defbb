// Reader model catalogue: pre-selection from the program's folder, the
// reader-name prefix test and the match of listed readers.
#include "DiagMachine.h"
#include "ReaderModel.h"

#include <gtest/gtest.h>

namespace {

struct FolderCase {
  const char* programPath;
  int model;
};

TEST(Preselection, FolderNameSelectsModel) {
  const FolderCase cases[] = {
      {"C:\\A\\VQNANOS_V2\\vqdiag.exe", 3},
      {"C:\\A\\vqnanos\\vqdiag.exe", 3},      // upper-cased before the tests
      {"C:\\VQNANO\\vqdiag.exe", 2},
      {"C:\\VQNANOS\\vqdiag.exe", 3},         // passes VQNANO and VQNANOS; the last wins
      {"D:\\VQVASK\\vqdiag.exe", 5},
      {"D:\\Medium\\VQBREL_X\\vqdiag.exe", 5},
      {"C:\\VQCCID\\vqdiag.exe", 0},
      {"C:\\Program Files\\VQ480T Reader\\vqdiag.exe", 1},
      {"C:\\CorvelDravo\\vqdiag.exe", 4},
      {"C:\\PENVOLUMO2\\vqdiag.exe", 6},
      {"C:\\VQTORQ\\vqdiag.exe", 7},
      {"C:\\VQSLEV\\vqdiag.exe", 8},
      {"C:\\VQ48\\vqdiag.exe", -1},           // shorter than the code VQ480T
      {"C:\\vqdiag.exe", -1},                 // root of a drive: the name is "C:"
      {"C:\\VQNANOS\\Tools\\vqdiag.exe", -1}, // only the innermost folder counts
      {"C:\\Program Files\\VQUSB\\vqdiag.exe", -1},
      {"C:\\A\\XVQNANO\\vqdiag.exe", -1},     // the code must start the name
      {"vqdiag.exe", -1},
      {"", -1},
  };
  for (const FolderCase& c : cases)
    EXPECT_EQ(ReaderModelFromProgramPath(c.programPath), c.model) << c.programPath;
  EXPECT_EQ(ReaderModelFromProgramPath(nullptr), -1);
}

TEST(Preselection, VeryLongFolderNameIsCut) {
  std::string path = "C:\\VQSLEV" + std::string(600, 'X') + "\\vqdiag.exe";
  EXPECT_EQ(ReaderModelFromProgramPath(path.c_str()), 8);
}

struct CodePageCase {
  UINT codePage;
  const char* programPath;
  int model;
};

// On a Big5 system the second byte of a two-byte character may be 0x5C and
// is no backslash (the folder VQNANOS\xB3\x5C, the program \xA5\x5C.exe).
TEST(Preselection, SecondByteOfATwoByteCharacterIsNoBackslash) {
  const CodePageCase cases[] = {
      {950, "C:\\A\\VQNANOS\xB3\\\\vqdiag.exe", 3},
      {950, "C:\\VQ480T\\\xA5\\.exe", 1},
      {950, "C:\\\xB3\\VQSLEV\\vqdiag.exe", -1},  // the folder begins with the character
      {1252, "C:\\A\\VQNANOS\xB3\\\\vqdiag.exe", -1},
      {1252, "C:\\VQ480T\\\xA5\\.exe", -1},
  };
  diagtest::ScratchMachine machine;
  for (const CodePageCase& c : cases) {
    machine.spec().locale.ansiCodePage = c.codePage;
    EXPECT_EQ(ReaderModelFromProgramPath(c.programPath), c.model) << c.codePage << " " << c.programPath;
  }
}

struct PrefixCase {
  const char* name;
  const char* prefix;
  int length;
  bool match;
};

TEST(ReaderPrefix, ComparesLeadingBytesCaseSensitively) {
  const PrefixCase cases[] = {
      {"TERVANE VQ480T 0", "TERVANE VQ480T", 14, true},
      {"Tervane VQ480T 0", "TERVANE VQ480T", 14, false},
      {"TERVANE PENVO 0", "TERVANE PENVOLUMO", 13, true},
      {"TERVANE PENVO 0", "TERVANE PENVOLUMO", 17, false},
      {"TERVANE VQ48", "TERVANE VQ480T", 14, false},  // shorter than the prefix
      {"TERVANE VQ480T", "TERVANE VQ480T", 14, true},
      {"", "TERVANE VQ480T", 14, false},
      {"X", "", 0, true},
  };
  for (const PrefixCase& c : cases)
    EXPECT_EQ(ReaderNameHasPrefix(c.name, c.prefix, c.length), c.match) << c.name << " / " << c.prefix;
  EXPECT_FALSE(ReaderNameHasPrefix(nullptr, "TERVANE", 7));
}

struct MatchCase {
  int model;
  const char* name;
  int result;  // 0 none, 1 prefix, 2 prefix and sibling
};

TEST(ReaderMatch, PrefixesAndSiblings) {
  const MatchCase cases[] = {
      {0, "TERVANE CCIDIFD 0", 1},
      {1, "TERVANE VQ480T 0", 1},
      {1, "Tervane VQ480T 0", 0},
      {1, "TERVANE VQNANO 0", 0},
      {2, "TERVANE VQNANO 0", 1},
      {3, "TERVANE VQNANO 0", 1},
      {4, "TERVANE CORVEL 0", 1},
      {5, "TERVANE VQVASKT 0", 1},
      {5, "TERVANE VQVASKTSAM 0", 2},
      {6, "TERVANE PENVO 0", 1},
      {6, "TERVANE PENVOLUMO 0", 1},
      {7, "TERVANE VQTORQT 0", 1},
      {7, "TERVANE VQTORQS 0", 1},
      {7, "TERVANE VQTORQV_CL 0", 2},
      {7, "TERVANE VQTORQS_CL 0", 2},
      {7, "TERVANE VQTORQX 0", 0},
      {8, "TERVANE VQslev 0", 1},
      {8, "TERVANE VQslev SAM 0", 2},
      {8, "TERVANE VQSLEV 0", 0},
      {9, "TERVANE VQ480T 0", 0},
      {-1, "TERVANE VQ480T 0", 0},
  };
  for (const MatchCase& c : cases)
    EXPECT_EQ(MatchReaderName(c.model, c.name), c.result) << c.model << " " << c.name;
}

TEST(Catalogue, SecondSlotModelsAreTheIfdModels) {
  for (int i = 0; i < ReaderModelCount; ++i) {
    EXPECT_EQ(ReaderModel[i].SecondSlot, ReaderModel[i].SecondIsIfd) << i;
    EXPECT_EQ(ReaderModel[i].SecondSlot, i == 5 || i == 7 || i == 8) << i;
    if (!ReaderModel[i].SecondIsIfd) {
      EXPECT_STREQ(ReaderModel[i].SecondBase, ReaderModel[i].DriverBase) << i;
    }
  }
}

}  // namespace

// The log window's layout and its ".log" file; the about box.
#include "DiagProgram.h"

#include <vqwin/FileSystem.h>
#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

class LogWindow : public diagtest::DiagProgram {
 protected:
  void Put(const std::string& path, const std::string& bytes) {
    machine().machine().files().WriteBytes(path, bytes);
  }
  bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
  }
  std::string Read(const std::string& path) {
    std::ifstream in(machine().machine().files().Resolve(path).hostPath, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  void SetReport(std::initializer_list<std::string> lines) {
    LogForm->DiagnosticMemo->Lines->Clear();
    for (const std::string& line : lines) LogForm->DiagnosticMemo->Lines->Add(line);
  }
  // Presses Save with the dialog answered by `fileName` (empty: the proposed name).
  void Save(const std::string& fileName) {
    vcl::CurrentDialogScript().Queue({IDOK, fileName});
    LogForm->bbtnSave->Click();
  }
  // The names in a folder of the machine, sorted.
  std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry :
         std::filesystem::directory_iterator(machine().machine().files().Resolve(folder).hostPath))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  std::vector<vcl::DialogRecord> MessageBoxes() {
    std::vector<vcl::DialogRecord> boxes;
    for (const auto& r : vcl::CurrentDialogScript().Records())
      if (r.kind == vcl::DialogKind::MessageBox) boxes.push_back(r);
    return boxes;
  }
};

TEST_F(LogWindow, StartsWithOneEmptyLineAndItsDesign) {
  Create();
  TMemo* memo = LogForm->DiagnosticMemo;
  ASSERT_EQ(memo->Lines->Count, 1);
  EXPECT_EQ(Str(memo->Lines->Get(0)), "");
  EXPECT_TRUE(memo->ReadOnly);
  EXPECT_EQ(memo->ScrollBars, ssBoth);
  EXPECT_EQ(Str(memo->Font->Name), "Courier New");
  EXPECT_TRUE(memo->Font->Style.get().Contains(fsItalic));
  EXPECT_EQ(LogForm->Width, 729);
  EXPECT_EQ(LogForm->Height, 568);
  EXPECT_EQ(Str(LogForm->LogSaveDialog->FileName), "Diagnostics Log.log");
  EXPECT_EQ(Str(LogForm->LogSaveDialog->Filter), "Log File|*.log");
  EXPECT_EQ(Str(LogForm->LogSaveDialog->DefaultExt), "");
}

TEST_F(LogWindow, ResizeKeepsButtonsSideBySideAndTheMemoFilling) {
  Create();
  LogForm->Show();  // the window gets resize events once it is shown
  const int sizes[][2] = {{729, 568}, {400, 300}, {1000, 700}, {731, 569}};
  for (const auto& size : sizes) {
    LogForm->SetBounds(0, 0, size[0], size[1]);
    const int half = (LogForm->Panel2->Width - 4) / 2;
    EXPECT_EQ(LogForm->bbtnSave->Width, half) << size[0];
    EXPECT_EQ(LogForm->bbtnClose->Width, half) << size[0];
    EXPECT_EQ(LogForm->bbtnSave->Height, 45) << size[0];
    EXPECT_EQ(LogForm->bbtnClose->Height, 45) << size[0];
    EXPECT_EQ(LogForm->bbtnSave->Left, 2);
    EXPECT_EQ(LogForm->bbtnClose->Left, 2 + half);
    EXPECT_EQ(LogForm->bbtnSave->Top, 2);
    EXPECT_EQ(LogForm->DiagnosticMemo->Left, 2);
    EXPECT_EQ(LogForm->DiagnosticMemo->Top, 2);
    EXPECT_EQ(LogForm->DiagnosticMemo->Width, LogForm->Panel1->Width - 4) << size[0];
    EXPECT_EQ(LogForm->DiagnosticMemo->Height, LogForm->Panel1->Height - 4) << size[1];
  }
}

TEST_F(LogWindow, SavesEveryLineWithCrLfUnderTheProposedName) {
  Create();
  SetReport({"             Diagnose Current Smart Card System v2.2", "", "last line"});
  Save("");
  const std::string saved = vcl::CurrentDialogScript().Records().back().fileName;
  ASSERT_FALSE(saved.empty());
  EXPECT_NE(saved.find("Diagnostics Log.log"), std::string::npos);
  EXPECT_EQ(Read(saved),
            "             Diagnose Current Smart Card System v2.2\r\n\r\nlast line\r\n");
  EXPECT_TRUE(LogForm->bbtnSave->Enabled);
  EXPECT_TRUE(MessageBoxes().empty());
}

TEST_F(LogWindow, ReplacesAnExistingFileWhole) {
  Put("C:\\Logs\\old.log", std::string(500, 'x'));
  Create();
  SetReport({"short"});
  Save("C:\\Logs\\old.log");
  EXPECT_EQ(Read("C:\\Logs\\old.log"), "short\r\n");
  EXPECT_TRUE(MessageBoxes().empty());
}

TEST_F(LogWindow, NameWithoutExtensionIsUsedAsTyped) {
  Create();
  SetReport({"a"});
  Save("C:\\report");
  EXPECT_EQ(Read("C:\\report"), "a\r\n");
  EXPECT_FALSE(Exists("C:\\report.log"));
}

TEST_F(LogWindow, WritesTheSystemCodePageBytes) {
  Taiwanese();
  Create();
  const std::string big5 = vqwin::FromUtf8("讀卡機已正確安裝", 950);
  SetReport({big5, "ASCII"});
  Save("C:\\big5.log");
  EXPECT_EQ(Read("C:\\big5.log"), big5 + "\r\nASCII\r\n");
}

TEST_F(LogWindow, CancelWritesNothing) {
  Create();
  SetReport({"a"});
  vcl::CurrentDialogScript().Queue({IDCANCEL, ""});
  LogForm->bbtnSave->Click();
  EXPECT_FALSE(Exists("C:\\Program Files\\VQUSB\\Diagnostics Log.log"));
  EXPECT_TRUE(LogForm->bbtnSave->Enabled);
}

struct FailureCase {
  const char* label;
  const char* op;
  DWORD error;
  const char* message;
};

// A folder that can't be written, a disk that fills up: the file error is
// shown and the earlier file keeps its content.
TEST_F(LogWindow, FailedSaveShowsTheFileErrorAndKeepsTheOldFile) {
  const FailureCase cases[] = {
      {"read-only folder", "create", ERROR_ACCESS_DENIED, "Cannot create file C:\\Locked\\Diagnostics Log.log"},
      {"full disk", "write", ERROR_DISK_FULL, "Stream write error"},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.label);
    vcl::ResetApplication();
    Put("C:\\Locked\\Diagnostics Log.log", "previous report\r\n");
    spec().fileFailures = {{"C:\\Locked\\*", c.op, c.error}};
    Create();
    SetReport({"new report"});
    Save("C:\\Locked\\Diagnostics Log.log");
    std::vector<vcl::DialogRecord> boxes = MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text.rfind(c.message, 0), 0u) << boxes[0].text;
    EXPECT_EQ(Read("C:\\Locked\\Diagnostics Log.log"), "previous report\r\n");
    EXPECT_TRUE(LogForm->bbtnSave->Enabled);
    spec().fileFailures.clear();
    EXPECT_EQ(Names("C:\\Locked"), std::vector<std::string>{"Diagnostics Log.log"});
  }
}

// When the new file can't take the earlier one's place, the earlier file is
// kept: on the NT family in place (the new file replaces it in one step); on
// Windows 98, which must move it aside first, it goes back under its name, and
// where even that fails the message names the file that now holds it.
TEST_F(LogWindow, AFailedReplaceKeepsTheEarlierFile) {
  const std::string target = "C:\\Logs\\diag.log";
  const struct {
    const char* label;
    DWORD platform, major, minor;
    bool fails;
  } cases[] = {
      {"XP, the move fails", 2, 5, 1, true},
      {"98, the move and the move back fail", 1, 4, 10, true},
      {"XP", 2, 5, 1, false},
      {"98", 1, 4, 10, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    vcl::ResetApplication();
    spec().os.platformId = c.platform;
    spec().os.major = c.major;
    spec().os.minor = c.minor;
    Put(target, "previous report\r\n");
    if (c.fails) spec().fileFailures = {{target, "move", ERROR_ACCESS_DENIED}};
    Create();
    SetReport({"new report"});
    Save(target);
    spec().fileFailures.clear();
    const std::vector<std::string> names = Names("C:\\Logs");
    ASSERT_EQ(names.size(), 1u) << ::testing::PrintToString(names);
    const std::vector<vcl::DialogRecord> boxes = MessageBoxes();
    if (!c.fails) {
      EXPECT_TRUE(boxes.empty());
      EXPECT_EQ(Read(target), "new report\r\n");
    } else if (c.platform == 2) {
      ASSERT_EQ(boxes.size(), 1u);
      EXPECT_EQ(boxes[0].text, "Cannot create file C:\\Logs\\diag.log.");
      EXPECT_EQ(Read(target), "previous report\r\n");
    } else {
      const std::string kept = "C:\\Logs\\" + names[0];
      ASSERT_EQ(boxes.size(), 1u);
      EXPECT_EQ(boxes[0].text, "Cannot create file C:\\Logs\\diag.log. The earlier file is kept as " + kept + ".");
      EXPECT_EQ(Read(kept), "previous report\r\n");
    }
    for (const std::string& name : names) DeleteFileA(("C:\\Logs\\" + name).c_str());
  }
}

// The save's scratch files have names of its own: files of the user's that
// look like a save's leftovers are not touched, and the save leaves nothing
// of its own behind. A one-character name has one-digit scratch names: all
// but two of them are the user's here.
TEST_F(LogWindow, SavingLeavesTheUsersOtherFilesAlone) {
  const struct {
    std::string target;
    std::vector<std::string> others;
  } cases[] = {
      {"diag.log", {"diag.log.~bk", "diag.log.~sv", "diag.~sv", "~0", "~1"}},
      {"q", {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "A", "B", "C", "D", "~0", "~1"}},
  };
  for (const auto& c : cases) {
    for (const bool earlier : {true, false}) {
      SCOPED_TRACE(c.target + (earlier ? ", over an earlier file" : ", a new file"));
      vcl::ResetApplication();
      for (const std::string& name : c.others) Put("C:\\Own\\" + name, "the user's " + name);
      const std::string target = "C:\\Own\\" + c.target;
      if (earlier) Put(target, "previous report\r\n");
      Create();
      SetReport({"new report"});
      Save(target);
      EXPECT_TRUE(MessageBoxes().empty());
      EXPECT_EQ(Read(target), "new report\r\n");
      std::vector<std::string> expected = c.others;
      expected.push_back(c.target);
      std::sort(expected.begin(), expected.end());
      EXPECT_EQ(Names("C:\\Own"), expected);
      for (const std::string& name : c.others) EXPECT_EQ(Read("C:\\Own\\" + name), "the user's " + name);
      for (const std::string& name : c.others) DeleteFileA(("C:\\Own\\" + name).c_str());
      DeleteFileA(target.c_str());
    }
  }
}

// A path of MAX_PATH (260) characters or more can't be made, as on a PC: a
// target one character short of that still saves, its scratch files too.
TEST_F(LogWindow, ATargetCloseToThePathLimitSaves) {
  for (const std::string name : {"Diagnostics Log.log", "a.log", "ab", "a"}) {
    SCOPED_TRACE(name);
    vcl::ResetApplication();
    // "C:" and folders of at most 60 characters: the target is 259 long.
    std::string folder = "C:";
    size_t left = (MAX_PATH - 1) - folder.size() - 1 - name.size();
    while (left > 0) {
      size_t length = std::min<size_t>(left - 1, 60);
      if (left - 1 - length == 1) --length;  // a folder needs two characters at least
      folder += "\\" + std::string(length, 'd');
      left -= length + 1;
    }
    const std::string target = folder + "\\" + name;
    ASSERT_EQ(target.size(), static_cast<size_t>(MAX_PATH - 1));
    Put(target, "previous report\r\n");
    spec().fileFailures = {{folder + "\\" + std::string(MAX_PATH - folder.size() - 1, '?') + "*", "any",
                            ERROR_FILENAME_EXCED_RANGE}};
    Create();
    SetReport({"new report"});
    Save(target);
    EXPECT_TRUE(MessageBoxes().empty());
    EXPECT_EQ(Read(target), "new report\r\n");
    EXPECT_EQ(Names(folder), std::vector<std::string>{name});
    spec().fileFailures.clear();
  }
}

TEST_F(LogWindow, ReadOnlyFileIsNotReplaced) {
  Put("C:\\Logs\\kept.log", "kept\r\n");
  SetFileAttributesA("C:\\Logs\\kept.log", FILE_ATTRIBUTE_READONLY);
  Create();
  SetReport({"new"});
  Save("C:\\Logs\\kept.log");
  ASSERT_EQ(MessageBoxes().size(), 1u);
  EXPECT_EQ(Read("C:\\Logs\\kept.log"), "kept\r\n");
}

class AboutBox : public diagtest::DiagProgram {};

TEST_F(AboutBox, DesignAndContent) {
  spec().screenWidth = 800;
  spec().screenHeight = 600;
  Create();
  EXPECT_EQ(FrmAbout->ClientWidth, 469);
  EXPECT_EQ(FrmAbout->ClientHeight, 227);
  EXPECT_EQ(FrmAbout->Left, (800 - FrmAbout->Width) / 2);
  EXPECT_EQ(FrmAbout->Top, (600 - FrmAbout->Height) / 2);
  struct {
    TControl* control;
    int left, top, width, height;
  } boxes[] = {
      {FrmAbout->Panel1, 4, 4, 461, 221},   {FrmAbout->Image1, 16, 24, 71, 45},
      {FrmAbout->Label1, 92, 44, 341, 16},  {FrmAbout->Panel2, 24, 80, 417, 2},
      {FrmAbout->Label2, 84, 92, 332, 16},  {FrmAbout->Label3, 56, 112, 389, 16},
      {FrmAbout->Label5, 108, 132, 257, 16}, {FrmAbout->BitBtn1, 170, 168, 121, 29},
  };
  for (const auto& b : boxes) {
    EXPECT_EQ(b.control->Left, b.left) << b.control->Name;
    EXPECT_EQ(b.control->Top, b.top) << b.control->Name;
    EXPECT_EQ(b.control->Width, b.width) << b.control->Name;
    EXPECT_EQ(b.control->Height, b.height) << b.control->Name;
  }
  EXPECT_EQ(Str(FrmAbout->Label1->Caption), "VQ480T Smart Card Reader Diagnostics v 1.6");
  EXPECT_FALSE(FrmAbout->Label2->Caption.IsEmpty());
  EXPECT_FALSE(FrmAbout->Label3->Caption.IsEmpty());
  EXPECT_FALSE(FrmAbout->Label5->Caption.IsEmpty());
  EXPECT_EQ(Str(FrmAbout->BitBtn1->Caption), "&OK");
  EXPECT_EQ(FrmAbout->BitBtn1->ModalResult, mrOk);
}

}  // namespace

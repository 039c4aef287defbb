// Hostile machines: an INF that can't be read, malformed version resources,
// more than ten readers, reader names of any bytes, an oversized ATR. The run
// goes on and writes what it found.
#include "RunMachine.h"

#include "Main.h"

#include <vqwin/FileSystem.h>
#include <vqwin/PeWriter.h>

#include <filesystem>

namespace diagrun {
namespace {

int CountStarting(const std::vector<std::string>& lines, const std::string& start) {
  int n = 0;
  for (const std::string& line : lines)
    if (line.rfind(start, 0) == 0) ++n;
  return n;
}

bool Has(const std::vector<std::string>& lines, const std::string& line) {
  for (const std::string& l : lines)
    if (l == line) return true;
  return false;
}

TEST(RunBadInput, UnreadableInfIsSkippedAndTheSearchGoesOn) {
  RunMachine m;
  m.Remove("C:\\WINDOWS\\inf\\vqusb.inf");
  m.PutBytes("C:\\WINDOWS\\inf\\a.inf", "; nothing\r\n");
  m.PutBytes("C:\\WINDOWS\\inf\\z.inf", "; VQUSB\r\n");
  // A listed entry that can't be opened: a link to nowhere.
  const auto folder = m.machine().files().ResolveNative("C:\\WINDOWS\\inf").hostPath;
  std::filesystem::create_symlink(folder / "missing-target", folder / "m.inf");
  m.Run(1);
  EXPECT_TRUE(Has(m.Lines(), "           VQUSB.INF..........................................PASSED"));
}

std::vector<uint8_t> ValidPe() {
  return vqwin::BuildPe(vqwin::VersionResource::FromDotted("5.1.2600.5512"));
}

// Offset of the root node of the version block (its key "VS_VERSION_INFO").
size_t RootNode(const std::vector<uint8_t>& pe) {
  static const char key[] = "V\0S\0_\0V\0E\0R\0S\0I\0O\0N\0_\0I\0N\0F\0O\0";
  const std::string bytes(pe.begin(), pe.end());
  const size_t at = bytes.find(std::string(key, sizeof key - 1));
  EXPECT_NE(at, std::string::npos);
  return at == std::string::npos ? 0 : at - 6;
}

TEST(RunBadInput, MalformedVersionResourceTakesTheVersionlessBranch) {
  struct Case {
    const char* name;
    std::function<std::string()> bytes;
  } cases[] = {
      {"empty", [] { return std::string(); }},
      {"MZ and garbage", [] { return "MZ" + std::string(500, 'x'); }},
      {"truncated", [] {
         auto pe = ValidPe();
         return std::string(pe.begin(), pe.begin() + static_cast<long>(RootNode(pe) + 20));
       }},
      {"root longer than its section", [] {
         auto pe = ValidPe();
         pe[RootNode(pe)] = 0xFF, pe[RootNode(pe) + 1] = 0xFF;
         return std::string(pe.begin(), pe.end());
       }},
      {"fixed information cut short", [] {
         auto pe = ValidPe();
         pe[RootNode(pe) + 2] = 8, pe[RootNode(pe) + 3] = 0;
         return std::string(pe.begin(), pe.end());
       }},
  };
  for (const Case& c : cases) {
    RunMachine m;
    m.PutBytes("C:\\WINDOWS\\system32\\SCardSvr.exe", c.bytes());
    m.Run(1);
    const auto lines = m.Lines();
    // The version reader refuses the block whole: one failure line, the size query's.
    int failures = 0;
    for (const std::string& line : lines) failures += line.find(") Failed") != std::string::npos ? 1 : 0;
    EXPECT_EQ(failures, 1) << c.name;
    EXPECT_TRUE(Has(lines, "GetFileVersionInfoSize(C:\\WINDOWS\\system32\\scardsvr.exe) Failed")) << c.name;
    EXPECT_TRUE(Has(lines, "           Resource Manager...................................PASSED")) << c.name;
    EXPECT_EQ(lines.back(), "-> [Result] : PC/SC Smart Card Environment is proper(OK).") << c.name;
  }
}

TEST(RunBadInput, ReadersAfterTheTenthAreIgnored) {
  RunMachine m;
  std::vector<ReaderSpec> readers;
  for (int i = 0; i < 10; ++i) readers.push_back({"Other Reader " + std::to_string(i)});
  readers.push_back({"TERVANE VQ480T 0"});
  readers.push_back({"TERVANE VQ480T 1"});
  m.SetReaders(readers);
  m.Run(1);
  const auto lines = m.Lines();
  EXPECT_EQ(CountStarting(lines, "           Device "), 10);
  EXPECT_TRUE(Has(lines, "           Device 9 : Other Reader 9"));
  EXPECT_TRUE(Has(lines, "           VQ 480T : Reader Not Found"));
  EXPECT_EQ(SelfForm->ReaderCount, 10);
}

TEST(RunBadInput, ReaderNamesOfAnyBytes) {
  std::string allBytes;
  for (int b = 1; b < 256; ++b) allBytes += static_cast<char>(b);
  std::string hex;
  for (unsigned char c : allBytes) {
    static const char digits[] = "0123456789ABCDEF";
    hex += digits[c >> 4];
    hex += digits[c & 15];
  }
  const std::string longName = "TERVANE VQ480T " + std::string(5000, '9');
  RunMachine m;
  m.SetReaders({{"", "t1", "3B 00", "name_hex = \"" + hex + "\""},
                {"%s%n%x 0"},
                {longName}});
  m.Run(1);
  const auto lines = m.Lines();
  EXPECT_TRUE(Has(lines, "           Device 0 : " + allBytes));
  EXPECT_TRUE(Has(lines, "           Device 1 : %s%n%x 0"));
  EXPECT_TRUE(Has(lines, "           Device 2 : " + longName));
  EXPECT_EQ(SelfForm->SelectedReader, 2);
  EXPECT_TRUE(Has(lines, "           ATR : 3B 88 80 01 00 00 00 00 00 00 00 00 09 "));
}

TEST(RunBadInput, AnAtrLongerThanTheBufferIsRefusedByTheResourceManager) {
  std::string atr;
  for (int i = 0; i < 70; ++i) atr += "3B ";
  RunMachine m;
  m.SetReaders({{"TERVANE VQ480T 0", "t1", atr}});
  m.Run(1);
  const auto lines = m.Lines();
  EXPECT_TRUE(Has(lines, "           SCardGetAttrib Fail : 80100008"));
  EXPECT_EQ(lines.back(), "-> [Result] : PC/SC Smart Card Environment is proper(OK).");
}

}  // namespace
}  // namespace diagrun

// Folder-tree copy on the machine's drives.
#include "DiagMachine.h"
#include "Public.h"

#include <vqwin/FileSystem.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

namespace {

class CopyTree : public ::testing::Test {
 protected:
  void Put(const std::string& path, const std::string& bytes) {
    machine_.machine().files().WriteBytes(path, bytes);
  }
  bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
  }
  std::string Read(const std::string& path) {
    vqwin::ResolvedPath resolved = machine_.machine().files().Resolve(path);
    std::ifstream in(resolved.hostPath, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  diagtest::ScratchMachine machine_;
};

TEST_F(CopyTree, CopiesFilesAndNestedFoldersIntoTheDestination) {
  Put("C:\\Src\\FAQ\\a.pdf", "A");
  Put("C:\\Src\\FAQ\\Sub\\b.txt", "B");
  Put("C:\\Src\\FAQ\\Sub\\Deeper\\c.txt", "C");
  Put("C:\\Src\\FAQ\\hidden.dat", "H");
  SetFileAttributesA("C:\\Src\\FAQ\\hidden.dat", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  Put("C:\\Src\\FAQ\\ro.txt", "R");
  SetFileAttributesA("C:\\Src\\FAQ\\ro.txt", FILE_ATTRIBUTE_READONLY);

  // Source with its backslash, destination without; the destination's
  // parents do not exist yet.
  CopyDirectoryTree("C:\\Src\\FAQ\\", "C:\\WINDOWS\\Temp\\New\\FAQ");

  EXPECT_EQ(Read("C:\\WINDOWS\\Temp\\New\\FAQ\\a.pdf"), "A");
  EXPECT_EQ(Read("C:\\WINDOWS\\Temp\\New\\FAQ\\Sub\\b.txt"), "B");
  EXPECT_EQ(Read("C:\\WINDOWS\\Temp\\New\\FAQ\\Sub\\Deeper\\c.txt"), "C");
  EXPECT_EQ(Read("C:\\WINDOWS\\Temp\\New\\FAQ\\hidden.dat"), "H");
  EXPECT_EQ(Read("C:\\WINDOWS\\Temp\\New\\FAQ\\ro.txt"), "R");
  EXPECT_FALSE(Exists("C:\\WINDOWS\\Temp\\New\\FAQa.pdf"));
}

TEST_F(CopyTree, OverwritesAnExistingFile) {
  Put("C:\\Src\\doc.pdf", "new content");
  Put("C:\\Dst\\doc.pdf", "old, longer content");
  Put("C:\\Dst\\other.pdf", "kept");
  CopyDirectoryTree("C:\\Src", "C:\\Dst\\");
  EXPECT_EQ(Read("C:\\Dst\\doc.pdf"), "new content");
  EXPECT_EQ(Read("C:\\Dst\\other.pdf"), "kept");
}

TEST_F(CopyTree, MissingSourceCopiesNothingAndMakesNoDestination) {
  CopyDirectoryTree("C:\\NoSuchFolder", "C:\\Dst");
  EXPECT_FALSE(Exists("C:\\Dst"));
  // A file is not a folder to copy from.
  Put("C:\\plain.txt", "x");
  CopyDirectoryTree("C:\\plain.txt", "C:\\Dst2");
  EXPECT_FALSE(Exists("C:\\Dst2"));
}

TEST_F(CopyTree, FileThatCannotBeCopiedIsSkipped) {
  Put("C:\\Src\\a.txt", "A");
  Put("C:\\Src\\b.txt", "B");
  machine_.spec().fileFailures.push_back({"C:\\Dst\\a.txt", "copy", ERROR_DISK_FULL});
  CopyDirectoryTree("C:\\Src", "C:\\Dst");
  EXPECT_FALSE(Exists("C:\\Dst\\a.txt"));
  EXPECT_EQ(Read("C:\\Dst\\b.txt"), "B");
}

// On a Big5 system the second byte of a two-byte character may be 0x5C (the
// folder \xA5\x5C): it is no backslash, neither when the copy goes down into
// that folder nor when its parents are made.
TEST_F(CopyTree, TwoByteNameEndingInByte5CIsAFolderOfItsOwn) {
  machine_.spec().locale.ansiCodePage = 950;
  Put("C:\\Src\\FAQ\\\xA5\\\\b.txt", "B");
  Put("C:\\Src\\FAQ\\a.pdf", "A");
  CopyDirectoryTree("C:\\Src\\FAQ", "C:\\Dst\\\xA5\\\\FAQ");
  EXPECT_EQ(Read("C:\\Dst\\\xA5\\\\FAQ\\a.pdf"), "A");
  EXPECT_EQ(Read("C:\\Dst\\\xA5\\\\FAQ\\\xA5\\\\b.txt"), "B");
  EXPECT_FALSE(Exists("C:\\Dst\\\xA5"));
  EXPECT_FALSE(Exists("C:\\Dst\\\xA5\\\\FAQ\\\xA5"));
}

// A destination inside the source would otherwise be copied into itself
// without end; the copy stops at the longest path Windows allows.
TEST_F(CopyTree, DestinationInsideSourceEnds) {
  Put("C:\\Loop\\a.txt", "A");
  CopyDirectoryTree("C:\\Loop", "C:\\Loop\\Copy");
  EXPECT_EQ(Read("C:\\Loop\\Copy\\a.txt"), "A");
}

}  // namespace

#include <gtest/gtest.h>
#include <vqwin/PeWriter.h>
#include <vqwin/TestMachine.h>
#include <windows.h>

#include <cstring>
#include <vector>

namespace {

struct Read {
  bool ok = false;
  DWORD error = 0;
  DWORD ms = 0, ls = 0;
  std::string company;
};

Read ReadVersion(const char* path) {
  Read r;
  DWORD handle = 1;
  const DWORD size = GetFileVersionInfoSizeA(path, &handle);
  EXPECT_EQ(handle, 0u);
  if (size == 0) {
    r.error = GetLastError();
    return r;
  }
  std::vector<char> data(size);
  if (!GetFileVersionInfoA(path, 0, size, data.data())) {
    r.error = GetLastError();
    return r;
  }
  VS_FIXEDFILEINFO* info = nullptr;
  UINT len = 0;
  if (!VerQueryValueA(data.data(), "\\", reinterpret_cast<LPVOID*>(&info), &len)) return r;
  EXPECT_EQ(len, sizeof(VS_FIXEDFILEINFO));
  EXPECT_EQ(info->dwSignature, 0xFEEF04BDu);
  r.ok = true;
  r.ms = info->dwFileVersionMS;
  r.ls = info->dwFileVersionLS;
  char* text = nullptr;
  if (VerQueryValueA(data.data(), "\\StringFileInfo\\040904B0\\CompanyName", reinterpret_cast<LPVOID*>(&text), &len))
    r.company = text;
  return r;
}

TEST(VersionResource, ReadFromThePeFileAFixtureWrites) {
  vqwin::ScratchMachine scratch;
  auto v = vqwin::VersionResource::FromDotted("5.0.1708.2");
  ASSERT_TRUE(v);
  v->strings.emplace_back("CompanyName", "Tervane");
  scratch.Pe("C:\\WINDOWS\\system32\\scardsvr.exe", v);
  scratch.Pe("C:\\WINDOWS\\system32\\drivers\\noversion.sys", std::nullopt);
  scratch.File("C:\\WINDOWS\\system32\\drivers\\text.sys", "not a program");
  auto x64 = vqwin::BuildPe(vqwin::VersionResource::FromDotted("6.1.7601.17514"), vqwin::PeOptions{true, 0x8664});
  scratch.File("C:\\WINDOWS\\system32\\drivers\\wide.sys", std::string(x64.begin(), x64.end()));
  scratch.Load();

  Read r = ReadVersion("c:\\windows\\SYSTEM32\\SCARDSVR.EXE");
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.ms, 0x00050000u);
  EXPECT_EQ(r.ls, 0x06AC0002u);
  EXPECT_EQ(r.company, "Tervane");

  r = ReadVersion("C:\\WINDOWS\\system32\\drivers\\wide.sys");
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.ms, 0x00060001u);
  EXPECT_EQ(r.ls, (7601u << 16) | 17514u);

  // The default machine's driver files carry versions too.
  r = ReadVersion("C:\\WINDOWS\\system32\\drivers\\smclib.sys");
  ASSERT_TRUE(r.ok);
  EXPECT_GE(r.ls, 0x07820000u);

  EXPECT_EQ(ReadVersion("C:\\WINDOWS\\system32\\drivers\\noversion.sys").error,
            static_cast<DWORD>(ERROR_RESOURCE_DATA_NOT_FOUND));
  EXPECT_EQ(ReadVersion("C:\\WINDOWS\\system32\\drivers\\text.sys").error, static_cast<DWORD>(ERROR_BAD_EXE_FORMAT));
  EXPECT_EQ(ReadVersion("C:\\WINDOWS\\system32\\drivers\\none.sys").error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(VersionResource, ResourcePaddedPastItsBlockKeepsItsTextValues) {
  // Linkers may store a version resource larger than its VS_VERSIONINFO
  // block (alignment padding): the texts are still found.
  auto v = vqwin::VersionResource::FromDotted("2.0.0.7");
  v->strings.emplace_back("CompanyName", "Tervane");
  std::vector<uint8_t> image = vqwin::BuildPe(v);
  const size_t sizeAt = 0x200 + 0x4C;  // size of the resource's data entry
  uint32_t size = 0;
  std::memcpy(&size, &image[sizeAt], 4);
  ASSERT_LE(0x200 + 0x58 + size + 6, image.size());
  for (uint32_t pad : {2u, 6u}) {
    std::vector<uint8_t> padded = image;
    const uint32_t larger = size + pad;
    std::memcpy(&padded[sizeAt], &larger, 4);
    vqwin::ScratchMachine scratch;
    scratch.File("C:\\padded.sys", std::string(padded.begin(), padded.end()));
    scratch.Load();
    const Read r = ReadVersion("C:\\padded.sys");
    ASSERT_TRUE(r.ok) << pad;
    EXPECT_EQ(r.ms, 0x00020000u);
    EXPECT_EQ(r.company, "Tervane") << pad;
  }
}

TEST(VersionResource, QueriesOfMissingBlocksFail) {
  auto v = vqwin::VersionResource::FromDotted("1.2.3.4");
  const auto block = vqwin::BuildVersionBlock(*v);
  std::vector<uint8_t> image = vqwin::BuildPe(v);
  std::vector<uint8_t> found;
  uint32_t error = 0;
  ASSERT_TRUE(vqwin::FindVersionBlock(image, found, error));
  EXPECT_EQ(found, block);
  void* p = nullptr;
  UINT len = 0;
  EXPECT_FALSE(VerQueryValueA(block.data(), "\\StringFileInfo\\040904B0\\Nothing", &p, &len));
  EXPECT_FALSE(VerQueryValueA(block.data(), "\\Elsewhere", &p, &len));
  EXPECT_TRUE(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", &p, &len));
  EXPECT_EQ(len, 4u);
  uint16_t translation[2];
  std::memcpy(translation, p, 4);
  EXPECT_EQ(translation[0], 0x0409);
  EXPECT_EQ(translation[1], 1200);
}

TEST(VersionResource, TruncatedOrCorruptImagesNeverReadOutside) {
  const std::vector<uint8_t> image = vqwin::BuildPe(vqwin::VersionResource::FromDotted("1.2.3.4"));
  std::vector<uint8_t> block;
  uint32_t error = 0;
  // Every cut of the image, and every byte of its headers and resource tree
  // set to 0xFF, either finds a block inside the image or reports an error.
  for (size_t cut = 0; cut < image.size(); cut += 7) {
    std::vector<uint8_t> part(image.begin(), image.begin() + static_cast<long>(cut));
    if (vqwin::FindVersionBlock(part, block, error)) {
      EXPECT_LE(block.size(), part.size());
    }
  }
  for (size_t at = 0; at < 0x2A0 && at < image.size(); ++at) {
    std::vector<uint8_t> bad = image;
    bad[at] = 0xFF;
    if (!vqwin::FindVersionBlock(bad, block, error)) {
      EXPECT_NE(error, 0u);
    }
  }
  EXPECT_FALSE(vqwin::VersionResource::FromDotted("1.2.3.4.5"));
  EXPECT_FALSE(vqwin::VersionResource::FromDotted("1..2"));
  EXPECT_FALSE(vqwin::VersionResource::FromDotted("70000"));
  EXPECT_FALSE(vqwin::VersionResource::FromDotted(""));
}

}  // namespace

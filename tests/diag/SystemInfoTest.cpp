// Windows version code, display name, processor code and language index, on
// machines set up as the systems in question.
#include "DiagProgram.h"
#include "Public.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>

namespace {

using vqwin::VersionQuery;

const BYTE kWorkstation = 1, kServer = 3;
const WORD kX86 = 0, kIa64 = 6, kX64 = 9, kArm = 5;

struct OsCase {
  const char* label;
  DWORD platformId, major, minor, build;
  const char* servicePack;
  WORD suite;
  BYTE productType;
  WORD architecture;
  DWORD productInfo;
  int serverR2;
  VersionQuery query;
  int code;
  const char* name;
  int archCode;
};

const VersionQuery kEx = VersionQuery::Extended;

const OsCase kCases[] = {
  {"Win32s", 0, 3, 10, 0, "", 0, 0, kX86, 0, 0, kEx, 1, "Windows 3.1", 86},
  {"Windows 95", 1, 4, 0, 950, "", 0, 0, kX86, 0, 0, kEx, 2, "Windows 95", 86},
  {"Windows 95 OSR2 C", 1, 4, 0, 1111, " C", 0, 0, kX86, 0, 0, kEx, 3, "Windows 95 R2", 86},
  {"Windows 95 OSR2 B", 1, 4, 0, 1111, " B", 0, 0, kX86, 0, 0, kEx, 3, "Windows 95 R2", 86},
  {"Windows 98", 1, 4, 10, 1998, "", 0, 0, kX86, 0, 0, kEx, 4, "Windows 98", 86},
  {"Windows 98 SE", 1, 4, 10, 2222, " A", 0, 0, kX86, 0, 0, kEx, 5, "Windows 98 Second Edition", 86},
  {"Windows 98 with B", 1, 4, 10, 2222, " B", 0, 0, kX86, 0, 0, kEx, 5, "Windows 98 Second Edition", 86},
  {"Windows ME", 1, 4, 90, 3000, " ", 0, 0, kX86, 0, 0, kEx, 6, "Windows Millennium Edition", 86},
  {"9x of another version", 1, 4, 20, 0, "", 0, 0, kX86, 0, 0, kEx, 1, "", 86},
  {"9x after ME", 1, 4, 91, 0, "", 0, 0, kX86, 0, 0, kEx, 1, "", 86},
  {"NT 3.51", 2, 3, 51, 1057, "Service Pack 5", 0, kWorkstation, kX86, 0, 0, kEx, 7,
   "Can not support this version of Windows.", 86},
  {"NT 4.0", 2, 4, 0, 1381, "Service Pack 6", 0, kWorkstation, kX86, 0, 0, kEx, 7, "Windows NT 4.0", 86},
  {"2000 Professional", 2, 5, 0, 2195, "Service Pack 4", 0, kWorkstation, kX86, 0, 0, kEx, 8,
   "Windows 2000 Professional Service Pack 4 (build 2195)", 86},
  {"2000 Datacenter", 2, 5, 0, 2195, "Service Pack 4", 0x82, kServer, kX86, 0, 0, kEx, 8,
   "Windows 2000 Datacenter Server Service Pack 4 (build 2195)", 86},
  {"2000 Advanced Server", 2, 5, 0, 2195, "", 0x02, kServer, kX86, 0, 0, kEx, 8,
   "Windows 2000 Advanced Server (build 2195)", 86},
  {"2000 Server", 2, 5, 0, 2195, "", 0, kServer, kX86, 0, 0, kEx, 8, "Windows 2000 Server (build 2195)", 86},
  {"XP Professional SP3", 2, 5, 1, 2600, "Service Pack 3", 0x100, kWorkstation, kX86, 0, 0, kEx, 9,
   "Windows XP Professional Service Pack 3 (build 2600)", 86},
  {"XP Home", 2, 5, 1, 2600, "Service Pack 2", 0x300, kWorkstation, kX86, 0, 0, kEx, 9,
   "Windows XP Home Edition Service Pack 2 (build 2600)", 86},
  {"5.1 on x64", 2, 5, 1, 2600, "", 0, kWorkstation, kX64, 0, 0, kEx, 21,
   "Windows XP Professional (build 2600)", 64},
  {"XP Professional x64", 2, 5, 2, 3790, "Service Pack 2", 0, kWorkstation, kX64, 0, 0, kEx, 10,
   "Windows XP Professional x64 Edition Service Pack 2 (build 3790)", 64},
  {"5.2 workstation on x86", 2, 5, 2, 3790, "", 0, kWorkstation, kX86, 0, 0, kEx, 21,
   "Windows Server 2003,  (build 3790)", 86},
  {"2003 Standard", 2, 5, 2, 3790, "Service Pack 2", 0, kServer, kX86, 0, 0, kEx, 11,
   "Windows Server 2003, Standard Edition Service Pack 2 (build 3790)", 86},
  {"2003 R2 Enterprise", 2, 5, 2, 3790, "Service Pack 2", 0x02, kServer, kX86, 0, 1, kEx, 11,
   "Windows Server 2003 R2, Enterprise Edition Service Pack 2 (build 3790)", 86},
  {"2003 Web", 2, 5, 2, 3790, "", 0x400, kServer, kX86, 0, 0, kEx, 11,
   "Windows Server 2003, Web Edition (build 3790)", 86},
  {"2003 Compute Cluster", 2, 5, 2, 3790, "", 0x4082, kServer, kX86, 0, 0, kEx, 11,
   "Windows Server 2003, Compute Cluster Edition (build 3790)", 86},
  {"2003 Datacenter", 2, 5, 2, 3790, "", 0x82, kServer, kX86, 0, 0, kEx, 11,
   "Windows Server 2003, Datacenter Edition (build 3790)", 86},
  {"Storage Server 2003", 2, 5, 2, 3790, "", 0x2000, kServer, kX86, 0, 0, kEx, 11,
   "Windows Storage Server 2003Standard Edition (build 3790)", 86},
  {"Home Server", 2, 5, 2, 3790, "", 0x8000, kServer, kX86, 0, 0, kEx, 11,
   "Windows Home ServerStandard Edition (build 3790)", 86},
  {"storage bit among others", 2, 5, 2, 3790, "", 0x2002, kServer, kX86, 0, 0, kEx, 11,
   "Windows Server 2003, Enterprise Edition (build 3790)", 86},
  {"2003 x64 Datacenter", 2, 5, 2, 3790, "Service Pack 2", 0x82, kServer, kX64, 0, 0, kEx, 12,
   "Windows Server 2003, Datacenter x64 Edition Service Pack 2 (build 3790)", 64},
  {"2003 x64 Enterprise", 2, 5, 2, 3790, "", 0x02, kServer, kX64, 0, 0, kEx, 12,
   "Windows Server 2003, Enterprise x64 Edition (build 3790)", 64},
  {"2003 x64 Standard", 2, 5, 2, 3790, "", 0, kServer, kX64, 0, 0, kEx, 12,
   "Windows Server 2003, Standard x64 Edition (build 3790)", 64},
  {"2003 Itanium Datacenter", 2, 5, 2, 3790, "", 0x82, kServer, kIa64, 0, 0, kEx, 12,
   "Windows Server 2003, Datacenter Edition for Itanium-based Systems (build 3790)", 64},
  {"2003 Itanium Enterprise", 2, 5, 2, 3790, "", 0x02, kServer, kIa64, 0, 0, kEx, 12,
   "Windows Server 2003, Enterprise Edition for Itanium-based Systems (build 3790)", 64},
  {"2003 Itanium plain", 2, 5, 2, 3790, "", 0, kServer, kIa64, 0, 0, kEx, 12,
   "Windows Server 2003,  (build 3790)", 64},
  {"Vista Business 32-bit", 2, 6, 0, 6001, "Service Pack 1", 0x100, kWorkstation, kX86, 6, 0, kEx, 13,
   "Windows Vista Business Edition Service Pack 1 (build 6001), 32-bit", 86},
  {"Vista Home Premium 64-bit", 2, 6, 0, 6000, "", 0x300, kWorkstation, kX64, 3, 0, kEx, 14,
   "Windows Vista Home Premium Edition (build 6000), 64-bit", 64},
  {"Server 2008 32-bit", 2, 6, 0, 6001, "Service Pack 1", 0, kServer, kX86, 7, 0, kEx, 15,
   "Windows Server 2008 Standard Edition Service Pack 1 (build 6001), 32-bit", 86},
  {"Server 2008 64-bit", 2, 6, 0, 6001, "", 0x80, kServer, kX64, 8, 0, kEx, 16,
   "Windows Server 2008 Datacenter Edition (build 6001), 64-bit", 64},
  {"Server 2008 Itanium", 2, 6, 0, 6001, "", 0x02, kServer, kIa64, 15, 0, kEx, 16,
   "Windows Server 2008 Enterprise Edition for Itanium-based Systems (build 6001)", 64},
  {"7 32-bit SP1", 2, 6, 1, 7601, "Service Pack 1", 0x100, kWorkstation, kX86, 1, 0, kEx, 17,
   "Windows 7  Service Pack 1 (build 7601), 32-bit", 86},
  {"7 x64 without service pack", 2, 6, 1, 7600, "", 0x100, kWorkstation, kX64, 1, 0, kEx, 18,
   "Windows 7  (build 7600), 64-bit", 64},
  {"2008 R2 on x86", 2, 6, 1, 7600, "", 0, kServer, kX86, 7, 0, kEx, 19,
   "Windows Server 2008 R2  (build 7600), 32-bit", 86},
  {"2008 R2", 2, 6, 1, 7601, "Service Pack 1", 0, kServer, kX64, 7, 0, kEx, 20,
   "Windows Server 2008 R2  Service Pack 1 (build 7601), 64-bit", 64},
  {"6.2", 2, 6, 2, 9200, "", 0x100, kWorkstation, kX64, 48, 0, kEx, 21, " (build 9200), 64-bit", 64},
  {"6.3 with service pack", 2, 6, 3, 9600, "Service Pack 1", 0, kServer, kX86, 7, 0, kEx, 21,
   " Service Pack 1 (build 9600), 32-bit", 86},
  {"other processor", 2, 5, 1, 2600, "", 0, kWorkstation, kArm, 0, 0, kEx, 21,
   "Windows XP Professional (build 2600)", 60},
  {"Vista on another processor", 2, 6, 0, 6000, "", 0, kWorkstation, kArm, 1, 0, kEx, 21,
   "Windows Vista Ultimate Edition (build 6000)", 60},
  {"unknown platform", 3, 5, 0, 0, "", 0, kWorkstation, kX86, 0, 0, kEx, 22,
   "Can not support this version of Windows.", 86},
  // The 156-byte record refused: the 148-byte one leaves suite and product
  // type zero, so the product reads as a server's.
  {"NT 4.0 SP5 basic record only", 2, 4, 0, 1381, "Service Pack 5", 0, kWorkstation, kX86, 0, 0,
   VersionQuery::BasicOnly, 7, "Windows NT 4.0", 86},
  {"98 SE basic record only", 1, 4, 10, 2222, " A", 0, 0, kX86, 0, 0, VersionQuery::BasicOnly, 5,
   "Windows 98 Second Edition", 86},
  {"XP basic record only", 2, 5, 1, 2600, "Service Pack 3", 0x300, kWorkstation, kX86, 0, 0,
   VersionQuery::BasicOnly, 21, "Windows XP Professional Service Pack 3 (build 2600)", 86},
  {"both records refused", 2, 5, 1, 2600, "Service Pack 3", 0x100, kWorkstation, kX86, 0, 0,
   VersionQuery::None, 22, "Can not support this version of Windows.", 22},
};

void SetUpOs(vqwin::OsSpec& os, const OsCase& c) {
  os.platformId = c.platformId;
  os.major = c.major;
  os.minor = c.minor;
  os.build = c.build;
  os.csdVersion = c.servicePack;
  os.suiteMask = c.suite;
  os.productType = c.productType;
  os.architecture = c.architecture;
  os.productInfo = c.productInfo;
  os.serverR2 = c.serverR2;
  os.versionQuery = c.query;
}

class OsTable : public diagtest::DiagProgram, public ::testing::WithParamInterface<OsCase> {};

// Asked directly and as the diagnostic window keeps them.
TEST_P(OsTable, CodeNameAndProcessor) {
  const OsCase& c = GetParam();
  SetUpOs(machine().os(), c);
  EXPECT_EQ(GetOSVersionCode(), c.code);
  EXPECT_EQ(std::string(GetOSDisplayString().c_str()), c.name);
  EXPECT_EQ(GetProcessorArchCode(), c.archCode);
  Create();
  EXPECT_EQ(SelfForm->OsVersionCode, c.code);
  EXPECT_EQ(Str(SelfForm->OsName), c.name);
  EXPECT_EQ(SelfForm->ArchCode, static_cast<unsigned>(c.archCode));
}

INSTANTIATE_TEST_SUITE_P(Systems, OsTable, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<OsCase>& info) {
                           std::string name;
                           for (const char* p = info.param.label; *p; ++p)
                             name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                           return name;
                         });

// Without GetNativeSystemInfo a 32-bit program on 64-bit Windows sees the
// x86 processor of its plain system information.
TEST(NativeSystemInfo, MissingLookupFallsBackToThePlainInformation) {
  const OsCase cases[] = {
      {"7 x64", 2, 6, 1, 7600, "", 0x100, kWorkstation, kX64, 1, 0, kEx, 17,
       "Windows 7  (build 7600), 32-bit", 86},
      {"2003 x64 Datacenter", 2, 5, 2, 3790, "", 0x82, kServer, kX64, 0, 0, kEx, 11,
       "Windows Server 2003, Datacenter Edition (build 3790)", 86},
  };
  for (const OsCase& c : cases) {
    diagtest::ScratchMachine machine;
    SetUpOs(machine.os(), c);
    machine.spec().absent.insert("GetNativeSystemInfo");
    EXPECT_EQ(GetOSVersionCode(), c.code) << c.label;
    EXPECT_EQ(std::string(GetOSDisplayString().c_str()), c.name) << c.label;
    EXPECT_EQ(GetProcessorArchCode(), c.archCode) << c.label;
  }
}

// Every product type that GetProductInfo can report, on Vista and on 2008.
TEST(ProductEdition, EveryProductType) {
  const char* editions[] = {
      "", "Ultimate Edition", "Home Basic Edition", "Home Premium Edition", "Enterprise Edition", "",
      "Business Edition", "Standard Edition", "Datacenter Edition", "Small Business Server",
      "Enterprise Edition", "Starter Edition", "Datacenter Edition (core installation)",
      "Standard Edition (core installation)", "Enterprise Edition (core installation)",
      "Enterprise Edition for Itanium-based Systems", "", "Web Server Edition",
      "Cluster Server Edition", "", ""};
  diagtest::ScratchMachine machine;
  auto& os = machine.os();
  os.major = 6;
  os.minor = 0;
  os.build = 6000;
  os.csdVersion = "";
  os.architecture = kX86;
  for (DWORD type = 0; type < sizeof editions / sizeof editions[0]; ++type) {
    os.productInfo = type == 20 ? 0xABCD : type;
    os.productType = kWorkstation;
    EXPECT_EQ(std::string(GetOSDisplayString().c_str()),
              std::string("Windows Vista ") + editions[type] + " (build 6000), 32-bit")
        << "product type " << os.productInfo;
    os.productType = kServer;
    EXPECT_EQ(std::string(GetOSDisplayString().c_str()),
              std::string("Windows Server 2008 ") + editions[type] + " (build 6000), 32-bit")
        << "product type " << os.productInfo;
  }
}

TEST(ProductEdition, MissingProductInfoAddsNoEdition) {
  diagtest::ScratchMachine machine;
  auto& os = machine.os();
  os.major = 6;
  os.minor = 0;
  os.build = 6001;
  os.csdVersion = "Service Pack 1";
  os.productInfo = 6;
  machine.spec().absent.insert("GetProductInfo");
  EXPECT_EQ(std::string(GetOSDisplayString().c_str()),
            "Windows Vista  Service Pack 1 (build 6001), 32-bit");
  EXPECT_EQ(GetOSVersionCode(), 13);
}

// A long service-pack text stays within the 255 characters of the name.
TEST(DisplayName, LongServicePackTextIsBounded) {
  diagtest::ScratchMachine machine;
  auto& os = machine.os();
  os.major = 5;
  os.minor = 2;
  os.build = 3790;
  os.productType = kServer;
  os.suiteMask = 0x80;
  os.architecture = kIa64;
  os.serverR2 = 1;
  os.csdVersion = std::string(127, 'S');
  std::string name = GetOSDisplayString().c_str();
  EXPECT_LE(name.size(), 255u);
  EXPECT_EQ(name.rfind("Windows Server 2003 R2, Datacenter Edition for Itanium-based Systems SSS", 0), 0u);
  EXPECT_NE(name.find(" (build 3790)"), std::string::npos);
}

struct LanguageCase {
  WORD langId;
  int index;
};

TEST(Language, DefaultLanguageGivesIndex) {
  const LanguageCase cases[] = {
      {0x0404, 1}, {0x0C04, 2}, {0x0804, 0}, {0x0409, 0}, {0x0412, 0}, {0x1004, 0}, {0x0000, 0}};
  diagtest::ScratchMachine machine;
  for (const LanguageCase& c : cases) {
    machine.spec().locale.langId = c.langId;
    EXPECT_EQ(GetUILanguageCode(), c.index) << std::hex << c.langId;
  }
}

// A run of a character for a report line or a rule: a count of 0 or less
// gives none (never a failure).
TEST(Repeated, RunsOfACharacter) {
  const struct {
    char c;
    int count;
    const char* text;
  } cases[] = {{'.', 3, "..."}, {'-', 1, "-"}, {'.', 0, ""}, {'.', -1, ""}, {'-', -52, ""}};
  for (const auto& c : cases) EXPECT_STREQ(Repeated(c.c, c.count).c_str(), c.text) << c.count;
  EXPECT_EQ(Repeated('-', 54).Length(), 54);
}

}  // namespace

// Whole reports of the diagnostic run, compared byte for byte with the
// golden files: a passing run and each failure branch of the five steps.
#include "RunMachine.h"

#include <functional>

namespace diagrun {
namespace {

const char kWin[] = "C:\\WINDOWS\\";
const char kAtr20[] = "3B FF 11 00 00 81 31 FE 45 43 44 32 69 A9 41 00 00 20 20 20";

struct GoldenCase {
  const char* name;
  int model;
  std::function<void(RunMachine&)> shape;
};

std::string Win(const std::string& tail) { return kWin + tail; }

const GoldenCase kCases[] = {
    {"pass_xp_vq480t", 1, [](RunMachine&) {}},
    // Step 1: resource manager and smart card library.
    {"rm_missing", 1, [](RunMachine& m) { m.Remove(Win("system32\\SCardSvr.exe")); }},
    {"rm_5_0_1708_1", 1, [](RunMachine& m) { m.PutVersioned(Win("system32\\SCardSvr.exe"), "5.0.1708.1"); }},
    {"rm_6_0_1_0", 1, [](RunMachine& m) { m.PutVersioned(Win("system32\\SCardSvr.exe"), "6.0.1.0"); }},
    {"rm_old_nt4_not_judged", 1,
     [](RunMachine& m) {
       m.Use(System::WinNT4);
       m.PutVersioned(Win("system32\\SCardSvr.exe"), "5.0.1708.1");
     }},
    {"rm_vista_and_later_dll", 1, [](RunMachine& m) { m.Use(System::Win7x64); }},
    {"smclib_missing", 1, [](RunMachine& m) { m.Remove(Win("system32\\drivers\\smclib.sys")); }},
    {"smclib_5_0_1921_65535", 1,
     [](RunMachine& m) { m.PutVersioned(Win("system32\\drivers\\smclib.sys"), "5.0.1921.65535"); }},
    {"smclib_5_0_1922_0", 1,
     [](RunMachine& m) { m.PutVersioned(Win("system32\\drivers\\smclib.sys"), "5.0.1922.0"); }},
    {"smclib_without_version", 1, [](RunMachine& m) { m.PutUnversioned(Win("system32\\drivers\\smclib.sys")); }},
    // Step 2: the service.
    {"service_stopped_xp", 1, [](RunMachine& m) { m.SetService("stopped", false); }},
    {"service_only_as_process_xp", 1, [](RunMachine& m) { m.SetService("stopped", true); }},
    {"process_missing_98", 1,
     [](RunMachine& m) {
       m.Use(System::Win98);
       m.spec().processes.pop_back();
     }},
    // Step 3: driver and INF files.
    {"driver_64bit_name", 1, [](RunMachine& m) { m.Use(System::Win7x64); }},
    {"driver_64bit_syswow64", 1,
     [](RunMachine& m) {
       m.Use(System::Win7x64);
       m.Remove(Win("system32\\drivers\\vqusb64.sys"));
       m.PutVersioned(Win("SysWOW64\\drivers\\vqusb64.sys"), "2.1.0.7");
     }},
    {"driver_64bit_only_32bit_name", 1,
     [](RunMachine& m) {
       m.Use(System::Win7x64);
       m.Remove(Win("system32\\drivers\\vqusb64.sys"));
       m.PutVersioned(Win("system32\\drivers\\vqusb.sys"), "2.1.0.6");
     }},
    {"driver_without_version", 1, [](RunMachine& m) { m.PutUnversioned(Win("system32\\drivers\\vqusb.sys")); }},
    {"driver_missing", 1, [](RunMachine& m) { m.Remove(Win("system32\\drivers\\vqusb.sys")); }},
    {"inf_found_in_first_64_bytes", 1,
     [](RunMachine& m) {
       m.Remove(Win("inf\\vqusb.inf"));
       m.PutBytes(Win("inf\\oem3.inf"), "; Vqusb reader driver\r\n[Version]\r\nSignature=\"$Windows NT$\"\r\n");
       m.PutBytes(Win("inf\\machine.inf"), "; nothing of ours here\r\n");
     }},
    {"inf_names_driver_after_byte_64", 1,
     [](RunMachine& m) {
       m.Remove(Win("inf\\vqusb.inf"));
       m.PutBytes(Win("inf\\oem3.inf"), std::string(64, ';') + "\r\n; VQUSB reader driver\r\n");
     }},
    {"inf_in_subfolder_matching_pattern", 1,
     [](RunMachine& m) {
       m.Remove(Win("inf\\vqusb.inf"));
       m.PutBytes(Win("inf\\other.inf\\oem9.inf"), "; VQUSB\r\n");
     }},
    {"inf_other_name_98_not_searched", 1,
     [](RunMachine& m) {
       m.Use(System::Win98);
       m.Remove(Win("inf\\vqusb.inf"));
       m.PutBytes(Win("inf\\oem3.inf"), "; VQUSB reader driver\r\n");
     }},
    {"ifd_model_brel_t", 5,
     [](RunMachine& m) {
       m.SetReaders({{"TERVANE VQVASKT 0"}, {"TERVANE VQVASKTSAM 0", ""}});
     }},
    {"ifd_model_64bit", 7,
     [](RunMachine& m) {
       m.Use(System::Win7x64);
       m.PutVersioned(Win("system32\\drivers\\vqtorqbus64.sys"), "1.4.0.1");
       m.PutVersioned(Win("SysWOW64\\drivers\\vqtorqifd64.sys"), "1.4.0.2");
       m.SetReaders({{"TERVANE VQTORQV 0"}, {"TERVANE VQTORQV_CL 0", ""}});
     }},
    {"ifd_model_files_missing", 7,
     [](RunMachine& m) {
       m.Remove(Win("system32\\drivers\\vqtorqbus.sys"));
       m.Remove(Win("system32\\drivers\\vqtorqifd.sys"));
       m.SetReaders({});
     }},
    // Step 4: the reader list.
    {"no_reader_listed_error", 1, [](RunMachine& m) { m.SetReaders({}); }},
    {"no_reader_empty_list", 1,
     [](RunMachine& m) {
       m.SetReaders({});
       m.SetPcsc("no_readers_error = 0");
     }},
    {"three_readers_none_matching", 1,
     [](RunMachine& m) {
       m.SetReaders({{"Generic USB Reader 0"}, {"Tervane VQ480T 0"}, {"TERVANE VQNANO 0"}});
     }},
    {"two_matching_later_tested", 1,
     [](RunMachine& m) { m.SetReaders({{"TERVANE VQ480T 0"}, {"TERVANE VQ480T 1", ""}}); }},
    {"sibling_only_listed", 5,
     [](RunMachine& m) {
       m.SetReaders({{"TERVANE VQVASKTSAM 0"}});
     }},
    {"second_slot_torq", 7,
     [](RunMachine& m) {
       m.SetReaders({{"Generic USB Reader 0"}, {"TERVANE VQTORQS 0"}, {"TERVANE VQTORQS_CL 0", "t0", kAtr20}});
     }},
    {"second_slot_slev", 8,
     [](RunMachine& m) {
       m.SetReaders({{"TERVANE VQslev 0", ""}, {"TERVANE VQslev SAM 0"}});
     }},
    {"second_slot_model_8_one_reader", 8, [](RunMachine& m) { m.SetReaders({{"TERVANE VQslev 0"}}); }},
    {"second_slot_matched_reader_last", 5,
     [](RunMachine& m) { m.SetReaders({{"TERVANE VQVASKTSAM 0", ""}, {"TERVANE VQVASKT 0"}}); }},
    {"second_slot_status_query_fails", 5,
     [](RunMachine& m) {
       m.SetReaders({{"TERVANE VQVASKT 0"}, {"TERVANE VQVASKTSAM 0", "t1", "3B 00", "status_error = 0x80100017"}});
     }},
    {"no_service_permission", 1,
     [](RunMachine& m) { m.SetPcsc("establish_error = 0x8010001D"); }},
    {"list_read_fails", 1, [](RunMachine& m) { m.SetPcsc("list_read_error = 0x80100006"); }},
    // Step 5: the reader and its card.
    {"status_query_fails", 1,
     [](RunMachine& m) { m.SetReaders({{"TERVANE VQ480T 0", "t1", "3B 00", "status_error = 0x8010001E"}}); }},
    {"card_absent", 1, [](RunMachine& m) { m.SetReaders({{"TERVANE VQ480T 0", ""}}); }},
    {"connect_refused", 1,
     [](RunMachine& m) { m.SetReaders({{"TERVANE VQ480T 0", "t1", "3B 00", "connect_error = 0x8010000B"}}); }},
    {"atr_of_20_bytes", 1, [](RunMachine& m) { m.SetReaders({{"TERVANE VQ480T 0", "t0", kAtr20}}); }},
    {"get_attrib_fails", 1,
     [](RunMachine& m) { m.SetReaders({{"TERVANE VQ480T 0", "t1", "3B 00", "attrib_error = 0x80100016"}}); }},
    // The direct device opens of older Windows.
    {"old_windows_no_device", 1,
     [](RunMachine& m) {
       m.Use(System::Win98);
       m.SetReaders({{"TERVANE VQ480T 0", "", "", "state = 0x6"}});
     }},
    {"old_windows_device_not_held", 1,
     [](RunMachine& m) {
       m.Use(System::Win98);
       m.SetReaders({{"TERVANE VQ480T 0", "t1", "3B 88 80 01 00 00 00 00 00 00 00 00 09",
                      "device = \"VQUSB0\"\ndevice_open = \"free\""}});
     }},
    {"old_windows_device_held", 1,
     [](RunMachine& m) {
       m.Use(System::Win98);
       m.SetReaders({{"TERVANE VQ480T 0", "t1", "3B 88 80 01 00 00 00 00 00 00 00 00 09", "device = \"VQUSB0\""}});
     }},
    {"old_windows_second_slot_not_held", 5,
     [](RunMachine& m) {
       m.Use(System::WinNT4);
       m.SetReaders({{"TERVANE VQVASKT 0", "t1", "3B 00", "device = \"VQUSB0\""},
                     {"TERVANE VQVASKTSAM 0", "t1", "3B 00", "device = \"VQUSB1\"\ndevice_open = \"free\""}});
     }},
    {"old_windows_second_slot_held", 5,
     [](RunMachine& m) {
       m.Use(System::WinNT4);
       m.SetReaders({{"TERVANE VQVASKT 0", "t1", "3B 00", "device = \"VQUSB0\""},
                     {"TERVANE VQVASKTSAM 0", "", "", "device = \"VQUSB1\""}});
     }},
};

class GoldenReport : public ::testing::TestWithParam<GoldenCase> {};

// The driver files of the two-slot models, for the cases about their readers.
void InstallIfdDriver(RunMachine& m, int model) {
  const char* files[][2] = {{"vqubus", "vquifds"}, {"vqtorqbus", "vqtorqifd"}, {"vqslevbus", "vqslevifd"}};
  const int index = model == 5 ? 0 : model == 7 ? 1 : model == 8 ? 2 : -1;
  if (index < 0) return;
  m.PutVersioned(Win("system32\\drivers\\") + files[index][0] + ".sys", "1.3.0.2");
  m.PutVersioned(Win("system32\\drivers\\") + files[index][1] + ".sys", "1.3.0.5");
}

TEST_P(GoldenReport, MatchesGoldenFile) {
  RunMachine m;
  InstallIfdDriver(m, GetParam().model);
  GetParam().shape(m);
  m.Run(GetParam().model);
  ExpectGolden(GetParam().name, m.Report());
}

INSTANTIATE_TEST_SUITE_P(Cases, GoldenReport, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<GoldenCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace diagrun

// The embedded default machine: Windows XP Professional SP3, English, with
// the smart card base components, the running smart card service, the
// VQ 480T driver files (with version resources) and one reader with a card.
#include <winreg.h>

#include "vqwin/Machine.h"
#include "vqwin/Registry.h"

namespace vqwin {

std::string DefaultMachineToml() {
  return R"(# Windows XP Professional SP3, English: the embedded default machine.
[os]
platform = "nt"
major = 5
minor = 1
build = 2600
csd = "Service Pack 3"
sp_major = 3
suite_mask = 0x0100
product_type = 1
architecture = "x86"
windows_dir = 'C:\WINDOWS'

[locale]
lang_id = 0x0409
code_page = 1252

[identity]
computer_name = "VQ-XP"
user_name = "Administrator"

[screen]
width = 1024
height = 768

[clock]
mode = "virtual"
start = 2026-12-10T09:30:00
tick = 3600000

[program]
path = 'C:\Program Files\VQUSB\vqdiag.exe'

# Smart card base components.
[[files]]
path = 'C:\WINDOWS\system32\SCardSvr.exe'
version = "5.1.2600.5512"
strings = { CompanyName = "Microsoft Corporation", FileDescription = "Smart Card Resource Management Server" }

[[files]]
path = 'C:\WINDOWS\system32\winscard.dll'
version = "5.1.2600.5512"
strings = { CompanyName = "Microsoft Corporation", FileDescription = "Microsoft Smart Card API" }

[[files]]
path = 'C:\WINDOWS\system32\drivers\smclib.sys'
version = "5.1.2600.5512"
strings = { CompanyName = "Microsoft Corporation", FileDescription = "Smart Card Driver Library" }

# The VQ 480T reader driver.
[[files]]
path = 'C:\WINDOWS\system32\drivers\vqusb.sys'
version = "2.1.0.6"
strings = { CompanyName = "Tervane", FileDescription = "VQUSB PC/SC Smart Card Reader Driver" }

[[files]]
path = 'C:\WINDOWS\inf\vqusb.inf'
text = """
; VQUSB.INF -- VQUSB PC/SC Smart Card Reader Driver
[Version]
Signature="$Windows NT$"
Class=SmartCardReader
Provider=%Tervane%
DriverVer=03/18/2008,2.1.0.6
"""

[[files]]
path = 'C:\Program Files\VQUSB\vqdiag.exe'
version = "2.2.0.0"
strings = { CompanyName = "Tervane", FileDescription = "Diagnose Current Smart Card System" }

[[services]]
name = "SCardSvr"
state = "running"
pid = 1052

[[services]]
name = "VQUSB"
state = "running"

[[processes]]
name = "System Idle Process"
pid = 0

[[processes]]
name = "System"
pid = 4

[[processes]]
name = "smss.exe"
pid = 540
path = 'C:\WINDOWS\system32\smss.exe'

[[processes]]
name = "csrss.exe"
pid = 604
path = 'C:\WINDOWS\system32\csrss.exe'

[[processes]]
name = "winlogon.exe"
pid = 628
path = 'C:\WINDOWS\system32\winlogon.exe'

[[processes]]
name = "services.exe"
pid = 672
path = 'C:\WINDOWS\system32\services.exe'

[[processes]]
name = "lsass.exe"
pid = 684
path = 'C:\WINDOWS\system32\lsass.exe'

[[processes]]
name = "svchost.exe"
pid = 856
path = 'C:\WINDOWS\system32\svchost.exe'

[[processes]]
name = "SCardSvr.exe"
pid = 1052
path = 'C:\WINDOWS\system32\SCardSvr.exe'
service = "SCardSvr"

[[processes]]
name = "explorer.exe"
pid = 1480
path = 'C:\WINDOWS\explorer.exe'

[[readers]]
name = "TERVANE VQ480T 0"
card = "t1"
atr = "3B 88 80 01 00 00 00 00 00 00 00 00 09"
)";
}

std::string DefaultRegistryReg() {
  Registry r;
  const std::string cv = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
  r.SetString(cv, "ProgramFilesDir", "C:\\Program Files");
  r.SetString(cv, "CommonFilesDir", "C:\\Program Files\\Common Files");
  r.SetString(cv, "SystemRoot", "C:\\WINDOWS");
  r.Create(cv + "\\Run");
  const std::string nt = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
  r.SetString(nt, "ProductName", "Microsoft Windows XP");
  r.SetString(nt, "CurrentVersion", "5.1");
  r.SetString(nt, "CurrentBuildNumber", "2600");
  r.SetString(nt, "CSDVersion", "Service Pack 3");
  r.SetString(nt, "SystemRoot", "C:\\WINDOWS");

  const std::string services = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\";
  auto expand = [&](const std::string& key, const std::string& name, const std::string& text) {
    RegValue v{name, REG_EXPAND_SZ, std::vector<uint8_t>(text.begin(), text.end())};
    v.data.push_back(0);
    r.Create(key)->SetValue(v);
  };
  auto multi = [&](const std::string& key, const std::string& name, const std::string& text) {
    RegValue v{name, REG_MULTI_SZ, std::vector<uint8_t>(text.begin(), text.end())};
    v.data.push_back(0);
    v.data.push_back(0);
    r.Create(key)->SetValue(v);
  };
  const std::string scard = services + "SCardSvr";
  r.SetDword(scard, "Type", 0x10);
  r.SetDword(scard, "Start", 2);
  r.SetDword(scard, "ErrorControl", 1);
  expand(scard, "ImagePath", "%SystemRoot%\\System32\\SCardSvr.exe");
  r.SetString(scard, "DisplayName", "Smart Card");
  r.SetString(scard, "Group", "SmartCardGroup");
  multi(scard, "DependOnService", "PlugPlay");
  r.SetString(scard, "ObjectName", "LocalSystem");
  r.SetString(scard, "Description",
              "Manages access to smart cards read by this computer. If this service is stopped, this computer "
              "will be unable to read smart cards. If this service is disabled, any services that explicitly "
              "depend on it will fail to start.");
  const std::string smclib = services + "Smclib";
  r.SetDword(smclib, "Type", 1);
  r.SetDword(smclib, "Start", 3);
  r.SetDword(smclib, "ErrorControl", 1);
  r.SetString(smclib, "DisplayName", "Smart card helper library");
  const std::string vqusb = services + "VQUSB";
  r.SetDword(vqusb, "Type", 1);
  r.SetDword(vqusb, "Start", 3);
  r.SetDword(vqusb, "ErrorControl", 1);
  expand(vqusb, "ImagePath", "system32\\DRIVERS\\vqusb.sys");
  r.SetString(vqusb, "DisplayName", "VQUSB PC/SC Smart Card Reader Driver");
  r.SetString(vqusb, "Group", "Smart Card Reader");
  r.Create(services + "PlugPlay");
  r.SetDword(services + "PlugPlay", "Type", 0x20);
  r.SetDword(services + "PlugPlay", "Start", 2);
  r.SetString(services + "PlugPlay", "DisplayName", "Plug and Play");
  r.Create("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer");
  return r.ToText();
}

}  // namespace vqwin

// Stand-ins for the two service operations that the diagnostic run calls,
// until the service control window's own operations replace this file:
// the start type as the service's registry key stores it, and a
// recommendation that does nothing yet.
#include <vcl.h>
#include <windows.h>

#include <string.h>

#include "SCM_Main.h"

unsigned char __fastcall TfrmSCM::GetStartType(AnsiString serviceName)
{
    AnsiString path = "SYSTEM\\CurrentControlSet\\Services\\" + serviceName;
    HKEY key = NULL;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, path.c_str(), &key) != ERROR_SUCCESS)
        return 0;
    BYTE value[4];
    memset(value, 0, sizeof value);
    DWORD size = sizeof value;
    LONG result = RegQueryValueExA(key, "Start", NULL, NULL, value, &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS)
        return 0;
    return value[0];
}

void __fastcall TfrmSCM::bbtn_RecommendClick(TObject *Sender)
{
}

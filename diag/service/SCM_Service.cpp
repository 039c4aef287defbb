// Service operations of the service control window: the service lists,
// start, stop (dependents first), enable, the start type in the registry and
// the run state.
#include <vcl.h>
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "SCM_Main.h"

using namespace Scm_main;

namespace {

const DWORD kStopLimit = 30000;
// A start waits at most two minutes in all, counted from the operation's
// beginning, however the service's check point moves: a service that keeps
// reporting progress without ever getting there does not hold the window
// for ever.
const DWORD kStartLimit = 120000;

enum PendingEnd { PendingLeft, PendingQueryFailed, PendingStalled, PendingOverLimit };

// A tenth of the wait hint, kept within 1 to 10 seconds.
DWORD PollInterval(DWORD waitHint)
{
    DWORD wait = waitHint / 10;
    if (wait < 1000)
        wait = 1000;
    else if (wait > 10000)
        wait = 10000;
    return wait;
}

// The wait hint as reported, but no longer than until kStopLimit, counted
// from `since`, is passed: a service that reports a hint of days is still
// given up on at the first check past the limit. At least a millisecond
// passes, so that the limit is reached.
DWORD HintSleep(DWORD waitHint, DWORD since)
{
    const DWORD elapsed = GetTickCount() - since;
    const DWORD untilPassed = elapsed < kStopLimit ? kStopLimit - elapsed + 1 : 1;
    const DWORD wait = waitHint < untilPassed ? waitHint : untilPassed;
    return wait == 0 ? 1 : wait;
}

// The poll interval of the wait hint; the limit plays no part in it.
DWORD PollSleep(DWORD waitHint, DWORD)
{
    return PollInterval(waitHint);
}

BOOL QueryStatus(SC_HANDLE service, SERVICE_STATUS_PROCESS *status)
{
    DWORD needed = 0;
    if (QueryServiceStatusExPtr == NULL)
        return FALSE;
    return QueryServiceStatusExPtr(service, SC_STATUS_PROCESS_INFO, (LPBYTE)status,
                                   sizeof(SERVICE_STATUS_PROCESS), &needed);
}

// "SYSTEM\CurrentControlSet\Services\" and the name, in a 1024-character buffer.
void ServiceKeyPath(char *path, size_t size, const AnsiString &serviceName)
{
    memset(path, 0, size);
    snprintf(path, size, "SYSTEM\\CurrentControlSet\\Services\\%s", serviceName.c_str());
}

// Polls while the service stays in the pending state: until the state
// changes, a query fails, the check point has stood still for longer than
// the wait hint, or more than kStartLimit has passed since `operationStart`.
// The clock restarts whenever the check point moves.
PendingEnd WaitWhilePending(SC_HANDLE service, DWORD pending, SERVICE_STATUS_PROCESS *status,
                            DWORD operationStart)
{
    DWORD startTick = GetTickCount();
    DWORD oldCheckPoint = status->dwCheckPoint;
    // Bounded by kStartLimit and one poll interval (at most 10 s), sooner
    // when the check point stands still for longer than the wait hint.
    while (status->dwCurrentState == pending) {
        Sleep(PollInterval(status->dwWaitHint));
        if (!QueryStatus(service, status))
            return PendingQueryFailed;
        // Out of the pending state, its check point and wait hint read 0,
        // which is no time-out.
        if (status->dwCurrentState != pending)
            return PendingLeft;
        if (status->dwCheckPoint > oldCheckPoint) {
            startTick = GetTickCount();
            oldCheckPoint = status->dwCheckPoint;
        } else if (GetTickCount() - startTick > status->dwWaitHint) {
            return PendingStalled;
        }
        if (GetTickCount() - operationStart > kStartLimit)
            return PendingOverLimit;
    }
    return PendingLeft;
}

enum StopEnd { StopReached, StopQueryFailed, StopOverLimit };

// Sleeps and queries until the service has stopped, a query fails, or more
// than kStopLimit has passed since `since`; each sleep is `pause` of the
// wait hint just read and `since`.
StopEnd WaitUntilStopped(SC_HANDLE service, SERVICE_STATUS_PROCESS *status, DWORD (*pause)(DWORD, DWORD),
                         DWORD since)
{
    // Bounded by kStopLimit from `since`.
    while (status->dwCurrentState != SERVICE_STOPPED) {
        Sleep(pause(status->dwWaitHint, since));
        if (!QueryStatus(service, status))
            return StopQueryFailed;
        if (status->dwCurrentState == SERVICE_STOPPED)
            break;
        if (GetTickCount() - since > kStopLimit)
            return StopOverLimit;
    }
    return StopReached;
}

void CloseHandles()
{
    if (ServiceHandle != NULL)
        CloseServiceHandle(ServiceHandle);
    if (ManagerHandle != NULL)
        CloseServiceHandle(ManagerHandle);
    ServiceHandle = NULL;
    ManagerHandle = NULL;
}

}  // namespace

void __fastcall TfrmSCM::FillServiceLists()
{
    // Connect and enumerate are all the lists need: a user without
    // administrator rights is granted them and sees the services there are.
    SC_HANDLE manager = OpenSCManagerA(NULL, "ServicesActive", SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE);
    if (manager == NULL)
        return;

    ENUM_SERVICE_STATUSA first[1];
    DWORD needed = 0, returned = 0, resume = 0;
    if (!EnumServicesStatusA(manager, 0x3B, SERVICE_STATE_ALL, first, sizeof first, &needed, &returned,
                             &resume)
        && GetLastError() == ERROR_MORE_DATA) {
        const DWORD size = needed + sizeof first;
        ENUM_SERVICE_STATUSA *entries = (ENUM_SERVICE_STATUSA *)new char[size];
        memset(entries, 0, size);
        returned = 0;
        EnumServicesStatusA(manager, 0x3B, SERVICE_STATE_ALL, entries, size, &needed, &returned, &resume);
        for (DWORD i = 0; i < returned; ++i) {
            cbbox_ServiceDisplayName->Items->Add(entries[i].lpDisplayName);
            cbbox_ServiceProcessName->Items->Add(entries[i].lpServiceName);
        }
        delete[] (char *)entries;
    }
    CloseServiceHandle(manager);
}

// The common start of a start and a stop: the progress bar from 0, the
// manager and the service opened into the unit's handle slots and the
// service's status read, 10 more after each. A failure writes its message
// (1, 2 or 3) and gives false; the caller closes what was opened.
bool __fastcall TfrmSCM::OpenForOperation(AnsiString serviceName, DWORD access, SERVICE_STATUS_PROCESS *status)
{
    memset(status, 0, sizeof *status);
    pgsbar_SCM->Position = 0;
    pgsbar_SCM->Min = 0;
    pgsbar_SCM->Max = 100;

    ManagerHandle = OpenSCManagerA(NULL, NULL, STANDARD_RIGHTS_READ | SC_MANAGER_CONNECT);
    if (ManagerHandle == NULL) {
        ShowServiceMessage(1);
        return false;
    }
    pgsbar_SCM->Position += 10;
    ServiceHandle = OpenServiceA(ManagerHandle, serviceName.c_str(), access);
    if (ServiceHandle == NULL) {
        ShowServiceMessage(2);
        return false;
    }
    pgsbar_SCM->Position += 10;
    if (!QueryStatus(ServiceHandle, status)) {
        ShowServiceMessage(3);
        return false;
    }
    pgsbar_SCM->Position += 10;
    return true;
}

unsigned char __fastcall TfrmSCM::StartServiceAndWait(AnsiString serviceName)
{
    SERVICE_STATUS_PROCESS status;
    unsigned char result = 0;
    const DWORD startTime = GetTickCount();
    if (!OpenForOperation(serviceName, SERVICE_QUERY_STATUS | SERVICE_START, &status))
        goto done;

    if (status.dwCurrentState != SERVICE_STOPPED && status.dwCurrentState != SERVICE_STOP_PENDING) {
        ShowServiceMessage(12);
        goto done;
    }
    pgsbar_SCM->Position += 10;

    switch (WaitWhilePending(ServiceHandle, SERVICE_STOP_PENDING, &status, startTime)) {
    case PendingQueryFailed:
        ShowServiceMessage(3);
        goto done;
    case PendingStalled:
    case PendingOverLimit:
        ShowServiceMessage(5);
        goto done;
    case PendingLeft:
        break;
    }
    pgsbar_SCM->Position += 10;

    if (!StartServiceA(ServiceHandle, 0, NULL)) {
        ShowServiceMessage(6);
        goto done;
    }
    pgsbar_SCM->Position += 10;
    if (!QueryStatus(ServiceHandle, &status)) {
        ShowServiceMessage(3);
        goto done;
    }
    pgsbar_SCM->Position += 10;

    // A wait that ends without the service running, on a stall or the
    // overall limit, is told by message 11 below.
    if (WaitWhilePending(ServiceHandle, SERVICE_START_PENDING, &status, startTime) == PendingQueryFailed)
        ShowServiceMessage(3);

    if (status.dwCurrentState == SERVICE_RUNNING) {
        pgsbar_SCM->Position += 10;
        pgsbar_SCM->Position = 100;
        ShowServiceMessage(13);
        result = 1;
    } else {
        ShowServiceMessage(11);
    }

done:
    CloseHandles();
    if (result != 1)
        pgsbar_SCM->Position = 0;
    return result;
}

unsigned char __fastcall TfrmSCM::StopServiceAndWait(AnsiString serviceName)
{
    SERVICE_STATUS_PROCESS status;
    unsigned char result = 0;
    const DWORD startTime = GetTickCount();
    if (!OpenForOperation(serviceName, SERVICE_STOP | SERVICE_QUERY_STATUS | SERVICE_ENUMERATE_DEPENDENTS,
                          &status))
        goto done;

    if (status.dwCurrentState == SERVICE_STOPPED) {
        ShowServiceMessage(14);
        goto done;
    }
    pgsbar_SCM->Position += 10;

    // Bounded by kStopLimit from the operation's start.
    while (status.dwCurrentState == SERVICE_STOP_PENDING) {
        Sleep(HintSleep(status.dwWaitHint, startTime));
        if (!QueryStatus(ServiceHandle, &status)) {
            ShowServiceMessage(3);
            goto done;
        }
        if (status.dwCurrentState == SERVICE_STOPPED) {
            pgsbar_SCM->Position = 100;
            Sleep(100);
            ShowServiceMessage(15);
            result = 1;
            goto done;
        }
        if (GetTickCount() - startTime > kStopLimit) {
            ShowServiceMessage(5);
            goto done;
        }
    }
    pgsbar_SCM->Position += 10;

    StopDependentServices();
    pgsbar_SCM->Position += 10;

    if (!ControlService(ServiceHandle, SERVICE_CONTROL_STOP, (LPSERVICE_STATUS)&status)) {
        ShowServiceMessage(8);
        goto done;
    }
    pgsbar_SCM->Position += 10;

    switch (WaitUntilStopped(ServiceHandle, &status, PollSleep, startTime)) {
    case StopQueryFailed:
        ShowServiceMessage(3);
        goto done;
    case StopOverLimit:
        ShowServiceMessage(5);
        goto done;
    case StopReached:
        break;
    }

    pgsbar_SCM->Position = 100;
    ShowServiceMessage(15);
    result = 1;

done:
    CloseHandles();
    if (result != 1)
        pgsbar_SCM->Position = 0;
    return result;
}

int __fastcall TfrmSCM::StopDependentServices()
{
    const DWORD startTime = GetTickCount();
    DWORD needed = 0, count = 0;

    if (EnumDependentServicesA(ServiceHandle, SERVICE_ACTIVE, NULL, 0, &needed, &count))
        return 1;
    if (GetLastError() != ERROR_MORE_DATA)
        return 0;

    LPENUM_SERVICE_STATUSA dependents =
        (LPENUM_SERVICE_STATUSA)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, needed);
    if (dependents == NULL)
        return 0;

    int result = 0;
    if (EnumDependentServicesA(ServiceHandle, SERVICE_ACTIVE, dependents, needed, &needed, &count)) {
        result = 1;
        for (DWORD i = 0; i < count && result == 1; ++i) {
            SC_HANDLE dependent = OpenServiceA(ManagerHandle, dependents[i].lpServiceName,
                                               SERVICE_STOP | SERVICE_QUERY_STATUS);
            if (dependent == NULL) {
                result = 0;
                break;
            }
            SERVICE_STATUS_PROCESS status;
            memset(&status, 0, sizeof status);
            if (!ControlService(dependent, SERVICE_CONTROL_STOP, (LPSERVICE_STATUS)&status)
                || WaitUntilStopped(dependent, &status, HintSleep, startTime) != StopReached)
                result = 0;
            CloseServiceHandle(dependent);
        }
    }
    HeapFree(GetProcessHeap(), 0, dependents);
    return result;
}

unsigned char __fastcall TfrmSCM::EnableService(AnsiString serviceName)
{
    unsigned char result = 0;
    ManagerHandle = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    if (ManagerHandle == NULL) {
        ShowServiceMessage(1);
    } else {
        ServiceHandle = OpenServiceA(ManagerHandle, serviceName.c_str(), SERVICE_CHANGE_CONFIG);
        if (ServiceHandle == NULL) {
            ShowServiceMessage(2);
        } else if (!ChangeServiceConfigA(ServiceHandle, SERVICE_NO_CHANGE, SERVICE_DEMAND_START,
                                         SERVICE_NO_CHANGE, NULL, NULL, NULL, NULL, NULL, NULL, NULL)) {
            ShowServiceMessage(4);
        } else {
            ShowServiceMessage(16);
            result = 1;
        }
    }
    CloseHandles();
    if (result != 1)
        pgsbar_SCM->Position = 0;
    return result;
}

int __fastcall TfrmSCM::SetStartType(AnsiString serviceName, int startType)
{
    char path[1024];
    HKEY key = NULL;
    ServiceKeyPath(path, sizeof path, serviceName);
    // The registry calls return their error instead of leaving it as the
    // thread's last error, which the message shows: it is handed over.
    LONG error = RegOpenKeyA(HKEY_LOCAL_MACHINE, path, &key);
    if (error != ERROR_SUCCESS) {
        SetLastError((DWORD)error);
        ShowServiceMessage(7);
        return 0;
    }
    DWORD value = (DWORD)startType;
    error = RegSetValueExA(key, "Start", 0, REG_DWORD, (const BYTE *)&value, sizeof value);
    if (error != ERROR_SUCCESS) {
        SetLastError((DWORD)error);
        ShowServiceMessage(7);
        RegCloseKey(key);
        return 0;
    }
    RegCloseKey(key);
    ShowServiceMessage(17);
    return 1;
}

unsigned char __fastcall TfrmSCM::QueryServiceState(AnsiString serviceName)
{
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, STANDARD_RIGHTS_READ | SC_MANAGER_CONNECT);
    if (manager == NULL)
        return 1;
    SC_HANDLE service = OpenServiceA(manager, serviceName.c_str(), SERVICE_QUERY_STATUS | SERVICE_START);
    if (service == NULL) {
        CloseServiceHandle(manager);
        return 2;
    }
    SERVICE_STATUS_PROCESS status;
    memset(&status, 0, sizeof status);
    unsigned char result;
    if (!QueryStatus(service, &status))
        result = 3;
    else if (status.dwCurrentState == SERVICE_RUNNING)
        result = 10;
    else if (status.dwCurrentState == SERVICE_STOPPED)
        result = 11;
    else
        result = 0;
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return result;
}

unsigned char __fastcall TfrmSCM::GetStartType(AnsiString serviceName)
{
    char path[1024];
    HKEY key = NULL;
    ServiceKeyPath(path, sizeof path, serviceName);
    LONG error = RegOpenKeyA(HKEY_LOCAL_MACHINE, path, &key);
    if (error != ERROR_SUCCESS) {
        SetLastError((DWORD)error);
        ShowServiceMessage(9);
        return 0;
    }
    BYTE value[4];
    memset(value, 0, sizeof value);
    DWORD size = sizeof value;
    error = RegQueryValueExA(key, "Start", NULL, NULL, value, &size);
    if (error != ERROR_SUCCESS) {
        SetLastError((DWORD)error);
        ShowServiceMessage(9);
        RegCloseKey(key);
        return 0;
    }
    RegCloseKey(key);
    return value[0];
}

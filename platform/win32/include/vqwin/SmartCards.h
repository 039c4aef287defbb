// The smart-card side of a machine: its services, processes, readers and
// reader devices, as machine.toml declares them, and the hooks tests use.
//
// [[services]]   name = "SCardSvr", display = "Smart Card",
//                state = "running" | "stopped" | "start_pending" | "stop_pending"
//                        | "paused" | "pause_pending" | "continue_pending",
//                type = 0x20, open_error = N (OpenServiceA fails with N),
//                query_error = N (QueryServiceStatus fails with N).
//                A key under HKLM\SYSTEM\CurrentControlSet\Services declares a
//                stopped service too.
// [[processes]]  name = "SCardSvr.exe" and/or path = "C:\WINDOWS\SYSTEM\SCARDSVR.EXE",
//                pid, parent, threads, service = "SCardSvr" (the process of
//                that service: it exists only while the service is not
//                stopped). Snapshots give the full path on
//                Windows 95/98/ME (the system folder + name when no path is
//                given) and the file name alone on the NT family.
// [pcsc]         establish_error = N (both scopes), establish_user_error = N
//                (the user scope only), list_error = N (both reader-list calls),
//                list_read_error = N (only the call that reads the list),
//                no_readers_error = N (what an empty list gives; default
//                SCARD_E_NO_READERS_AVAILABLE, 0: an empty multi-string),
//                status_delay_ms = N (a status query is answered N ms of
//                machine time after it is asked; one whose time-out is
//                shorter fails with SCARD_E_TIMEOUT once that has passed),
//                status_hangs = true (a resource manager that never answers
//                a status query: each waits out its time-out and fails with
//                SCARD_E_TIMEOUT, an infinite one waits until SCardCancel or
//                SCardReleaseContext). The waits run on the machine's clock
//                (no real time passes on a virtual one).
//                Without establish_error the context is refused with
//                SCARD_E_NO_SERVICE when the smart card service is declared
//                and not running and no listed scardsvr.exe stands apart
//                from a service (NT family), or when processes are declared
//                and none listed is scardsvr.exe (Windows 95/98/ME).
// [[readers]]    name = "TERVANE VQ480T 0" (name_hex = "54 45 ..." gives the
//                name's bytes instead, any bytes), card = true | "t0" | "t1" (a card, speaking T=0 or T=1),
//                atr = "3B 8F ...", protocol = 1 | 2 (instead of the card's),
//                state = N (the event state, instead of the one card gives),
//                status_error, connect_error, attrib_error = N,
//                status_hangs = true (as [pcsc]'s, for this reader only),
//                device = "VQUSB0" (the device \\.\VQUSB0 of the reader),
//                device_open = "held" (the resource manager holds it: the open
//                fails with device_error, default ERROR_SHARING_VIOLATION) |
//                "free" (the open succeeds).
//                A device path that no reader names fails with ERROR_FILE_NOT_FOUND.
#pragma once

#include <functional>
#include <string>

namespace vqwin {

// Status queries now waiting (a query that never answers shows here).
int BlockedStatusQueries();

// Makes CreateFileA on \\.\NAME reach the devices of the current machine's
// readers. Done by the resource manager's first call; tests of the device
// opens alone call it themselves.
void InstallReaderDevices();

// Called with the device name ("VQUSB0") at each direct open of a reader
// device, before its outcome (tests look at the program at that moment).
void SetReaderDeviceObserver(std::function<void(const std::string& name)> observer);

}  // namespace vqwin

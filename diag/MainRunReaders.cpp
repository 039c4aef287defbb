// Steps 4 and 5 of the diagnostic run: the readers the resource manager
// lists, the chosen model among them, the reader's device, its card and ATR,
// and the second slot of the two-slot models.
#include <vcl.h>
#include <windows.h>
#include <winscard.h>

#include <string.h>

#include "Main.h"
#include "MainRun.h"
#include "MainRunSteps.h"
#include "ReaderModel.h"

namespace {

const char kPassedLine[] = "           ...................................................PASSED";
const char kFailedLine[] = "           ...................................................FAILED";
const char kNotActiveLine[] = "           .....................SMART CARD BASE COMPONENT NOT ACTIVE";
const char kSecondHeader[] = "     Communication with Reader (Second)";
const int kAtrShown = 12;  // bytes of the ATR that the card label shows
// How long a status query may wait for the resource manager. A query from
// the unaware state is answered at once by a resource manager that works;
// one that has not answered within the 10 s the run also gives the reader's
// direct open (Timer1) is not going to: the query then fails with
// SCARD_E_TIMEOUT, which the report shows, and the run goes on.
const DWORD kStatusQueryLimit = 10000;

enum DirectOpen { DeviceMissing, DeviceHeld, DeviceFree };

// Opens the reader's device directly (older Windows): the resource manager
// holds a device it drives, so an open that succeeds means it doesn't.
DirectOpen OpenReaderDevice(TSelfForm *form, const char *path, DWORD eventState)
{
    form->Timer1->Enabled = true;
    HANDLE device = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    const DWORD error = GetLastError();
    form->Timer1->Enabled = false;
    if (device != INVALID_HANDLE_VALUE) {
        CloseHandle(device);
        return DeviceFree;
    }
    if (error == ERROR_FILE_NOT_FOUND && (eventState & SCARD_STATE_UNKNOWN) != 0)
        return DeviceMissing;
    return DeviceHeld;
}

// The card of the selected reader: connect, read the ATR, disconnect. The
// row passes whatever the card does.
void TestCard(TSelfForm *form, TLabel *label)
{
    const int reader = form->SelectedReader;
    label->Caption = "Card Absent";
    AnsiString line;
    if ((form->ReaderStates[reader].dwEventState & SCARD_STATE_PRESENT) != 0) {
        label->Caption = "ATR : ????";
        LONG result = SCardConnectA(form->ScardContext, form->ReaderStates[reader].szReader, SCARD_SHARE_SHARED,
                                    SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &form->CardHandles[reader],
                                    &form->ActiveProtocols[reader]);
        if (result != SCARD_S_SUCCESS) {
            AppendReportLine(line.sprintf("           SCardConnect Fail : 0x%08X", (unsigned)result));
            AppendReportLine(kPassedLine);
        } else {
            BYTE atr[64];
            memset(atr, 0, sizeof atr);
            DWORD atrLength = sizeof atr;
            result = SCardGetAttrib(form->CardHandles[reader], SCARD_ATTR_ATR_STRING, atr, &atrLength);
            if (result != SCARD_S_SUCCESS) {
                AppendReportLine(line.sprintf("           SCardGetAttrib Fail : %08X", (unsigned)result));
            } else {
                if (atrLength > sizeof atr)
                    atrLength = sizeof atr;
                if (atrLength <= (DWORD)kAtrShown)
                    label->Caption = "ATR : " + FormatAtrHex(atr, atrLength);
                else
                    label->Caption = "ATR : " + FormatAtrHex(atr, kAtrShown) + "........";
                AppendReportLine("           ATR : " + FormatAtrHex(atr, atrLength));
            }
            AppendReportLine(kPassedLine);
            SCardDisconnect(form->CardHandles[reader], SCARD_UNPOWER_CARD);
        }
    } else {
        AppendReportLine("          (Card Absent).......................................PASSED");
    }
}

LONG QueryReaderState(TSelfForm *form)
{
    return SCardGetStatusChangeA(form->ScardContext, kStatusQueryLimit, &form->ReaderStates[form->SelectedReader],
                                 1);
}

void RunFirstSlot(TSelfForm *form, int &ok)
{
    AppendReportLine("<5>. Communication with Reader (First)");
    int pass = 0;
    AnsiString line;
    if (form->SelectedReader == -1) {
        AppendReportLine(line.sprintf("           %s : Reader Not Found",
                                      form->cbobox_SelectReader->Text.get().c_str()));
        AppendReportLine(kFailedLine);
        ok = 0;
    } else if (LONG result = QueryReaderState(form)) {
        AppendReportLine(line.sprintf("           SCardGetStatusChange Fail : 0x%08X", (unsigned)result));
        AppendReportLine(kFailedLine);
        ok = 0;
    } else {
        DirectOpen open = DeviceHeld;
        if (form->OsVersionCode < 8) {
            form->Label14->Caption = "ATR : ????";
            open = OpenReaderDevice(form, "\\\\.\\VQUSB0", form->ReaderStates[form->SelectedReader].dwEventState);
        }
        if (open == DeviceMissing) {
            form->Label14->Caption = "";
            ok = 0;
            AppendReportLine("           No Reader Found");
            AppendReportLine(kFailedLine);
        } else if (open == DeviceFree) {
            form->Label14->Caption = "";
            ok = 0;
            AppendReportLine("           Resource Manager does not handle this driver");
            AppendReportLine(kFailedLine);
        } else {
            TestCard(form, form->Label14);
            pass = 1;
            form->Label14->Visible = true;
        }
    }
    form->ShowStepMark(pass, 6);
}

void RunSecondSlot(TSelfForm *form, int &ok)
{
    int pass = 0;
    form->SelectedReader = form->SelectedReader + 1;
    AnsiString line;
    if (LONG result = QueryReaderState(form)) {
        AppendReportLine(kSecondHeader);
        AppendReportLine(line.sprintf("           SCardGetStatusChange Fail : 0x%08X", (unsigned)result));
        AppendReportLine(kFailedLine);
        ok = 0;
    } else {
        if (form->OsVersionCode <= 7) {
            DirectOpen open =
                OpenReaderDevice(form, "\\\\.\\VQUSB1", form->ReaderStates[form->SelectedReader].dwEventState);
            if (open != DeviceHeld) {
                // No device, or one the resource manager doesn't hold: no trace.
                form->Label15->Caption = "";
                return;
            }
        }
        AppendReportLine(kSecondHeader);
        TestCard(form, form->Label15);
        pass = 1;
    }
    form->Label13->Visible = true;
    form->Label15->Visible = true;
    form->ShowStepMark(pass, 7);
}

}  // namespace

int __fastcall TSelfForm::EnumerateReaders()
{
    NoServicePermission = 0;
    if (ScardContext != 0) {
        SCardReleaseContext(ScardContext);
        ScardContext = 0;
    }

    AnsiString line;
    LONG result = SCardEstablishContext(SCARD_SCOPE_USER, NULL, NULL, &ScardContext);
    if (result != SCARD_S_SUCCESS) {
        ScardContext = 0;
        result = SCardEstablishContext(SCARD_SCOPE_SYSTEM, NULL, NULL, &ScardContext);
        if (result != SCARD_S_SUCCESS) {
            ScardContext = 0;
            if (result == SCARD_E_NO_SERVICE && ServiceRunning == 1)
                NoServicePermission = 1;
            AppendReportLine(line.sprintf("           SCardEstablishContext Fail : 0x%08X", (unsigned)result));
            return 0;
        }
    }

    result = SCardListReadersA(ScardContext, NULL, NULL, &ReaderListLength);
    if (result != SCARD_S_SUCCESS) {
        AppendReportLine(line.sprintf("           SCardListReaders Fail : 0x%08X", (unsigned)result));
        return 0;
    }

    // The states point into the list: forget them with it.
    memset(ReaderStates, 0, sizeof ReaderStates);
    delete[] ReaderList;
    // Two spare zero bytes end the walk below even when the list the
    // resource manager wrote lacks its terminators.
    ReaderList = new char[(size_t)ReaderListLength + 2];
    memset(ReaderList, 0, (size_t)ReaderListLength + 2);
    ReaderCount = 0;
    DWORD length = ReaderListLength;
    result = SCardListReadersA(ScardContext, NULL, ReaderList, &length);
    if (result != SCARD_S_SUCCESS) {
        AppendReportLine(line.sprintf("           SCardListReaders Fail : 0x%08X", (unsigned)result));
        return 0;
    }

    const char *name = ReaderList;
    const char *end = ReaderList + ReaderListLength;
    while (name < end && *name != '\0' && ReaderCount < MaxListedReaders) {
        SCARD_READERSTATEA &state = ReaderStates[ReaderCount];
        state.szReader = name;
        state.dwCurrentState = SCARD_STATE_UNAWARE;
        ++ReaderCount;
        name += strlen(name) + 1;
    }

    if (ReaderCount == 0) {
        AppendReportLine("           No Reader Found");
        return 0;
    }
    return 1;
}

void RunReaderRegistrationStep(TSelfForm *form, int &ok, int active)
{
    AppendReportLine("<4>. Reader Registration (Device Manager)");
    if (active == 0) {
        ok = 0;
        AppendReportLine(kNotActiveLine);
        form->ShowStepMark(0, 5);
        AppendReportLine("");
        AppendReportLine("<5>. Communication with Reader");
        AppendReportLine(kNotActiveLine);
        form->ShowStepMark(0, 6);
        return;
    }

    int pass = 0;
    form->SelectedReader = -1;
    AnsiString line;
    if (form->EnumerateReaders() == 1) {
        const int model = form->cbobox_SelectReader->ItemIndex;
        for (int i = 0; i < form->ReaderCount; ++i) {
            const char *name = form->ReaderStates[i].szReader;
            AppendReportLine(line.sprintf("           Device %d : %s", i, name));
            const int match = MatchReaderName(model, name);
            if (match != 0) {
                pass = 1;
                form->SelectedReader = match == 2 ? i - 1 : i;
            }
        }
        AppendReportLine(pass == 1 ? kPassedLine : kFailedLine);
    } else {
        if (form->NoServicePermission == 1)
            AppendReportLine("           No Permission to Use Smart Card Service");
        AppendReportLine(kFailedLine);
        ok = 0;
    }
    AppendReportLine("");
    form->ShowStepMark(pass, 5);
}

void RunCommunicationStep(TSelfForm *form, int &ok)
{
    RunFirstSlot(form, ok);
    const int model = form->cbobox_SelectReader->ItemIndex;
    if (ReaderModel[model].SecondSlot && form->SelectedReader != -1 && form->ReaderCount >= 2
        && form->SelectedReader + 1 < form->ReaderCount)
        RunSecondSlot(form, ok);
}

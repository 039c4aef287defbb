#include <vcl.h>
#include <windows.h>

#include "Main.h"

const TextPair MainTexts[MainTextCount] = {
    {{L"Smart Card Reader Self Testing Program v2.2", L"智慧卡讀卡機自我檢測程式 v2.2"}},
    {{L"&Diagnostic", L"檢測(&D)"}},
    {{L"E&xit", L"離開(&x)"}},
    {{L"&View Log", L"檢視紀錄(&V)"}},
    {{L"&FAQ", L"疑難排解(&Q)"}},
    {{L"&Service Tool", L"服務控制工具(&T)"}},
    {{L"&Close", L"關閉(&C)"}},
    {{L"Plz select a reader type", L"請選擇讀卡機型號"}},
    {{L"&Save", L"儲存(&S)"}},
    {{L"Diagnostic Result", L"檢測結果"}},
    {{L"&About", L"關於(&A)"}},
    {{L"About", L"關於"}},
    {{L"CHECKED ITEMS", L"檢查項目"}},
    {{L"PASSED", L"通過"}},
    {{L"FAILED", L"失敗"}},
    {{L"Reader Installed Successfully", L"讀卡機已正確安裝"}},
    {{L"Reader Installed Incorrectly", L"讀卡機尚未正確安裝"}},
    {{L"No Response! Please reboot your system!", L"沒有回應! 請重新啟動系統"}},
};

AnsiString MainText(int index, int languageIndex)
{
    if (index < 0 || index >= MainTextCount)
        return AnsiString();
    return AnsiString(MainTexts[index].Text[languageIndex == 1 ? 1 : 0]);
}

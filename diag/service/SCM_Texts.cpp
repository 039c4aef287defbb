#include <vcl.h>

#include "SCM_Main.h"
#include "SCM_Texts.h"

AnsiString ScmText(const TextPair &pair)
{
    return AnsiString(pair.Text[Scm_main::LanguageIndex == 1 ? 1 : 0]);
}

const TextPair ScmCaptionText = {{L"Smart Card Service Control Tool - %s ", L"智慧卡服務控制工具 - %s "}};
const TextPair ScmDisplayNameText = {{L"Display Name", L"顯示名稱"}};
const TextPair ScmServiceNameText = {{L"Service Name", L"服務名稱"}};
const TextPair ScmAutoRefreshText = {{L"Auto Refresh", L"自動更新"}};
const TextPair ScmMillisecondsText = {{L"ms", L"毫秒"}};
const TextPair ScmRefreshText = {{L"Refresh", L"立即更新"}};
const TextPair ScmRecommendText = {{L"Recommend", L"建議設定"}};
const TextPair ScmStatusText = {{L"Staatus", L"狀態"}};
const TextPair ScmStatusItems[4] = {
    {{L"START", L"啟動"}}, {{L"STOP", L"停止"}}, {{L"SUSPEND", L"暫停"}}, {{L"RESUME", L"繼續"}}};
const TextPair ScmTypeText = {{L"Type", L"啟動類型"}};
const TextPair ScmTypeItems[3] = {{{L"AUTO", L"自動"}}, {{L"MANUAL", L"手動"}}, {{L"DISABLE", L"停用"}}};
const TextPair ScmInfoText = {{L"Information", L"訊息"}};
const TextPair ScmApplyText = {{L"Apply", L"套用"}};
const TextPair ScmCancelText = {{L"Cancel", L"取消"}};
const TextPair ScmProcessListText = {{L"Process List", L"處理程序"}};

const TextPair ScmNotFoundLines[5] = {
    {{L"-> Smart Card service not found !", L"-> 找不到智慧卡服務元件 !"}},
    {{L"- Plz open windows : [Control Panel] - [Administrative Tools] - [Services].",
      L"- 請開啟 [控制台] - [系統管理工具] - [服務] 視窗，"}},
    {{L"- Check if any service of [Smart Card] exists ?", L"- 並檢查 [Smart Card] 服務元件是否存在 ?"}},
    {{L"- If you have installed drivers successfully from CD setup,", L"- 如果你已經完成驅動程式安裝，"}},
    {{L"- for more details, just refers to [FAQ] function of self-testing tool.",
      L"- 詳細解決方式請參照 [自我檢測程式] 之 [疑難排解] 功能。"}}};

const TextPair ScmMissingLines[3] = {
    {{L"-> Some Smart Card service component not found !", L"-> 智慧卡服務元件未齊全 !"}},
    {{L"- If you have installed drivers successfully from CD setup,", L"- 如果你已經完成驅動程式安裝，"}},
    {{L"- for more details, just refers to [FAQ] function of self-testing tool.",
      L"- 詳細解決方式請參照 [自我檢測程式] 之 [疑難排解] 功能。"}}};

const TextPair ScmSettingLines[2] = {
    {{L"-> Smart Card service status should be [Start] + [Auto]", L"-> 智慧卡服務元件必須為 : [啟動] + [自動]"}},
    {{L"-> Setting [ Smart Card ] service...", L"-> 設定智慧卡服務元件中..."}}};

const TextPair ScmPerfectLines[3] = {
    {{L"-> Smart Card service status works perfectly.", L"-> 智慧卡服務元件已是最佳狀態"}},
    {{L"-> You don't need to set this service", L"-> 您不需再次設定此元件"}},
    {{L"-> Press [Cancel] to close windows", L"-> 請按下 [取消] 關閉本程式"}}};

const TextPair ScmServiceMessages[18] = {
    {{L"", L""}},
    {{L"-> Open service control manager failed (%s).", L"-> 無法開啟服務控制管理員 (%s)"}},
    {{L"-> Open service failed (%s).", L"-> 無法開啟服務 (%s)"}},
    {{L"-> Query service status failed (%s).", L"-> 無法取得服務狀態 (%s)"}},
    {{L"-> Change service config failed (%s).", L"-> 變更服務設定失敗 (%s)"}},
    {{L"-> Timeout waiting for service to stop.", L"-> 等候服務狀態逾時"}},
    {{L"-> Start service failed (%s).", L"-> 啟動服務失敗 (%s)"}},
    {{L"-> Set start type failed (%s).", L"-> 設定啟動類型失敗 (%s)"}},
    {{L"-> Stop service failed (%s).", L"-> 停止服務失敗 (%s)"}},
    {{L"-> Get start type failed (%s).", L"-> 讀取啟動類型失敗 (%s)"}},
    {{L"-> Service is running.", L"-> 服務已啟動"}},
    {{L"-> Service is not running.", L"-> 服務尚未啟動"}},
    {{L"-> Cannot start the service because it is already running.", L"-> 無法啟動服務，因為服務已經啟動"}},
    {{L"-> Service start successfully.", L"-> 啟動服務成功"}},
    {{L"-> Cannot stop the service because it is already stopped.", L"-> 無法停止服務，因為服務已經停止"}},
    {{L"-> Service stop successfully.", L"-> 停止服務成功"}},
    {{L"-> Service enable successfully.", L"-> 啟用服務成功"}},
    {{L"-> Set start type successfully.", L"-> 設定啟動類型成功"}}};

const TextPair ScmAttemptStartText = {
    {L"-> The program attempts to start the following service: %s", L"-> 程式正嘗試啟動下列服務: %s"}};
const TextPair ScmAttemptStopText = {
    {L"-> The program attempts to stop the following service: %s", L"-> 程式正嘗試停止下列服務: %s"}};
const TextPair ScmSuspendText = {{L"-> Suspend is not support", L"-> 尚未支援 - 暫停狀態"}};
const TextPair ScmResumeText = {{L"-> Resume is not support", L"-> 尚未支援 - 繼續狀態"}};
const TextPair ScmStartTypeTexts[3] = {{{L"-> StartType: Auto", L"-> 啟動類型: 自動"}},
                                       {{L"-> StartType: Manual", L"-> 啟動類型: 手動"}},
                                       {{L"-> StartType: Disable", L"-> 啟動類型: 停用"}}};

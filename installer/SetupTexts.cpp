// The installer's text table. The Korean slots are placeholders in the
// program's data; FillKoreanTexts gives them their texts at every start.
#include "setup.h"

TextTriple SetupTexts[TextRowCount] = {
    {{L"VQUSB Series Reader Driver Setup Program v6.5", L"VQUSB系列驅動程式安裝程式 v6.5", L"????"}},
    {{L"VQ480T/VQnano/Corvel Driver Setup", L"VQ480T/VQnano/Corvel 驅動程式安裝", L"????"}},
    {{L"Notice", L"注意", L"????"}},
    {{L"Drivers Installed Completely!", L"驅動程式安裝完成!", L"????"}},
    {{L"You must restart this computer for taking effect.", L"您必須重新開機方能使用讀卡機", L"????"}},
    {{L"Please plug-in the smart card reader before the system restarting.",
      L"請在系統重新啟動之前先將讀卡機接頭連結到電腦上", L"????"}},
    {{L"Smart Card Reader Driver Installed Failed!", L"智慧卡讀卡機安裝失敗!", L"????"}},
    {{L"Your system needs to install the Microsoft Smart Card Base Components; otherwise, the reader will "
      L"not work probably.",
      L"你的系統需要額外安裝微軟公司智慧卡基礎元件，讀卡機才能正常工作。請閱讀下列微軟公司授權同意書，若要使用讀卡機，"
      L"請按\"接受\"按鈕。",
      L"????"}},
    {{L"&Accept", L"接受(&A)", L"????"}},
    {{L"&Reject", L"不接受(&R)", L"????"}},
    {{L"&Yes", L"是(&Y)", L"????"}},
    {{L"&No", L"否(&N)", L"????"}},
};

namespace {

const wchar_t *const KoreanTexts[TextRowCount] = {
    L"VQUSB 시리즈 리더 드라이버 설치 프로그램 v6.5",
    L"VQ480T/VQnano/Corvel 드라이버 설치",
    L"주의",
    L"드라이브 설치가 완성되었습니다!",
    L"컴퓨터를 재부팅 하셔야만 장치가 올바로 작동합니다.",
    L"컴퓨터를 재부팅하시기전에 스마트 카드리더의 연결 케이블을 컴퓨터에 연결하십시요.",
    L"스마트 카드 리더 드라이버 설치에 실패했습니다!",
    L"스마트 카드 기본 구성 요소를 설치해야 합니다. 그렇지 않으면 리더가 작동하지 않을 수 있습니다.",
    L"동의(&A)",
    L"거부(&R)",
    L"예(&Y)",
    L"아니오(&N)",
};

}  // namespace

void FillKoreanTexts()
{
    for (int row = 0; row < TextRowCount; ++row)
        SetupTexts[row].Text[2] = KoreanTexts[row];
}

const wchar_t *SetupWideText(int row, int languageIndex)
{
    if (row < 0 || row >= TextRowCount)
        return L"";
    if (languageIndex < 0 || languageIndex > 2)
        languageIndex = 0;
    return SetupTexts[row].Text[languageIndex];
}

AnsiString SetupText(int row, int languageIndex)
{
    return AnsiString(SetupWideText(row, languageIndex));
}

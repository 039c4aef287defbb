// The texts of the service control window as {English, Traditional Chinese}
// pairs.
#ifndef SCM_TextsH
#define SCM_TextsH

#include <vcl.h>

#include "Main.h"

// The text of a pair in the window's language (Traditional Chinese only for
// language index 1), in the system's 8-bit code page.
AnsiString ScmText(const TextPair &pair);

extern const TextPair ScmCaptionText;
extern const TextPair ScmDisplayNameText;
extern const TextPair ScmServiceNameText;
extern const TextPair ScmAutoRefreshText;
extern const TextPair ScmMillisecondsText;
extern const TextPair ScmRefreshText;
extern const TextPair ScmRecommendText;
extern const TextPair ScmStatusText;
extern const TextPair ScmStatusItems[4];
extern const TextPair ScmTypeText;
extern const TextPair ScmTypeItems[3];
extern const TextPair ScmInfoText;
extern const TextPair ScmApplyText;
extern const TextPair ScmCancelText;
extern const TextPair ScmProcessListText;

// The opening lines: not found (NT family), components missing (old
// Windows), found but not set right, found and in order.
extern const TextPair ScmNotFoundLines[5];
extern const TextPair ScmMissingLines[3];
extern const TextPair ScmSettingLines[2];
extern const TextPair ScmPerfectLines[3];

// The numbered service messages 1 to 17 (index 0 unused).
extern const TextPair ScmServiceMessages[18];

// Lines of Apply.
extern const TextPair ScmAttemptStartText;
extern const TextPair ScmAttemptStopText;
extern const TextPair ScmSuspendText;
extern const TextPair ScmResumeText;
extern const TextPair ScmStartTypeTexts[3];

#endif

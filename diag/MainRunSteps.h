// The five steps of the diagnostic run, each appending its report lines and
// showing its marks; `ok` drops on a failure that fails the verdict, `active`
// on a smart card service found neither as a service nor as a process.
#ifndef MainRunStepsH
#define MainRunStepsH

class TSelfForm;

void RunBaseComponentStep(TSelfForm *form, int &ok);
void RunServiceStep(TSelfForm *form, int &ok, int &active);
void RunDriverFileStep(TSelfForm *form, int &ok);
void RunReaderRegistrationStep(TSelfForm *form, int &ok, int active);
// Steps 5 and the second slot; skipped when step 4 found the service inactive.
void RunCommunicationStep(TSelfForm *form, int &ok);

#endif

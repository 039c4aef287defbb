// The reader models offered by the diagnostic window, in combo-box order: the
// driver files step 3 checks, the PC/SC name prefixes step 4 recognises and
// whether step 5 also tests a second slot.
#ifndef ReaderModelH
#define ReaderModelH

const int ReaderModelCount = 9;

struct TReaderModel {
    const char *ComboText;        // item text of cbobox_SelectReader (not translated)
    const char *FolderCodes[2];   // program-folder prefixes that pre-select the model
    const char *DriverBase;       // driver file base name ("64" appended on 64-bit Windows)
    bool SecondIsIfd;             // second file: IFD driver (true) or INF of the driver base
    const char *SecondBase;       // base name of the second file
    int PrefixCount;              // 1, or 3 for the series that tries three names
    const char *Prefixes[3];      // PC/SC reader-name prefixes, tried in this order
    int PrefixLengths[3];         // leading characters compared (0: the whole prefix)
    const char *Siblings[3];      // name of the second slot of a prefix, or 0
    bool SecondSlot;              // step 5 also tests the reader listed next
};

extern const TReaderModel ReaderModel[ReaderModelCount];

// True when the first `length` bytes of the reader name equal those of the
// prefix (case-sensitive); a name shorter than that does not match.
bool ReaderNameHasPrefix(const char *readerName, const char *prefix, int length);

// The match of one listed reader against a model: 0 no prefix matches, 1 a
// prefix matches, 2 a prefix matches and the name is that prefix's sibling
// (the second slot, so the reader before it is the device's first slot).
int MatchReaderName(int model, const char *readerName);

// The model that a program folder pre-selects: the folder name of the program
// path, upper-cased, tested against every folder code in model order; the
// last code that starts the name wins. -1 when none does.
int ReaderModelFromProgramPath(const char *programPath);

#endif

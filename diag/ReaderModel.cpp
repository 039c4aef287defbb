#include <windows.h>

#include <string.h>

#include "PathText.h"
#include "ReaderModel.h"

const TReaderModel ReaderModel[ReaderModelCount] = {
    {"CCID -480T/Nano S", {"VQCCID", 0}, "vqccid", false, "vqccid",
     1, {"TERVANE CCIDIFD", 0, 0}, {0, 0, 0}, {0, 0, 0}, false},
    {"VQ 480T", {"VQ480T", 0}, "vqusb", false, "vqusb",
     1, {"TERVANE VQ480T", 0, 0}, {0, 0, 0}, {0, 0, 0}, false},
    {"VQ Nano", {"VQNANO", 0}, "vqusb", false, "vqusb",
     1, {"TERVANE VQNANO", 0, 0}, {0, 0, 0}, {0, 0, 0}, false},
    {"VQ Nano S", {"VQNANOS", 0}, "vqusb", false, "vqusb",
     1, {"TERVANE VQNANO", 0, 0}, {0, 0, 0}, {0, 0, 0}, false},
    {"Corvel Dravo", {"CORVELDRAVO", 0}, "vqusb", false, "vqusb",
     1, {"TERVANE CORVEL", 0, 0}, {0, 0, 0}, {0, 0, 0}, false},
    {"VQ Brel T", {"VQBREL", "VQVASK"}, "vqubus", true, "vquifds",
     1, {"TERVANE VQVASKT", 0, 0}, {0, 0, 0}, {"TERVANE VQVASKTSAM", 0, 0}, true},
    {"Penvo Lumo", {"PENVOLUMO", 0}, "penvo", false, "penvo",
     1, {"TERVANE PENVOLUMO", 0, 0}, {13, 0, 0}, {0, 0, 0}, false},
    {"VQ Torq Series", {"VQTORQ", 0}, "vqtorqbus", true, "vqtorqifd",
     3, {"TERVANE VQTORQT", "TERVANE VQTORQS", "TERVANE VQTORQV"}, {0, 0, 0},
     {"TERVANE VQTORQT_CL", "TERVANE VQTORQS_CL", "TERVANE VQTORQV_CL"}, true},
    {"VQSlev", {"VQSLEV", 0}, "vqslevbus", true, "vqslevifd",
     1, {"TERVANE VQslev", 0, 0}, {0, 0, 0}, {"TERVANE VQslev SAM", 0, 0}, true},
};

bool ReaderNameHasPrefix(const char *readerName, const char *prefix, int length)
{
    if (readerName == 0 || prefix == 0)
        return false;
    for (int i = 0; i < length; ++i) {
        // A shorter name meets its terminating zero first and differs there.
        if (readerName[i] != prefix[i])
            return false;
        if (readerName[i] == '\0')
            return false;
    }
    return true;
}

int MatchReaderName(int model, const char *readerName)
{
    if (model < 0 || model >= ReaderModelCount)
        return 0;
    const TReaderModel &entry = ReaderModel[model];
    for (int p = 0; p < entry.PrefixCount; ++p) {
        const char *prefix = entry.Prefixes[p];
        int length = entry.PrefixLengths[p] != 0 ? entry.PrefixLengths[p] : (int)strlen(prefix);
        if (!ReaderNameHasPrefix(readerName, prefix, length))
            continue;
        const char *sibling = entry.Siblings[p];
        if (sibling != 0 && ReaderNameHasPrefix(readerName, sibling, (int)strlen(sibling)))
            return 2;
        return 1;
    }
    return 0;
}

int ReaderModelFromProgramPath(const char *programPath)
{
    if (programPath == 0)
        return -1;
    // The last two backslashes.
    const char *lastSlash = LastBackslash(programPath);
    const char *slashBefore = lastSlash != 0 ? LastBackslash(programPath, lastSlash) : 0;
    // Folder path: everything up to the last backslash, which is then dropped.
    if (lastSlash == 0)
        return -1;
    const char *folderEnd = lastSlash;
    const char *folderStart = slashBefore != 0 ? slashBefore + 1 : programPath;

    char folder[260];
    size_t length = (size_t)(folderEnd - folderStart);
    if (length >= sizeof folder)
        length = sizeof folder - 1;
    for (size_t i = 0; i < length; ++i) {
        char c = folderStart[i];
        if (IsDBCSLeadByte((BYTE)c) && i + 1 < length) {
            folder[i] = c;
            folder[i + 1] = folderStart[i + 1];
            ++i;
            continue;
        }
        folder[i] = (c >= 'a' && c <= 'z') ? (char)(c - 'a' + 'A') : c;
    }
    folder[length] = '\0';

    int selected = -1;
    for (int model = 0; model < ReaderModelCount; ++model)
        for (int c = 0; c < 2; ++c) {
            const char *code = ReaderModel[model].FolderCodes[c];
            if (code != 0 && strncmp(folder, code, strlen(code)) == 0)
                selected = model;
        }
    return selected;
}

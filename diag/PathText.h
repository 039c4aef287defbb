// Paths as 8-bit text in the system's code page.
#ifndef PathTextH
#define PathTextH

#include <windows.h>

// The last backslash of the path before `end` (its end when NULL), or NULL
// when there is none. The path is read character by character from its
// start: the second byte of a two-byte character (Big5 0xB3 0x5C, say) is
// never taken for a backslash.
inline const char *LastBackslash(const char *path, const char *end = NULL)
{
    const char *last = NULL;
    if (path == NULL)
        return NULL;
    for (const char *p = path; *p != '\0' && (end == NULL || p < end); ++p) {
        if (IsDBCSLeadByte((BYTE)*p) && p[1] != '\0') {
            ++p;
            continue;
        }
        if (*p == '\\')
            last = p;
    }
    return last;
}

// The file name part of a path: the text after its last backslash, the
// whole path when it holds none.
inline const char *FileNamePart(const char *path)
{
    const char *slash = LastBackslash(path);
    return slash == NULL ? path : slash + 1;
}

#endif

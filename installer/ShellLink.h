// Shell links: finds a link by name in a special folder or makes a new one.
#ifndef ShellLinkH
#define ShellLinkH

#include <vcl.h>
#include <windows.h>
#include <shlobj.h>

// Gives (and puts in `LinkPath`) the full path of the link `LinkName`
// (without ".lnk") found in the special folder `SpecialFolder`, or of the
// one made there when none was found and `Create` is set; an empty string
// when nothing was found and nothing was to be made. A found link is left as
// it is. With `ShellLink` the link object is handed out with its reference,
// otherwise released. Failures raise Exception with the failing step's text.
AnsiString CreateShellLink(AnsiString &LinkPath, HWND Owner, AnsiString Target, AnsiString Arguments,
                           AnsiString IconPath, int IconIndex, AnsiString LinkName, int SpecialFolder,
                           BYTE Create, IShellLinkA **ShellLink = NULL);

#endif

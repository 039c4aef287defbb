// Text dump of a form: one line per control, nested by parent, with name,
// kind, position, size, caption or text, visibility, enabled state and font,
// and the items, lines or value of lists, memos and bars. Texts are UTF-8.
#pragma once

#include <string>

class TCustomForm;

namespace vcl {
std::string DumpForm(TCustomForm* form);
}

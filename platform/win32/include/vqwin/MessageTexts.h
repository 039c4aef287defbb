// The system's English message texts that FormatMessageA gives. Parts of the
// stand-in that set codes of their own (services, PC/SC) add their texts.
#pragma once

#include <windef.h>

#include <string>

namespace vqwin {

void RegisterMessageText(DWORD code, const std::string& text);

}  // namespace vqwin

// Modules that LoadLibraryW can find. A module is a name and a way to look
// its exports up: ce-host registers the driver it loaded with dlopen, the
// smart-card subsystem registers "WINSCARD.DLL" itself.
#pragma once

#include <functional>
#include <string>

namespace vqce::modules {

using Lookup = std::function<void*(const char* exportName)>;

// Registers (or replaces) a module under `name` (compared without case).
void Register(const std::wstring& name, Lookup lookup);
void Unregister(const std::wstring& name);
// Registers a module whose exports come from a dlopen handle.
void RegisterDl(const std::wstring& name, void* dlHandle);
bool IsLoaded(const std::wstring& name);  // LoadLibraryW called and not freed

}  // namespace vqce::modules

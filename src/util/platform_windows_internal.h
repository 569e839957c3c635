#pragma once
// Pieces of the Windows platform layer its tests reach.

#include <string>

namespace zelvik::platform {

// The form in which every path reaches a Windows file call: absolute, normalised as the system
// would (backslashes, "." and ".." resolved) and with the extended-length prefix ("\\?\C:\...",
// "\\?\UNC\server\share\..."), so that no call stops at MAX_PATH (260 UTF-16 units). A path
// already in that form, or a device ("\\.\..."), is given as it is.
std::wstring LongPath(const std::string& utf8);

// How many times a refused rename has waited for a reader to let go of its target, in this
// process: a refusal for good (a folder, a read-only file) never waits.
unsigned HeldRenameWaits();

}  // namespace zelvik::platform

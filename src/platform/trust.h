// Who may change a folder or file: whether anyone but administrators and
// this process's user may, and a new file given the protection of the
// one it replaces.
#ifndef MODREG_PLATFORM_TRUST_H_
#define MODREG_PLATFORM_TRUST_H_

#include <string>

#include "platform/files.h"

namespace platform {

// True when users other than administrators may change folder |dir|, or
// put another folder in its place: when they may change it, or one of
// its parents up to the root as the system reaches it. |*through| is the
// nearest parent found open, empty when it is |dir| itself. On failure to
// tell, false with |error| set.
bool FolderOpenToOthers(const std::string& dir, std::string* through,
                        std::string* error);

// Tells whether users other than administrators (and this process's
// user) may change the file |path| itself: write it, remove it, or change
// its permissions or owner. False, with |error| set, when it cannot tell;
// a missing file is not open.
bool FileOpenToOthers(const std::string& path, std::string* error);

// Tells, as FileOpenToOthers does, whether users other than
// administrators (and this process's user) may change the file open as
// |file|: what is judged is what is read, whatever has been put at its
// name since. False, with |error| set, when it cannot tell.
bool InputOpenToOthers(const InputFile& file, std::string* error);

// Gives the written, not yet flushed |file| the protection of the file
// that |target| names, when there is one, so that the replaced file keeps
// it: its permissions, and its owner and group where the process may set
// them.
bool TakeProtection(OutputFile* file, const std::string& target,
                    std::string* error);

}  // namespace platform

#endif  // MODREG_PLATFORM_TRUST_H_

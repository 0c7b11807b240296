// A log that many runs append to, which this user or an administrator
// owns.
#ifndef MODREG_PLATFORM_LOG_FILE_H_
#define MODREG_PLATFORM_LOG_FILE_H_

#include <string>

#include "platform/files.h"

namespace platform {

// Opens the log |path| to append to; a relative path is taken from the
// current folder. A missing file is made new, for this process's user
// (and administrators) only, and |*created| set. An existing one is
// written only when it is a regular file with no other hard link, owned
// by this process's user or an administrator. It is never reached through
// a link another user could have made, here or in a folder on the way;
// what is refused is said in |error|, and a log this open made and then
// refused is removed again. Never waits on what it opens. The file is
// opened to read too (ReadLogAt).
bool OpenAppend(const std::string& path, OutputFile* file, bool* created,
                std::string* error);

// Reads up to |size| bytes of the open log |file| from |offset| into
// |data|, through its own handle, never opening the file again; |*got| is
// 0 past the end. Where lines are appended does not move.
bool ReadLogAt(const OutputFile& file, unsigned long long offset, char* data,
               size_t size, size_t* got, std::string* error);

// Writes |line| and the system's line end at the end of the file as it
// is then, in one write: processes appending to one file at once
// interleave whole lines.
bool AppendLine(OutputFile* file, const std::string& line, std::string* error);

}  // namespace platform

#endif  // MODREG_PLATFORM_LOG_FILE_H_

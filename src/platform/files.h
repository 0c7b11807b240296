// Files by name: reading one, writing a new one and putting it in the
// place of the old. Paths are in their Windows form, in UTF-8; each system
// maps them to its own file names (lookup.h).
#ifndef MODREG_PLATFORM_FILES_H_
#define MODREG_PLATFORM_FILES_H_

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "platform/bytes.h"

namespace platform {

// A file opened for reading.
struct InputFile {
  long long handle = -1;
};

// Opens the file at |path| for reading, sharing it with every other
// opener; a folder is refused.
bool OpenInput(const std::string& path, InputFile* file, std::string* error);
// Opens the file at |path| for reading as itself: a link there (on
// Windows any reparse point) is refused, not followed, as is anything but
// a regular file.
bool OpenInputAsItself(const std::string& path, InputFile* file,
                       std::string* error);
// Sets |*size| to the size of the open |file| in bytes.
bool InputSize(InputFile* file, unsigned long long* size, std::string* error);
// Reads up to |size| bytes; |*got| is 0 at the end of the file.
bool ReadInput(InputFile* file, char* data, size_t size, size_t* got,
               std::string* error);
// Closes the file; safe to call twice.
void CloseInput(InputFile* file);

// Takes each part of a file as it is read: the bytes [from, end) of
// |data|, which has room for one more byte after them. It may rewrite them
// in place and returns how many bytes of |data| to keep (at most |end|);
// the next part is read after those.
using ReadFilter = std::function<size_t(char* data, size_t from, size_t end)>;

// Reads the whole file into |out|, in parts of kReadPart bytes, each
// passed through |filter| when there is one, with capacity for one more
// byte, so that a terminator can follow without a copy. On failure false,
// with the system's reason in |error|.
constexpr size_t kReadPart = size_t{256} << 10;
bool ReadWholeFile(const std::string& path, ByteBuffer* out,
                   std::string* error, const ReadFilter& filter = nullptr);

// Reads the open |file| whole into |out|, as ReadWholeFile reads, and
// closes it.
bool ReadWholeInput(InputFile* file, ByteBuffer* out, std::string* error,
                    const ReadFilter& filter = nullptr);

// A file opened for writing; made by CreateOutput or OpenAppend.
struct OutputFile {
  std::string path;
  long long handle = -1;
};

// Creates |path| for writing, as a new file and never through a link:
// something already at |path| is removed as itself, not what it leads
// to, and the creation tried again, a few times at most.
bool CreateOutput(const std::string& path, OutputFile* file,
                  std::string* error);
// Writes all |size| bytes.
bool WriteOutput(OutputFile* file, const char* data, size_t size,
                 std::string* error);
// Puts the written bytes on the disk.
bool FlushOutput(OutputFile* file, std::string* error);
// Closes the file; safe to call twice.
bool CloseOutput(OutputFile* file, std::string* error);

// Tells whether the open |file| is the file at |path|, without opening
// that file: a registry file is so never opened before the registry's
// lock.
bool IsOpenAs(const OutputFile& file, const std::string& path);

// The file a rewrite of |path| replaces, in |*file|: what a link at |path|
// leads to, where the system replaces links' targets; otherwise |path|. A
// link in a folder that others may change is not followed: false, with
// the reason.
bool ReplacedFile(const std::string& path, std::string* file,
                  std::string* error);

// The longest ReplaceByRename waits for other programs to let go of the
// file.
constexpr unsigned kReplaceWaitMs = 5000;

// Replaces |target| with |source| in one step, durably; a read-only
// |target| too. Where the system cannot replace a file another program
// holds open, waits for it, at most kReplaceWaitMs, and then says the
// file is in use by another program.
bool ReplaceByRename(const std::string& source, const std::string& target,
                     std::string* error);
// Gives |source| the name |target| unless |target| exists, in one step;
// |source| is gone afterwards only on success.
bool RenameNoReplace(const std::string& source, const std::string& target,
                     std::string* error);
// Sets |names| to the names of the files in folder |dir| that begin with
// |prefix| (compared as the system compares names), sorted; a missing
// folder has none. False with the reason when the folder cannot be read.
bool ListFolder(const std::string& dir, const std::string& prefix,
                std::vector<std::string>* names, std::string* error);

// Removes |path| as itself (a link, not what it leads to), read-only or
// not; a missing file is not an error.
bool RemoveFile(const std::string& path);

}  // namespace platform

#endif  // MODREG_PLATFORM_FILES_H_

// What is at a path, and how messages name it. Paths are in their Windows
// form ("C:\Program Files\..."), in UTF-8; each system finds them as the
// framework's loader on it would.
#ifndef MODREG_PLATFORM_LOOKUP_H_
#define MODREG_PLATFORM_LOOKUP_H_

#include <string>

namespace platform {

// Returns |path| as messages name it: followed, in parentheses, by the
// system's own name for it when that is another.
std::string DisplayName(const std::string& path);

// Returns |path| (absolute) with the part that exists spelled with long
// names, as Windows expands 8.3 short names such as PROGRA~1; the rest as
// it is.
std::string ExpandShortNames(const std::string& path);

// What is at a path a registry entry names, as the framework's loader
// would find it.
enum class FileKind {
  kFile,        // a regular file
  kFolder,      // a folder
  kOther,       // something else (a device, a socket...)
  kMissing,     // nothing: the path, or a folder on it, does not exist
  kRelative,    // not an absolute path: the loader searches for it
  kUnreadable,  // the lookup failed otherwise; |error| says why
};

// Looks up the file a registry entry names, as Windows finds it. Sets
// |host_path| to the name to open (ReadWholeFile takes it), and |error|
// for kUnreadable.
FileKind LookUpFile(const std::string& windows_path, std::string* host_path,
                    std::string* error);

// Tells whether something is at a path: only "no such file or folder"
// counts as missing; any other failure to look is an error, with the
// system's reason.
enum class Presence { kExists, kMissing, kError };
Presence LookUp(const std::string& path, std::string* error);

}  // namespace platform

#endif  // MODREG_PLATFORM_LOOKUP_H_

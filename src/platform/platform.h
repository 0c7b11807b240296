// Everything that differs between Windows and POSIX. Paths are passed in
// their Windows form ("C:\Program Files\..."), narrow, in the system's ANSI
// code page; each system maps them to its own file names.
#ifndef MODREG_PLATFORM_PLATFORM_H_
#define MODREG_PLATFORM_PLATFORM_H_

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "platform/bytes.h"

namespace platform {

// |path| as messages name it: on POSIX followed by the host file it maps
// to, in parentheses; on Windows the path itself.
std::string DisplayName(const std::string& path);

// True when this process is a 32-bit process on 64-bit Windows. A failed
// query counts as no.
bool IsWow64();

// The machine-wide value of environment variable |name|, as Windows keeps
// it for new processes (HKLM\SYSTEM\CurrentControlSet\Control\Session
// Manager\Environment; a REG_EXPAND_SZ value expanded). False when it has
// none, and always on POSIX, where there is no such store.
bool MachineEnvironment(const std::string& name, std::string* value);

// Takes each part of a file as it is read: the bytes [from, end) of
// |data|, which has room for one more byte after them. It may rewrite them
// in place and returns how many bytes of |data| to keep (at most |end|);
// the next part is read after those.
using ReadFilter = std::function<size_t(char* data, size_t from, size_t end)>;

// Reads the whole file into |out|, in parts of kReadPart bytes, each
// passed through |filter| when there is one (bytes unchanged otherwise),
// with capacity for one more byte, so that a terminator can follow without
// a copy. On failure returns false and sets |error| to the system's reason.
constexpr size_t kReadPart = size_t{256} << 10;
bool ReadWholeFile(const std::string& path, ByteBuffer* out,
                   std::string* error, const ReadFilter& filter = nullptr);

// True when |path| names something that can be opened for reading.
bool CanOpenForReading(const std::string& path);

// True when something exists at |path|, readable or not (a symbolic link
// that leads nowhere does not count).
bool PathExists(const std::string& path);

// An output file opened for writing; created by CreateOutput.
struct OutputFile {
  std::string path;
  long long handle = -1;
};

// Creates (or truncates) |path| for writing.
bool CreateOutput(const std::string& path, OutputFile* file,
                  std::string* error);
// Writes all |size| bytes.
bool WriteOutput(OutputFile* file, const char* data, size_t size,
                 std::string* error);
// Puts the written bytes on the disk.
bool FlushOutput(OutputFile* file, std::string* error);
// Closes the file; safe to call twice.
bool CloseOutput(OutputFile* file, std::string* error);

// Replaces |target| with |source| in one step, durably.
bool ReplaceByRename(const std::string& source, const std::string& target,
                 std::string* error);
// Gives |source| the name |target| unless |target| exists, in one step;
// |source| is gone afterwards either way only on success.
bool RenameNoReplace(const std::string& source, const std::string& target,
                     std::string* error);
// Removes |path|; a missing file is not an error.
bool RemoveFile(const std::string& path);

// Copies |source| to |target| byte for byte, creating or truncating
// |target|.
bool CopyFileBytes(const std::string& source, const std::string& target,
                   std::string* error);

// The longest a run waits for another run's lock on the registry.
constexpr unsigned kLockWaitMs = 60 * 1000;

// Why a run gave up on the lock after waiting |waited_ms|.
inline std::string LockTimeoutReason(unsigned long long waited_ms) {
  return "another run holds the registry's lock; gave up after waiting " +
         std::to_string((waited_ms + 500) / 1000) + " s";
}

// Takes an exclusive lock that guards the registry in folder |dir| until
// the process ends; waits while another process holds it, at most
// |wait_ms|, and then fails with a reason that says so. The system
// releases it when the process dies. A folder that does not exist holds
// no registry and needs no lock.
bool LockRegistryFolder(const std::string& dir, unsigned wait_ms,
                        std::string* error);

}  // namespace platform

#endif  // MODREG_PLATFORM_PLATFORM_H_

// Everything that differs between Windows and POSIX. Paths are passed in
// their Windows form ("C:\Program Files\..."), in UTF-8; each system maps
// them to its own file names. The registry holds paths in the system's
// ANSI code page instead (Windows-1252 for the POSIX build, as Wine has it
// for an English locale): ToAnsi and FromAnsi convert.
#ifndef MODREG_PLATFORM_PLATFORM_H_
#define MODREG_PLATFORM_PLATFORM_H_

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "platform/bytes.h"

namespace platform {

// Returns |path| as messages name it: on POSIX followed by the host file it maps
// to, in parentheses, when that is another name; on Windows the path
// itself.
std::string DisplayName(const std::string& path);

// Returns the command line's arguments, the program's name first, in
// UTF-8: on Windows read again as UTF-16, since the C runtime's |argv| went
// through the ANSI code page, which cannot spell every name; on POSIX
// |argv| as it is.
std::vector<std::string> CommandLine(int argc, char** argv);

// Converts |text| to the ANSI code page, exactly: false when a character
// has no exact form there (no best fit, no default character).
bool ToAnsi(const std::string& text, std::string* ansi);

// Converts |ansi|, in the ANSI code page, to UTF-8.
std::string FromAnsi(const std::string& ansi);

// Reads this process's environment variable |name|; false when unset.
bool ProcessEnvironment(const std::string& name, std::string* value);

// True when this process is a 32-bit process on 64-bit Windows. A failed
// query counts as no.
bool IsWow64();

// Reads the machine-wide value of environment variable |name|, as Windows keeps
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

// Returns |path| (absolute, in UTF-8) with the part that exists spelled
// with long names, as Windows expands 8.3 short names such as PROGRA~1;
// the rest as it is. On POSIX |path| itself.
std::string ExpandShortNames(const std::string& path);

// Looks up the file a registry entry names. On Windows the path is used as
// it is. On POSIX it is found as Wine finds it: the drive through
// $WINEPREFIX/dosdevices ("c:" is drive_c when the prefix has no
// dosdevices), "\\server\share" through dosdevices/unc, and each component
// matched without regard to case when the exact name is absent. Sets
// |host_path| to the name to open (ReadWholeFile takes it), and |error|
// for kUnreadable.
FileKind LookUpFile(const std::string& windows_path, std::string* host_path,
                    std::string* error);

// Tells whether something is at a path: only "no such file or folder" counts as
// missing; any other failure to look is an error, with the system's
// reason.
enum class Presence { kExists, kMissing, kError };
Presence LookUp(const std::string& path, std::string* error);

// An output file opened for writing; created by CreateOutput.
struct OutputFile {
  std::string path;
  long long handle = -1;
};

// Creates |path| for writing, as a new file and never through a link:
// something already at |path| (a killed run's leftover, a link) is
// removed as itself, not what it leads to, and the creation tried again,
// a few times at most; then the reason of the last failure.
bool CreateOutput(const std::string& path, OutputFile* file,
                  std::string* error);
// Writes all |size| bytes.
bool WriteOutput(OutputFile* file, const char* data, size_t size,
                 std::string* error);
// Puts the written bytes on the disk.
bool FlushOutput(OutputFile* file, std::string* error);
// Closes the file; safe to call twice.
bool CloseOutput(OutputFile* file, std::string* error);

// Opens the log |path| to append to; a relative path is taken from the
// current folder. Its folder is reached without following a link that
// another user may have put on the way: on POSIX each folder is opened
// as itself, from the root, and a symbolic link on the way followed only
// when root or this process's user owns it (a link of another user's is
// refused, naming it). A missing file is made new, in that folder, with
// access for this process's user only (on Windows also SYSTEM and
// Administrators; |*created| then true). An existing one is opened
// only as itself, and written only when it is a regular file with no
// other hard link, owned by this process's user or an administrator (on
// POSIX root; on Windows SYSTEM, Administrators or TrustedInstaller):
// a link or reparse point there, a file of another user's, a FIFO or a
// device is refused, with the reason in |error|. So is a log reached
// through a link or junction another user could have made in a folder on
// the way (on Windows, told by the file's final name); a log this open
// made and then refused is removed again. Never waits on what it opens.
bool OpenAppend(const std::string& path, OutputFile* file, bool* created,
                std::string* error);
// Writes |line| and the system's line end (CR LF on Windows) at the end of
// the file as it is then, in one write: processes appending to one file at
// once interleave whole lines.
bool AppendLine(OutputFile* file, const std::string& line, std::string* error);

// Gives the written, not yet flushed |file| the protection of the file
// that |target| names, when there is one, so that the replaced file keeps
// it: on POSIX its mode, and its owner and group where the process may
// set them; on Windows its security descriptor (the DACL; owner and group
// where the process may set them) and its hidden, system, read-only,
// archive and not-indexed attributes.
bool TakeProtection(OutputFile* file, const std::string& target,
                    std::string* error);

// The file a rewrite of |path| replaces, in |*file|: on POSIX, when |path|
// is a symbolic link, the file it leads to (the link stays); otherwise
// |path|. A link in a folder that others may change is not followed, since
// any of them could have put it there: false, with the reason.
bool ReplacedFile(const std::string& path, std::string* file,
                  std::string* error);

// How long a replace on Windows waits for other programs to let go of
// the file.
constexpr unsigned kReplaceWaitMs = 5000;

// Replaces |target| with |source| in one step, durably. A read-only
// |target| is replaced too. On Windows a file that another program holds
// open (the replace fails with a sharing violation, or access denied
// while this process may delete the target) is waited for, at most
// kReplaceWaitMs, and then the reason says the file is in use by another
// program; POSIX replaces an open file.
bool ReplaceByRename(const std::string& source, const std::string& target,
                 std::string* error);
// Gives |source| the name |target| unless |target| exists, in one step;
// |source| is gone afterwards either way only on success.
bool RenameNoReplace(const std::string& source, const std::string& target,
                     std::string* error);
// Removes |path| as itself (a link, not what it leads to), read-only or
// not; a missing file is not an error.
bool RemoveFile(const std::string& path);

// A file opened for reading.
struct InputFile {
  long long handle = -1;
};

// Opens the file at |path| for reading, sharing it with every other
// opener; a folder is refused.
bool OpenInput(const std::string& path, InputFile* file, std::string* error);
// Sets |*size| to the size of the open |file| in bytes.
bool InputSize(InputFile* file, unsigned long long* size, std::string* error);
// Reads up to |size| bytes; |*got| is 0 at the end of the file.
bool ReadInput(InputFile* file, char* data, size_t size, size_t* got,
               std::string* error);
// Closes the file; safe to call twice.
void CloseInput(InputFile* file);

// True when users other than administrators may change folder |dir|, or
// put another folder in its place: when they may change it or one of
// its parents, up to the root (on POSIX of the host path: a Wine
// prefix's folders and those above it). On POSIX a folder is open when
// its owner is neither root nor this process's user, or its group or
// others may write in it; in a parent the sticky bit makes that write
// harmless. On Windows when its owner is not SYSTEM, Administrators or
// TrustedInstaller (under Wine, which shows the files of the user running
// it as that user's, also not this process's user), or its DACL is
// missing or lets anyone else change it: in the folder create or change
// files, in it or a parent remove or rename what is in it, or change
// permissions or owner. |*through| is the nearest parent found open,
// empty when it is |dir| itself. On failure to tell, false with |error|
// set.
bool FolderOpenToOthers(const std::string& dir, std::string* through,
                        std::string* error);

// Tells whether users other than administrators may change the file
// |path| itself: on POSIX its owner is neither root nor this process's
// user, or its group or others may write it (a symbolic link at |path|
// is followed, as the file's readers follow it); on Windows its owner is
// not SYSTEM, Administrators or TrustedInstaller (or this process's user
// under Wine), or its DACL lets anyone else write, delete, or change its
// permissions or owner. False, with |error| set, when it cannot tell; a
// missing file is not open.
bool FileOpenToOthers(const std::string& path, std::string* error);

// The longest a run waits for another run's lock on the registry.
constexpr unsigned kLockWaitMs = 60 * 1000;

// Why a run gave up on the lock after waiting |waited_ms|.
inline std::string LockTimeoutReason(unsigned long long waited_ms) {
  return "another run holds the registry's lock; gave up after waiting " +
         std::to_string((waited_ms + 500) / 1000) + " s";
}

// The lock file's name in the registry's folder.
constexpr char kLockFileName[] = "modules.xml.lock";

// Takes an exclusive lock that guards the registry in folder |dir| until
// UnlockRegistryFolder or the end of the process; waits while another
// process holds it, at most |wait_ms|, and then fails with a reason that
// says so. The system releases it when the process dies. A folder that
// does not exist holds no registry and needs no lock. Only those who may
// change the registry can hold it: on POSIX it is a lock (flock) on the
// file kLockFileName in |dir|, made for this process's user only; one
// there that another user could open (a link, a file with other hard
// links, of another user's or that others may open, anything but a
// regular file) is removed as itself and made anew. A run that may not
// make that file in |dir| may not change the registry either, and takes
// no lock.
bool LockRegistryFolder(const std::string& dir, unsigned wait_ms,
                        std::string* error);

// Releases the registry's lock this process took, if any, removing the
// lock file while still holding it: a normal run leaves no file (a killed
// run's is harmless: the next run takes the lock on it and removes it).
void UnlockRegistryFolder();

// Tells whether the open |file| is the file at |path|, without opening
// that file: on POSIX by device and inode; on Windows by the name under
// which the system knows |file| (links resolved, case aside) against the
// resolved folder of |path| and the name in it. A registry file is so
// never opened before the registry's lock.
bool IsOpenAs(const OutputFile& file, const std::string& path);

// On 64-bit Windows a 32-bit process finds the files of the system
// folder (System32) in SysWOW64. When a framework of |bits| finds them
// elsewhere than this process's lookups would, sets |system| to the
// system folder's name ("C:\Windows\System32") and |seen_as| to the
// name under which this process reaches the framework's copy, and
// returns true.
bool FrameworkSystemFolder(int bits, std::string* system,
                           std::string* seen_as);

// Turns on, once at the start, the protections this process asks of the
// system beyond its defaults: on Windows the redirection trust policy,
// under which the process follows no junction that a user other than an
// administrator made. A system without it (before Windows 10 22H2) is
// left as it is, as is POSIX.
void HardenProcess();

// Ends this process at once, as if killed from outside.
[[noreturn]] void KillProcess();

}  // namespace platform

#endif  // MODREG_PLATFORM_PLATFORM_H_

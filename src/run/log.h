// The run's line sink: where the lines of its outcome (run/outcome.h) go.
// Standard output, standard error and, with --log, a log file that gets a
// header, the verbose report (with or without --verbose), every message
// and the exit status.
#ifndef MODREG_RUN_LOG_H_
#define MODREG_RUN_LOG_H_

#include <cstdio>
#include <string>
#include <vector>

#include "platform/log_file.h"
#include "run/outcome.h"

namespace run {

struct Sink {
  FILE* out = nullptr;
  FILE* err = nullptr;
  bool verbose = false;      // the verbose report goes to |out| too
  // The log's own warnings are said nowhere (--detect: deployment tools
  // take anything on standard error for a failed detection).
  bool quiet_log = false;
  std::string log_path;      // the log's name; empty without one
  platform::OutputFile log;  // open while the log can be written
};

// Opens the log |path| to append to and writes the run's header: the time
// (UTC), the version and the command line |argv|. A log that cannot be
// opened or written, or that platform::OpenAppend refuses (a link, a file
// with another hard link or of another user), costs one warning on
// standard error (none with |quiet_log|); the run goes on without it, its
// status unchanged. A log that is one of the files |never| (the
// registry's own), that an undo record's name (of any ID, or its
// temporary file's) names in one of the registry folders |record_folders|,
// or that begins as an XML document does (any registry, whatever its
// name) or as an undo record does (any record, whatever its name), is not
// written, and not left behind when this run created it.
void OpenLog(Sink* sink, const std::string& path, int argc,
             const char* const* argv, const std::vector<std::string>& never,
             const std::vector<std::string>& record_folders);
// What the beginning of a file says of it (StartOf).
enum class FileStart {
  kXml,         // "<" first, after an optional UTF-8 byte-order mark and blanks
  kUndoRecord,  // an undo record's first line (registry::kUndoMagic) first
  kText,        // anything else first
  kBlank,       // nothing yet but the mark and blanks: the next part decides
};
// Returns what |part| says of how a file begins: its first bytes when
// |first|, or those after parts that were kBlank.
FileStart StartOf(const std::string& part, bool first);

// Tells whether the last component of |path| is an undo record's name, or
// its temporary file's: it begins with registry::kUndoPrefix, compared as
// Windows compares names.
bool IsUndoRecordName(const std::string& path);

// Tells |outcome|: writes each of its lines, in order, where its channel
// says, each on one line (control characters but the tab written as
// escapes; a bare line word for word), then the status line, and closes
// the log, if one is open. Returns the status.
int Tell(Sink* sink, const Outcome& outcome);

}  // namespace run

#endif  // MODREG_RUN_LOG_H_

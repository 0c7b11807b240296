// The run driver: one pass from the command line: a registration or an
// unregistration (run/write.h), a dry run of either, --repair, or one of
// the modes that only read (run/query.h): --list, --check, --detect; or
// the help or the version.
#ifndef MODREG_RUN_DRIVER_H_
#define MODREG_RUN_DRIVER_H_

#include <cstdio>

namespace run {

// Runs one pass over |argc|/|argv| as given to main: reads the options,
// decides where the run works, takes the registry's lock, acts and
// reports. Writes what the mode prints to |out| and errors to |err|;
// returns the exit status (run/status.h).
int RunPass(int argc, const char* const* argv, FILE* out, FILE* err);

}  // namespace run

#endif  // MODREG_RUN_DRIVER_H_

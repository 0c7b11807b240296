// The run driver: one pass from the command line. It reads the options,
// decides where the run works, runs the mode the options ask for (the
// table of run/modes.h) and tells what it came to.
#ifndef MODREG_RUN_DRIVER_H_
#define MODREG_RUN_DRIVER_H_

#include <cstdio>

namespace run {

// Runs one pass over |argc|/|argv| as given to main: reads the options,
// decides where the run works, opens the log, runs the mode and then says
// its outcome: what the mode prints to |out|, errors to |err|, both to
// the log. Returns the exit status (run/status.h).
int RunPass(int argc, const char* const* argv, FILE* out, FILE* err);

}  // namespace run

#endif  // MODREG_RUN_DRIVER_H_

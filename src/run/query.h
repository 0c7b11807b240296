// The modes that only read the registry: --list, --check and --detect.
// None takes the lock, makes a backup or writes.
#ifndef MODREG_RUN_QUERY_H_
#define MODREG_RUN_QUERY_H_

#include "run/options.h"
#include "run/outcome.h"
#include "run/workplace.h"

namespace run {

// --list: prints each child of Modules with a path, and each Module
// without one, marked "module:" or with the kind of its first problem.
void RunList(const Options& options, const Workplace& place, Outcome* out);

// --check: prints one line per problem (in the verbose report the
// registry first and the modules that are fine too). Status 1 when there
// is a problem, 0 when none.
void RunCheck(const Options& options, const Workplace& place, Outcome* out);

// --detect: prints one line when every entry a registration of |place|
// would add is in the registry, anywhere, the first of each sound as
// --check judges it (a repeat aside); otherwise prints nothing outside
// the verbose report. Status 0 either way; a registry that cannot be
// read or parsed, its usual status.
void RunDetect(const Options& options, const Workplace& place, Outcome* out);

}  // namespace run

#endif  // MODREG_RUN_QUERY_H_

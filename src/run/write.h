// The modes that change the registry: a registration, an unregistration,
// the dry run of either, and --repair (with --dry-run too). Each takes the
// registry folder's lock (a dry run does not), loads the registry once and
// works on that one document: backup, check, edit and commit.
#ifndef MODREG_RUN_WRITE_H_
#define MODREG_RUN_WRITE_H_

#include "run/log.h"
#include "run/options.h"
#include "run/workplace.h"

namespace run {

// A registration or an unregistration where |place| says, or its dry run.
// With --strict the entries to add are checked before anything is
// written, and a problem is status 8, with nothing written; without it,
// in the verbose report, the entries a registration added are checked
// after, which changes nothing. Returns the status.
int RunRegister(const Options& options, const Workplace& place, Sink* out);

// --repair: takes out the Module elements that stop every application
// from starting (--check's breaks-startup), and nothing else. With
// --dry-run only says which, and is status 1 when there is one.
int RunRepair(const Options& options, const Workplace& place, Sink* out);

}  // namespace run

#endif  // MODREG_RUN_WRITE_H_

// The modes that change the registry: a registration, an unregistration,
// the dry run of either, and --repair (with --dry-run too). Each runs one
// transaction (registry/transaction.h), which takes the registry folder's
// lock (a dry run's does not), loads the registry once and works on that
// one document, and says in |out| what came of it.
#ifndef MODREG_RUN_WRITE_H_
#define MODREG_RUN_WRITE_H_

#include "run/outcome.h"
#include "run/options.h"
#include "run/workplace.h"

namespace run {

// A registration where |place| says, or its dry run; for the mode that
// adds no entries an unregistration. With --strict the entries to add are
// checked before anything is written, and a problem is status 8, with
// nothing written; without it, in the verbose report, the entries added
// are checked after, which changes nothing.
void RunUpdate(const Options& options, const Workplace& place, Outcome* out);

// --repair: takes out the Module elements that stop every application
// from starting (--check's breaks-startup), and nothing else. With
// --dry-run only says which, and is status 1 when there is one.
void RunRepair(const Options& options, const Workplace& place, Outcome* out);

}  // namespace run

#endif  // MODREG_RUN_WRITE_H_

// The modes that end an installer's action: --rollback puts back what the
// run of an ID changed, --commit drops its undo record (registry/undo.h).
#ifndef MODREG_RUN_ROLLBACK_H_
#define MODREG_RUN_ROLLBACK_H_

#include "run/options.h"
#include "run/outcome.h"
#include "run/workplace.h"

namespace run {

// --rollback ARCH ID: puts the registry back as ID's undo record says and
// removes the record. Status 0 when there is none, when it is of an
// earlier start of the machine (a warning; not applied) and when the
// registry was put back; 9 when the record is refused; else the status of
// the failure, the record kept.
void RunRollback(const Options& options, const Workplace& place,
                 Outcome* out);

// --commit ARCH ID: removes ID's undo record; status 0 also when there is
// none.
void RunCommit(const Options& options, const Workplace& place,
               Outcome* out);

// Says each undo record left in |place|'s registry folder, as --check
// lists them: "undo record left: FILE (ACTION, ID)", and whether it is
// stale. Nothing when there is none, or the folder cannot be listed.
void SayUndoRecords(const Workplace& place, Outcome* out);

}  // namespace run

#endif  // MODREG_RUN_ROLLBACK_H_

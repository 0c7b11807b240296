// What the modes say of the registry and its entries, and how a failure
// becomes a status and a message: the pieces the modes that write and
// those that only read share.
#ifndef MODREG_RUN_REPORT_H_
#define MODREG_RUN_REPORT_H_

#include <string>
#include <vector>

#include "registry/check.h"
#include "registry/document.h"
#include "registry/module_entry.h"
#include "registry/transaction.h"
#include "run/outcome.h"
#include "run/workplace.h"

namespace run {

// How a line is said: Say or Note (run/outcome.h).
using SayFunction = void (*)(Outcome*, std::string);

// Says the registry's line through |say|, and in the verbose report where
// its folder came from.
void SayRegistry(Outcome* out, const Workplace& place, SayFunction say = Note);

// Returns |entry| as the modes print it: its path, then " configDir: DIR"
// when it has one.
std::string EntryText(const registry::ModuleEntry& entry);

// Returns what users who are not administrators may do with |part| of
// the registry: "can be changed by users who are not administrators...".
std::string OpenRisk(const registry::OpenPart& part);

// Returns, when the registry is missing at the default place while the
// variable of the framework of |place|'s width names another folder
// (Workplace's |variable_folder|), which, and how to read the registry
// there; else empty.
std::string VariableHint(const Workplace& place);

// Says the failure of a pass on |place|'s registry in a mode |doing| it
// ("update", "list"...), when there is one, and sets its status: out of
// memory (|out_of_memory|; "the registry is unchanged" after it for a
// pass that would have written, |unchanged|), or |result|'s failure:
// "cannot read" for a read (a missing registry's with VariableHint,
// |hint|), "cannot lock" the folder, "cannot DOING" for a malformed
// registry, "cannot write" for a write, which leaves the registry
// unchanged. Returns whether there was one.
bool SayFailure(const Workplace& place, const char* doing,
                const registry::RegistryResult& result, bool out_of_memory,
                Outcome* out, bool unchanged = false, bool hint = false);

// Loads |place|'s registry into |document|, with its line ends, for a
// mode that only reads; a failure is said (SayFailure, with the hint).
// Returns whether it is loaded.
bool LoadForReading(const Workplace& place, const char* doing, Outcome* out,
                    registry::RegistryDocument* document);

// Returns what |breaker|, a Module element that stops every application
// from starting, is said as: "line N stops every application from
// starting: KIND: WHERE (WHAT); modreg --repair takes it out".
std::string BreakerText(const registry::CheckedModule& breaker);

// Says each line of the check of |checked| (|what|: "the added entries")
// in the verbose report, then how it went. Returns "found N problem(s),
// the first: LINE", or empty when none is a problem.
std::string SayCheck(const std::vector<registry::CheckedModule>& checked,
                     const std::string& what, Outcome* out);

}  // namespace run

#endif  // MODREG_RUN_REPORT_H_

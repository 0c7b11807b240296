#include "run/driver.h"

#include <new>
#include <string>

#include "platform/process.h"
#include "run/log.h"
#include "run/modes.h"
#include "run/options.h"
#include "run/outcome.h"
#include "run/status.h"
#include "run/workplace.h"

namespace run {

namespace {

// What the run of |options| comes to, in |out|; |decided| is the status
// of the decision on |place|, with its |refusal|.
void Act(const Options& options, const Workplace& place, int decided,
         const std::string& refusal, Outcome* out) {
  const Mode& mode = *options.mode;
  if (!options.error.empty())
    return Fail(out, kExitUsage, options.error + "; " + kUsage);
  if (mode.operands == Operands::kNone) return mode.run(options, place, out);
  if (!WorksOnRegistry(options)) {
    // Kept word for word: installers may look for this message.
    out->lines.push_back({Channel::kBare, "Device unsupport. exit!"});
    out->status = kExitShortCommandLine;
    if (options.asked_help) Warn(out, "for help, run modreg --help");
    return;
  }
  for (const std::string& note : place.notes) Note(out, note);
  if (decided != kExitOk) return Fail(out, decided, refusal);
  if (!place.nothing_to_do.empty() &&
      mode.no_framework != NoFramework::kAnswer)
    return Note(out, "result: " + place.nothing_to_do +
                         (mode.no_framework == NoFramework::kNothingToPutBack
                              ? ", nothing to put back"
                              : ", nothing to remove"));
  mode.run(options, place, out);
}

// Reads the command line, decides where the run works, opens the log in
// |sink| and acts, in |out|.
void Pass(int argc, const char* const* argv, Sink* sink, Outcome* out) {
  const Options options = ParseOptions(argc, argv);
  Workplace place;
  std::string refusal;
  const int decided =
      WorksOnRegistry(options)
          ? DecideWorkplace(options, platform::IsWow64, &place, &refusal,
                            platform::Is32BitWindows)
          : kExitOk;
  if (decided == kExitUsage) refusal += QuoteHint(argc, argv);
  // A detection's answer is its status and standard output: a log it
  // cannot write is said nowhere.
  sink->quiet_log = options.mode->quiet_log;
  if (!options.log.empty())
    OpenLog(sink, options.log, argc, argv, RegistryFiles(options, place),
            RegistryFolders(options, place));
  sink->verbose = options.verbose;
  Act(options, place, decided, refusal, out);
}

}  // namespace

int RunPass(int argc, const char* const* argv, FILE* out, FILE* err) {
  Sink sink;
  sink.out = out;
  sink.err = err;
  Outcome outcome;
  try {
    Pass(argc, argv, &sink, &outcome);
  } catch (const std::bad_alloc&) {
    Fail(&outcome, kExitOutOfMemory, "out of memory");
  }
  return Tell(&sink, outcome);
}

}  // namespace run

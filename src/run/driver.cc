#include "run/driver.h"

#include <new>
#include <string>

#include "platform/lock.h"
#include "platform/process.h"
#include "run/log.h"
#include "run/options.h"
#include "run/query.h"
#include "run/rollback.h"
#include "run/status.h"
#include "run/workplace.h"
#include "run/write.h"

namespace run {

namespace {

// Each line of |text|.
void SayText(Sink* out, const std::string& text) {
  size_t from = 0;
  for (size_t end; (end = text.find('\n', from)) != std::string::npos;
       from = end + 1)
    Say(out, text.substr(from, end - from));
}

// Whether |options| ask for a pass that works on a registry.
bool WorksOnRegistry(const Options& options) {
  if (!options.error.empty()) return false;
  switch (options.mode) {
    case Mode::kList:
    case Mode::kCheck:
    case Mode::kUnregister:
    case Mode::kRepair:
    case Mode::kRollback:
    case Mode::kCommit:
      return true;
    case Mode::kRegister:
    case Mode::kDetect:
      return options.args.size() >= 2;
    case Mode::kHelp:
    case Mode::kVersion:
      return false;
  }
  return false;
}

int Pass(int argc, const char* const* argv, Sink* out) {
  // The command line, and where the run works.
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
  out->quiet_log = options.mode == Mode::kDetect;
  if (!options.log.empty())
    OpenLog(out, options.log, argc, argv, RegistryFiles(options, place));
  out->verbose = options.verbose;
  if (!options.error.empty())
    return Report(out, kExitUsage, options.error + "; " + kUsage);
  if (options.mode == Mode::kHelp) {
    SayText(out, kHelp);
    return kExitOk;
  }
  if (options.mode == Mode::kVersion) {
    Say(out, "modreg " MODREG_VERSION);
    return kExitOk;
  }
  if (!WorksOnRegistry(options)) {
    // Kept word for word: installers may look for this message.
    fputs("Device unsupport. exit!\n", out->out);
    fflush(out->out);
    if (options.asked_help)
      Report(out, kExitOk, "for help, run modreg --help");
    return kExitShortCommandLine;
  }
  for (const std::string& note : place.notes) Note(out, note);
  if (decided != kExitOk) return Report(out, decided, refusal);
  if (!place.nothing_to_do.empty() && options.mode != Mode::kDetect) {
    const bool undoing =
        options.mode == Mode::kRollback || options.mode == Mode::kCommit;
    Note(out, "result: " + place.nothing_to_do +
                  (undoing ? ", nothing to put back" : ", nothing to remove"));
    return kExitOk;
  }
  // Act, and report.
  switch (options.mode) {
    case Mode::kList:
      return RunList(place, out);
    case Mode::kCheck:
      return RunCheck(place, out);
    case Mode::kDetect:
      return RunDetect(place, out);
    case Mode::kRepair:
      return RunRepair(options, place, out);
    case Mode::kRollback:
      return RunRollback(place, out);
    case Mode::kCommit:
      return RunCommit(place, out);
    case Mode::kRegister:
    case Mode::kUnregister:
      return RunRegister(options, place, out);
    case Mode::kHelp:
    case Mode::kVersion:
      break;
  }
  return kExitOk;
}

}  // namespace

int RunPass(int argc, const char* const* argv, FILE* out, FILE* err) {
  Sink sink;
  sink.out = out;
  sink.err = err;
  int status;
  try {
    status = Pass(argc, argv, &sink);
  } catch (const std::bad_alloc&) {
    status = Report(&sink, kExitOutOfMemory, "out of memory");
  }
  platform::UnlockRegistryFolder();
  CloseLog(&sink, status);
  return status;
}

}  // namespace run

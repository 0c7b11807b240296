// What a run came to: its exit status and the lines that say it, in
// order, each for where it goes. A mode fills it in as it works and writes
// nothing; the driver tells it once, through the run's line sink
// (run/log.h).
#ifndef MODREG_RUN_OUTCOME_H_
#define MODREG_RUN_OUTCOME_H_

#include <string>
#include <vector>

#include "run/status.h"

namespace run {

enum class Channel {
  kSay,    // the mode's output: standard output and the log
  kNote,   // the verbose report: standard output with --verbose, the log
  kError,  // "modreg: " and the line on standard error, and in the log
  kBare,   // standard output only, word for word
};

struct Line {
  Channel channel;
  std::string text;
};

struct Outcome {
  int status = kExitOk;
  std::vector<Line> lines;
};

inline void Say(Outcome* o, std::string text) {
  o->lines.push_back({Channel::kSay, std::move(text)});
}
inline void Note(Outcome* o, std::string text) {
  o->lines.push_back({Channel::kNote, std::move(text)});
}
// A warning or an error's message; the status stays.
inline void Warn(Outcome* o, std::string text) {
  o->lines.push_back({Channel::kError, std::move(text)});
}
// A failure: its message, and |status| as the run's.
inline void Fail(Outcome* o, int status, std::string text) {
  Warn(o, std::move(text));
  o->status = status;
}

}  // namespace run

#endif  // MODREG_RUN_OUTCOME_H_

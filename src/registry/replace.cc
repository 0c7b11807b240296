#include "registry/replace.h"

#include "platform/faults.h"
#include "platform/trust.h"

namespace registry {

namespace faults = platform::faults;

namespace {

bool Backup(const Replacement* r) { return r->mode == ReplaceMode::kCreateOnly; }

// Notes |step| as the one that failed; returns false.
bool Failed(Replacement* r, std::string step) {
  r->failed = std::move(step);
  return false;
}

}  // namespace

bool BeginReplace(const std::string& target, const std::string& protect_as,
                  ReplaceMode mode, Replacement* r, std::string* error) {
  r->mode = mode;
  r->target = target;
  r->temp = TempPathFor(target);
  r->committed = false;
  std::optional<bool> fault;
  if (!Backup(r)) fault = faults::Intercept("create-temp", error);
  if (fault ? !*fault : !platform::CreateOutput(r->temp, &r->file, error))
    return Failed(r, "create " + r->temp);
  // The protection before any byte: the new file is never open to more
  // users than the old one, and its flush takes the protection too.
  if (!protect_as.empty() &&
      !platform::TakeProtection(&r->file, protect_as, error)) {
    RollBackReplace(r);
    return Failed(r, "protect " + r->temp + " as " + protect_as);
  }
  return true;
}

bool WriteReplace(Replacement* r, const char* data, size_t size,
                  std::string* error) {
  const faults::Action fault =
      faults::At(Backup(r) ? "backup-copy" : "write", error);
  if (fault == faults::Action::kSkip) return true;
  if (fault != faults::Action::kNone) {
    // A disk that fills up takes part of the data first.
    std::string ignored;
    platform::WriteOutput(&r->file, data, size / 2, &ignored);
    if (fault == faults::Action::kKill) faults::Die();
  } else if (platform::WriteOutput(&r->file, data, size, error)) {
    return true;
  }
  return Failed(r, "write " + r->temp);
}

bool CommitReplace(Replacement* r, std::string* error) {
  const bool registry = !Backup(r);
  std::optional<bool> fault;
  if (registry) fault = faults::Intercept("flush", error);
  if (fault ? !*fault : !platform::FlushOutput(&r->file, error)) {
    RollBackReplace(r);
    return Failed(r, "flush " + r->temp);
  }
  fault.reset();
  std::string ignored;
  if (registry && (fault = faults::Intercept("close", error)))
    platform::CloseOutput(&r->file, &ignored);  // released even when it fails
  if (fault ? !*fault : !platform::CloseOutput(&r->file, error)) {
    RollBackReplace(r);
    return Failed(r, "close " + r->temp);
  }
  if (registry) faults::Hold("hold-rename");
  fault = faults::Intercept(registry ? "rename" : "backup-link", error);
  const bool renamed =
      fault ? *fault
      : registry ? platform::ReplaceByRename(r->temp, r->target, error)
                 : platform::RenameNoReplace(r->temp, r->target, error);
  if (!renamed) {
    RollBackReplace(r);
    r->rename_failed = true;
    return Failed(r, "rename " + r->temp + " to " + r->target);
  }
  r->committed = true;
  return true;
}

void RollBackReplace(Replacement* r) {
  if (r->committed || r->file.path.empty()) return;  // nothing created
  std::string ignored;
  platform::CloseOutput(&r->file, &ignored);
  platform::RemoveFile(r->temp);
}

}  // namespace registry

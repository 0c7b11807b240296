#include "run/driver.h"

#include <new>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "registry/backup.h"
#include "registry/update.h"
#include "run/layout.h"
#include "run/mask.h"
#include "run/modules.h"

namespace {

int Report(FILE* err, int status, const std::string& message) {
  fprintf(err, "modreg: %s\n", message.c_str());
  fflush(err);
  return status;
}

int StatusOf(RegistryStatus status) {
  switch (status) {
    case RegistryStatus::kWritten:
    case RegistryStatus::kUnchanged:
      return kExitOk;
    case RegistryStatus::kCannotRead:
      return kExitCannotRead;
    case RegistryStatus::kMalformed:
      return kExitMalformed;
    case RegistryStatus::kCannotWrite:
      return kExitCannotWrite;
  }
  return kExitCannotWrite;
}

// Stages 7 and 8, under the registry folder's lock.
int UpdateRegistry(const RegistryPaths& paths,
                   const std::string& ProductFolder,
                   const std::vector<ModuleEntry>& entries, FILE* err) {
  std::string error;
  std::string folder = RegistryFolder(paths.RegistryPath);
  if (!platform::LockRegistryFolder(folder, &error))
    return Report(err, kExitCannotLock, "cannot lock " + folder + ": " + error);
  // Whatever a killed run left behind.
  platform::RemoveFile(RegistryTempPath(paths.RegistryPath));
  platform::RemoveFile(BackupTempPath(paths.BackupPath));

  const std::string warning =
      BackupRegistry(paths.RegistryPath, paths.BackupPath);
  RegistryResult result;
  bool OutOfMemory = false;
  try {
    result = UpdateRegistryFile(paths.RegistryPath, ProductFolder, entries);
  } catch (const std::bad_alloc&) {
    OutOfMemory = true;
  }
  // A registry that cannot be read cannot be copied either: its one line
  // says why, and the failed backup adds nothing to it.
  if (!warning.empty() &&
      (OutOfMemory || result.status != RegistryStatus::kCannotRead))
    Report(err, kExitOk, "warning: " + warning);
  if (OutOfMemory)
    return Report(err, kExitOutOfMemory,
                  "cannot update " + paths.RegistryPath +
                      ": out of memory; the registry is unchanged");
  int status = StatusOf(result.status);
  if (status != kExitOk) return Report(err, status, result.reason);
  return kExitOk;
}

int Pass(int argc, const char* const* argv, FILE* out, FILE* err) {
  // 1. Command line.
  if (argc < 3) {
    fputs("Device unsupport. exit!\n", out);
    fflush(out);
    return kExitShortCommandLine;
  }
  const std::string ArchArgument = argv[1];
  // 4 (read first, so that a refused mask touches nothing).
  std::optional<int32_t> mask = ReadDeviceMask(argv[2]);
  if (!mask)
    return Report(err, kExitBadMask,
                  std::string("invalid device mask \"") + argv[2] +
                      "\": expected a decimal number in the signed 32-bit "
                      "range");
  const int32_t DeviceMask = *mask;
  // 2. Architecture.
  if (ArchArgument == "x86") ApplyArchitectureRule(platform::IsWow64());
  // 3. Registry paths, before the product folder changes the root.
  const RegistryPaths paths = GetRegistryPaths();
  // 5. Product folder.
  const std::string ProductFolder = ChooseProductFolder(DeviceMask);
  // 6. Module list.
  const std::vector<ModuleEntry> entries = BuildModuleList(DeviceMask);
  // 7 and 8.
  return UpdateRegistry(paths, ProductFolder, entries, err);
}

}  // namespace

int RunPass(int argc, const char* const* argv, FILE* out, FILE* err) {
  try {
    return Pass(argc, argv, out, err);
  } catch (const std::bad_alloc&) {
    return Report(err, kExitOutOfMemory, "out of memory");
  }
}

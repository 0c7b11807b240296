// A Wine-shaped prefix of plain folders for the tests that run a
// registry pass on files (POSIX): C:\OpenNI\Data\modules.xml, and the
// transaction on it.
#ifndef MODREG_TESTS_PREFIX_SUPPORT_H_
#define MODREG_TESTS_PREFIX_SUPPORT_H_

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "registry/transaction.h"

namespace registry {

// The bytes of the file at |path|; |*exists| tells whether it could be
// opened.
inline std::string Slurp(const std::string& path, bool* exists = nullptr) {
  std::ifstream in(path, std::ios::binary);
  if (exists) *exists = static_cast<bool>(in);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

inline void Put(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// A fresh prefix holding |registry| as C:\OpenNI\Data\modules.xml, which
// the run's WINEPREFIX names until it goes; |data| is that folder's host
// path, with its slash.
struct Prefix {
  std::string root, data;
  explicit Prefix(const std::string& registry) {
    char tmpl[] = "/tmp/modreg-prefix-XXXXXX";
    root = mkdtemp(tmpl);
    for (const char* dir :
         {"/drive_c", "/drive_c/OpenNI", "/drive_c/OpenNI/Data"})
      mkdir((root + dir).c_str(), 0755);
    data = root + "/drive_c/OpenNI/Data/";
    Put(data + "modules.xml", registry);
    setenv("WINEPREFIX", root.c_str(), 1);
  }
  ~Prefix() { system(("rm -rf '" + root + "'").c_str()); }
};

// The prefix's registry site, with the undo record of |undo_id|.
inline RegistrySite PrefixSite(const std::string& undo_id = "") {
  return SiteOf(R"(C:\OpenNI)", undo_id);
}

}  // namespace registry

#endif  // MODREG_TESTS_PREFIX_SUPPORT_H_

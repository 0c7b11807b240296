// tinyxml_check [--edit MASK[,MASK...]] FILE|FOLDER...
//
// Each FILE is a registry the tool wrote: it must load in TinyXML with the
// Module entries the tool's parser sees. With --edit, each FILE is a
// registry the tool is given: where the tool would write (MASK's entries
// for a 64-bit package), what it would write must pass the same check. A
// FOLDER stands for every file under it.
// Prints one line per failure; exit status 1 when there was one.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "registry_support.h"
#include "run/workplace.h"
#include "run/modules.h"
#include "tinyxml_model.h"

using namespace registry;
using namespace run;

namespace {

using Document = rapidxml::xml_document<char>;

// "" when |file| passes; otherwise what is wrong.
std::string Check(const std::string& file, bool edit, int mask) {
  const std::string folder = ChooseProductFolder(mask);
  const std::vector<ModuleEntry> entries =
      edit ? BuildModuleList(mask, std::string(kProgramFiles) + "\\" +
                                       folder + "\\")
           : std::vector<ModuleEntry>();
  ByteBuffer text = RegistryText(file);
  auto doc = std::make_unique<Document>();
  // Without an edit, a folder no value holds (a NUL byte is refused).
  RegistryResult result = EditRegistry(
      &text, edit ? folder : std::string(1, '\0'), entries, doc.get());
  if (result.status == RegistryStatus::kMalformed)
    return edit ? "" : "the tool refuses it: " + result.reason;
  if (text.empty()) return edit ? "" : "empty";
  const rapidxml::xml_node<char>* modules = doc->first_node("Modules", 7);
  if (!edit) return TinyXmlMismatch(file, modules);
  if (result.status != RegistryStatus::kWritten) return "";
  bool ok = false;
  const std::string printed = PrintToString(*doc, &ok);
  return TinyXmlMismatch(printed, modules);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<int> masks = {0};
  bool edit = false;
  int i = 1;
  if (i + 1 < argc && strcmp(argv[i], "--edit") == 0) {
    edit = true;
    masks.clear();
    for (const char* p = argv[i + 1]; *p; p += *p == ',')
      masks.push_back(static_cast<int>(strtol(p, const_cast<char**>(&p), 10)));
    i += 2;
  }
  std::vector<std::string> files;
  for (; i < argc; ++i) {
    if (!std::filesystem::is_directory(argv[i])) {
      files.push_back(argv[i]);
      continue;
    }
    for (const auto& e :
         std::filesystem::recursive_directory_iterator(argv[i]))
      if (e.is_regular_file()) files.push_back(e.path().string());
  }
  int failed = 0;
  for (const std::string& name : files) {
    std::ifstream in(name, std::ios::binary);
    const std::string file((std::istreambuf_iterator<char>(in)),
                           std::istreambuf_iterator<char>());
    for (int mask : masks) {
      const std::string problem =
          in ? Check(file, edit, mask) : std::string("cannot read");
      if (!problem.empty()) {
        printf("%s (mask %d): %s\n", name.c_str(), mask, problem.c_str());
        ++failed;
      }
    }
  }
  printf("%zu files, %d failures\n", files.size(), failed);
  return failed || files.empty() ? 1 : 0;
}

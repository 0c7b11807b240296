// The framework reads its registry with TinyXML 2.6: a registry the tool
// writes must load there and give the framework the Module entries the
// tool's own model holds. Needs libtinyxml (a test dependency only).
#ifndef MODREG_TESTS_TINYXML_MODEL_H_
#define MODREG_TESTS_TINYXML_MODEL_H_

#include <stdio.h>

#include <rapidxml.hpp>
#include <tinyxml.h>

#include <algorithm>
#include <string>
#include <vector>

// One Module element as the framework takes it: its path and configDir,
// "-" for an attribute it does not have. The reader folds a lone CR to LF
// as it loads the file, and the tool keeps it; Windows file names hold
// neither, so both name no file: compared as LF.
inline std::string ModuleLine(const char* path, const char* config_dir) {
  std::string line = std::string(path ? path : "-") + " | " +
                     (config_dir ? config_dir : "-");
  std::replace(line.begin(), line.end(), '\r', '\n');
  return line;
}

// What is wrong with |file|, the bytes of a written registry, for the
// framework: TinyXML refuses it, or the Module children of its first
// Modules element differ from those of |modules|, the tool's model.
// Empty when nothing.
inline std::string TinyXmlMismatch(const std::string& file,
                                   const rapidxml::xml_node<char>* modules) {
  std::vector<std::string> model;
  if (modules)
    for (auto* n = modules->first_node(); n; n = n->next_sibling()) {
      if (n->type() != rapidxml::node_element ||
          std::string(n->name(), n->name_size()) != "Module")
        continue;
      const auto* path = n->first_attribute("path");
      const auto* dir = n->first_attribute("configDir");
      model.push_back(ModuleLine(
          path ? std::string(path->value(), path->value_size()).c_str()
               : nullptr,
          dir ? std::string(dir->value(), dir->value_size()).c_str()
              : nullptr));
    }
  // Loaded from a file, as the framework does: that path folds CR LF.
  FILE* f = fmemopen(const_cast<char*>(file.data()), file.size(), "rb");
  if (!f) return "cannot open the bytes as a file";
  TiXmlDocument doc;
  const bool loaded = doc.LoadFile(f);
  fclose(f);
  if (!loaded)
    return std::string("TinyXML refuses it: ") + doc.ErrorDesc() + " at line " +
           std::to_string(doc.ErrorRow()) + ", column " +
           std::to_string(doc.ErrorCol());
  std::vector<std::string> seen;
  if (const TiXmlElement* top = doc.FirstChildElement("Modules"))
    for (const TiXmlElement* m = top->FirstChildElement("Module"); m;
         m = m->NextSiblingElement("Module"))
      seen.push_back(ModuleLine(m->Attribute("path"),
                                m->Attribute("configDir")));
  else if (modules)
    return "TinyXML finds no Modules element";
  for (size_t i = 0; i < model.size() || i < seen.size(); ++i)
    if (i >= model.size() || i >= seen.size() || model[i] != seen[i])
      return "Module " + std::to_string(i + 1) + ": TinyXML reads \"" +
             (i < seen.size() ? seen[i] : "(none)") + "\", the tool \"" +
             (i < model.size() ? model[i] : "(none)") + "\"";
  return std::string();
}

#endif  // MODREG_TESTS_TINYXML_MODEL_H_

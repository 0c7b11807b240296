// The edit of a loaded registry: the entries a pass takes out of Modules
// and the ones it appends, in memory. Writing it is the transaction's
// (transaction.h).
#ifndef MODREG_REGISTRY_UPDATE_H_
#define MODREG_REGISTRY_UPDATE_H_

#include <string>
#include <vector>

#include <rapidxml.hpp>

#include "registry/document.h"
#include "registry/module_entry.h"

namespace registry {

// What a pass changes in the registry: a registration, an unregistration
// or a repair.
struct RegistryEdit {
  // From the first Module element of Modules on, every child whose first
  // "path" holds |ProductFolder| goes, whatever its kind, and, when
  // |product_dir| is not empty, every one whose path lies under that
  // folder as Windows reads it, both in the ANSI code page (its two-byte
  // characters whole). Empty: none goes for its path.
  std::string ProductFolder;
  std::string product_dir;
  // Module elements of the loaded document that go whatever their path:
  // a repair's.
  std::vector<const rapidxml::xml_node<char>*> modules;
  // Appended, one Module element each, in order.
  std::vector<ModuleEntry> entries;
  // A registration's removals alone are not written: the registry is
  // rewritten only when there are entries to append. An unregistration or
  // a repair is rewritten when anything went.
  bool removals_alone_written = true;
};

// What an edit did to the document.
struct EditOutcome {
  // The children of Modules taken out, in order. They stay valid, and
  // keep their attributes, as long as the document.
  std::vector<const rapidxml::xml_node<char>*> removed;
  // Where each of those stood among the children, counted before the edit.
  std::vector<size_t> removed_at;
  bool rewrite = false;  // the document is to be written
  // With |compare|: whether the children of Modules now differ from those
  // before (elements, attributes, content or order).
  bool changed = false;
};

// Applies |edit| to |modules|, the Modules element of |doc|. The appended
// elements point into |edit|'s entries, which must outlive |doc|. With
// |compare|, also tells whether the children changed.
EditOutcome ApplyEdit(const RegistryEdit& edit,
                      rapidxml::xml_document<char>* doc,
                      rapidxml::xml_node<char>* modules,
                      bool compare = false);

}  // namespace registry

#endif  // MODREG_REGISTRY_UPDATE_H_

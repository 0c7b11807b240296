// Undoing a recorded run's own change in a registry changed since
// (UndoOwnChange, undo.h): its added entries taken out, the children it
// removed put back, in the document.
#include "registry/check.h"
#include "registry/document.h"
#include "registry/printer.h"
#include "registry/textmode.h"
#include "registry/undo.h"

namespace registry {

using Node = rapidxml::xml_node<char>;

namespace {

// Takes out of |modules| the last Module element whose path and
// configDir are |entry|'s. False when none is.
bool TakeOutLast(rapidxml::xml_node<char>* modules, const ModuleEntry& entry) {
  for (Node* node = modules->last_node(); node;
       node = node->previous_sibling())
    if (IsModuleElement(node) && PathAttribute(node) &&
        EntryOf(node) == entry) {
      modules->remove_node(node);
      return true;
    }
  return false;
}

// Tells whether a child of |modules| prints as |text|: one put back by
// hand, or by an earlier rollback, is not put back twice.
bool HasChildPrinted(rapidxml::xml_node<char>* modules,
                     const std::string& text) {
  for (Node* node = modules->first_node(); node; node = node->next_sibling())
    if (PrintedNode(*node) == text) return true;
  return false;
}

// The child of |modules| at |index|, or null past the last.
Node* ChildAt(rapidxml::xml_node<char>* modules, size_t index) {
  Node* node = modules->first_node();
  for (; node && index > 0; --index) node = node->next_sibling();
  return node;
}

// Returns where |element| goes when its place is before |at| (null: the
// end): after the last entry from |at| on that it would shadow, as the
// framework judges it. Sets |*moved| when that is not |at|.
Node* PlaceFor(const Node* element, Node* at, bool* moved) {
  *moved = false;
  if (!IsModuleElement(element) || !PathAttribute(element)) return at;
  const std::string name = ModuleFileName(EntryOf(element).path);
  Node* place = at;
  for (Node* node = at; node; node = node->next_sibling())
    if (IsModuleElement(node) && PathAttribute(node) &&
        ModuleFileName(EntryOf(node).path) == name) {
      place = node->next_sibling();
      *moved = true;
    }
  return place;
}

// Returns |text| in |doc|'s memory, folded as a read of the registry
// folds it (its CR LF as LF), ended by a NUL, for the parser.
char* FoldedCopy(const std::string& text, rapidxml::xml_document<char>* doc) {
  ByteBuffer folded(text.begin(), text.end());
  FoldTextMode(&folded);
  folded.push_back('\0');
  return doc->allocate_string(folded.data(), folded.size());
}

}  // namespace

UndoneChange UndoOwnChange(const UndoRecord& record,
                           rapidxml::xml_document<char>* doc,
                           rapidxml::xml_node<char>* modules) {
  UndoneChange undone;
  for (auto entry = record.added.rbegin(); entry != record.added.rend();
       ++entry)
    if (TakeOutLast(modules, *entry)) ++undone.taken_out;
  for (const RemovedElement& element : record.removed) {
    if (HasChildPrinted(modules, element.text)) continue;
    // Parsed in |doc|'s memory, which the parsed names and values point
    // into: they then live as long as the document.
    rapidxml::xml_document<char> piece;
    piece.parse<0>(FoldedCopy(element.text, doc));
    bool moved = false;
    for (Node* node = piece.first_node(); node; node = node->next_sibling()) {
      Node* copy = doc->clone_node(node);
      bool after = false;
      modules->insert_node(
          PlaceFor(copy, ChildAt(modules, element.index), &after), copy);
      moved = moved || after;
    }
    if (moved) ++undone.put_after;
    ++undone.put_back;
  }
  return undone;
}

}  // namespace registry

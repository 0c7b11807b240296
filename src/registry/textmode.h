// Windows text-mode conventions, applied by the tool itself so that every
// build reads and writes the same bytes.
#ifndef MODREG_REGISTRY_TEXTMODE_H_
#define MODREG_REGISTRY_TEXTMODE_H_

#include <cstddef>
#include <functional>
#include <vector>

// Ends the text at the first Ctrl-Z byte and turns each CR LF pair into
// LF, in place.
void FoldTextMode(std::vector<char>* bytes);

// Buffered output that writes every LF as CR LF. Bytes go to |write| in
// chunks; after a failed write everything else is dropped.
struct TextOutput {
  std::function<bool(const char* data, size_t size)> write;
  std::vector<char> buffer;
  bool failed = false;
};

void InitTextOutput(TextOutput* out,
                    std::function<bool(const char*, size_t)> write);
// Appends bytes that hold no LF.
void PutPlain(TextOutput* out, const char* data, size_t size);
void PutChar(TextOutput* out, char c);
// Appends bytes that may hold LF.
void PutText(TextOutput* out, const char* data, size_t size);
void PutTabs(TextOutput* out, size_t count);
// Hands everything buffered to the writer; false if any write failed.
bool FinishTextOutput(TextOutput* out);

#endif  // MODREG_REGISTRY_TEXTMODE_H_

// Windows text-mode conventions, applied by the tool itself so that every
// build reads and writes the same bytes.
#ifndef MODREG_REGISTRY_TEXTMODE_H_
#define MODREG_REGISTRY_TEXTMODE_H_

#include <cstddef>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

// Ends the text at the first Ctrl-Z byte and turns each CR LF pair into
// LF, in place.
void FoldTextMode(std::vector<char>* bytes);

// Buffered output that writes every LF as CR LF. Bytes go to |write| in
// chunks of kTextChunk; after a failed write everything else is dropped.
constexpr size_t kTextChunk = size_t{1} << 20;

struct TextOutput {
  std::function<bool(const char* data, size_t size)> write;
  std::unique_ptr<char[]> buffer;
  size_t used = 0;
  bool failed = false;
};

void InitTextOutput(TextOutput* out,
                    std::function<bool(const char*, size_t)> write);
// Appends bytes that hold no LF, when they do not fit in the buffer.
void PutPlainSlow(TextOutput* out, const char* data, size_t size);
// Appends bytes that may hold LF.
void PutText(TextOutput* out, const char* data, size_t size);
void PutTabs(TextOutput* out, size_t count);
// Hands everything buffered to the writer; false if any write failed.
bool FinishTextOutput(TextOutput* out);

// Appends bytes that hold no LF.
inline void PutPlain(TextOutput* out, const char* data, size_t size) {
  if (size <= kTextChunk - out->used) {
    memcpy(out->buffer.get() + out->used, data, size);
    out->used += size;
  } else {
    PutPlainSlow(out, data, size);
  }
}

inline void PutChar(TextOutput* out, char c) {
  if (c != '\n' && out->used < kTextChunk)
    out->buffer[out->used++] = c;
  else
    PutText(out, &c, 1);
}

#endif  // MODREG_REGISTRY_TEXTMODE_H_

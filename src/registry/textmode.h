// Windows text-mode conventions, applied by the tool itself so that every
// build reads and writes the same bytes.
#ifndef MODREG_REGISTRY_TEXTMODE_H_
#define MODREG_REGISTRY_TEXTMODE_H_

#include <cstddef>
#include <cstring>
#include <functional>
#include <memory>

#include "platform/bytes.h"

namespace registry {

// Ends the text at the first Ctrl-Z byte and turns each CR LF pair into
// LF, in place.
void FoldTextMode(ByteBuffer* bytes);

// The same, a part at a time, as the bytes are read.
struct TextFold {
  bool ended = false;  // a Ctrl-Z was read: the text ends there
};

// Folds the bytes [from, end) of |data| in place, as the continuation of
// the |from| bytes of folded text before them (a CR that ended those pairs
// with an LF that starts these). Returns the length of the text now.
size_t FoldMore(TextFold* fold, char* data, size_t from, size_t end);

// Buffered output that writes every LF as CR LF. Bytes go to |write| in
// chunks of kTextChunk; after a failed write everything else is dropped.
constexpr size_t kTextChunk = size_t{256} << 10;

struct TextOutput {
  std::function<bool(const char* data, size_t size)> write;
  std::unique_ptr<char[]> buffer;
  size_t used = 0;
  bool failed = false;
};

// Makes |out| empty and ready to write to |write|, its buffer allocated
// once and kept.
void InitTextOutput(TextOutput* out,
                    std::function<bool(const char*, size_t)> write);
// Appends bytes that hold no LF, when they do not fit in the buffer.
void PutPlainSlow(TextOutput* out, const char* data, size_t size);
// Appends bytes that may hold LF.
void PutText(TextOutput* out, const char* data, size_t size);
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

// Appends a line end: CR LF.
inline void PutLineEnd(TextOutput* out) { PutPlain(out, "\r\n", 2); }

// Appends |count| tabs: an element's indentation.
inline void PutTabs(TextOutput* out, size_t count) {
  static constexpr char kTabs[] = "\t\t\t\t\t\t\t\t";
  for (; count > 8; count -= 8) PutPlain(out, kTabs, 8);
  PutPlain(out, kTabs, count);
}

// Appends the one byte |c|, LF as CR LF.
inline void PutChar(TextOutput* out, char c) {
  if (c != '\n' && out->used < kTextChunk)
    out->buffer[out->used++] = c;
  else
    PutText(out, &c, 1);
}

}  // namespace registry

#endif  // MODREG_REGISTRY_TEXTMODE_H_

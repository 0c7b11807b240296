#include "registry/textmode.h"

namespace registry {

namespace {

void Drain(TextOutput* out) {
  if (!out->failed && out->used > 0)
    out->failed = !out->write(out->buffer.get(), out->used);
  out->used = 0;
}

}  // namespace

void FoldTextMode(ByteBuffer* bytes) {
  TextFold fold;
  bytes->resize(FoldMore(&fold, bytes->data(), 0, bytes->size()));
}

size_t FoldMore(TextFold* fold, char* data, size_t from, size_t to) {
  if (fold->ended || from == to) return from;
  if (const void* eof = memchr(data + from, 0x1A, to - from)) {
    to = static_cast<size_t>(static_cast<const char*>(eof) - data);
    fold->ended = true;
  }
  char* out = data + from;
  const char* in = data + from;
  const char* end = data + to;
  // A CR LF pair across the two parts.
  if (from > 0 && in < end && out[-1] == '\r' && *in == '\n') {
    out[-1] = '\n';
    ++in;
  }
  // Copy runs between CR LF pairs down over the dropped CRs.
  while (in < end) {
    const char* cr = static_cast<const char*>(memchr(in, '\r', end - in));
    const char* stop = cr ? cr : end;
    if (out != in) memmove(out, in, stop - in);
    out += stop - in;
    in = stop;
    if (!cr) break;
    if (cr + 1 < end && cr[1] == '\n') {
      *out++ = '\n';
      in = cr + 2;
    } else {
      *out++ = '\r';
      in = cr + 1;
    }
  }
  return static_cast<size_t>(out - data);
}

void InitTextOutput(TextOutput* out,
                    std::function<bool(const char*, size_t)> write) {
  out->write = std::move(write);
  if (!out->buffer) out->buffer.reset(new char[kTextChunk]);
  out->used = 0;
  out->failed = false;
}

void PutPlainSlow(TextOutput* out, const char* data, size_t size) {
  while (size > 0) {
    if (out->used == kTextChunk) Drain(out);
    size_t n = kTextChunk - out->used;
    if (n > size) n = size;
    memcpy(out->buffer.get() + out->used, data, n);
    out->used += n;
    data += n;
    size -= n;
  }
}

void PutText(TextOutput* out, const char* data, size_t size) {
  const char* end = data + size;
  while (data < end) {
    const char* lf = static_cast<const char*>(memchr(data, '\n', end - data));
    const char* stop = lf ? lf : end;
    PutPlain(out, data, stop - data);
    if (!lf) break;
    PutPlain(out, "\r\n", 2);
    data = lf + 1;
  }
}

bool FinishTextOutput(TextOutput* out) {
  Drain(out);
  return !out->failed;
}

}  // namespace registry

#include "registry/textmode.h"

#include <cstring>

namespace {

const size_t kChunk = 1 << 18;

void Drain(TextOutput* out) {
  if (!out->failed && !out->buffer.empty())
    out->failed = !out->write(out->buffer.data(), out->buffer.size());
  out->buffer.clear();
}

}  // namespace

void FoldTextMode(std::vector<char>* bytes) {
  char* begin = bytes->data();
  size_t size = bytes->size();
  if (const void* eof = memchr(begin, 0x1A, size))
    size = static_cast<size_t>(static_cast<const char*>(eof) - begin);
  // Copy runs between CR LF pairs down over the dropped CRs.
  char* out = begin;
  const char* in = begin;
  const char* end = begin + size;
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
  bytes->resize(static_cast<size_t>(out - begin));
}

void InitTextOutput(TextOutput* out,
                    std::function<bool(const char*, size_t)> write) {
  out->write = std::move(write);
  out->buffer.clear();
  out->buffer.reserve(kChunk + 64);
  out->failed = false;
}

void PutPlain(TextOutput* out, const char* data, size_t size) {
  while (size > 0) {
    if (out->buffer.size() >= kChunk) Drain(out);
    size_t n = kChunk - out->buffer.size();
    if (n > size) n = size;
    out->buffer.insert(out->buffer.end(), data, data + n);
    data += n;
    size -= n;
  }
}

void PutChar(TextOutput* out, char c) {
  if (c == '\n') {
    PutPlain(out, "\r\n", 2);
    return;
  }
  if (out->buffer.size() >= kChunk) Drain(out);
  out->buffer.push_back(c);
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

void PutTabs(TextOutput* out, size_t count) {
  static const char kTabs[] = "\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t";
  while (count > 0) {
    size_t n = count < 16 ? count : 16;
    PutPlain(out, kTabs, n);
    count -= n;
  }
}

bool FinishTextOutput(TextOutput* out) {
  Drain(out);
  return !out->failed;
}

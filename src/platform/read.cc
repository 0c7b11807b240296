// Reading a whole file, the same on every system, through the input-file
// calls each system has.
#include "platform/files.h"

namespace platform {

bool ReadWholeInput(InputFile* file, ByteBuffer* out, std::string* error,
                    const ReadFilter& filter) {
  unsigned long long size = 0;
  bool ok = InputSize(file, &size, error);
  // One byte to see the end of the file, one after the bytes read.
  out->clear();
  if (ok) ResizeBuffer(out, size + 2ull);
  for (size_t used = 0; ok;) {
    // The file may have grown since it was measured.
    if (out->size() - used < 2) ResizeBuffer(out, out->size() * 2ull + 4096);
    const size_t room = out->size() - 1 - used;
    size_t got = 0;
    ok = ReadInput(file, out->data() + used, room < kReadPart ? room : kReadPart,
                   &got, error);
    if (!ok || got == 0) {
      out->resize(used);
      break;
    }
    used = filter ? filter(out->data(), used, used + got) : used + got;
  }
  CloseInput(file);
  return ok;
}

bool ReadWholeFile(const std::string& path, ByteBuffer* out,
                   std::string* error, const ReadFilter& filter) {
  InputFile file;
  return OpenInput(path, &file, error) &&
         ReadWholeInput(&file, out, error, filter);
}

}  // namespace platform

// The floor under the tool's run time: what its XML library and its
// durable replace cost anyway. Reads FILE into a buffer of its size, parses
// it in place with the library's default flags, writes as many bytes to
// FILE.tmp in parts of 256 KiB (as the tool writes: one write of the whole
// file runs into the kernel's throttling of dirty pages and takes longer),
// flushes that to the disk, renames it over FILE and syncs the folder, as
// the tool does to make the new name durable. No folding, no checks, no
// printing.
//
//   floor FILE
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include <rapidxml.hpp>

namespace {

int Fail(const std::string& what) {
  fprintf(stderr, "floor: %s: %s\n", what.c_str(), strerror(errno));
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: floor FILE\n");
    return 2;
  }
  const std::string path = argv[1];
  const std::string temp = path + ".tmp";
  int in = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st;
  if (in < 0 || fstat(in, &st) != 0) return Fail(path);
  const size_t size = static_cast<size_t>(st.st_size);
  std::unique_ptr<char[]> text(new char[size + 1]);
  for (size_t used = 0; used < size;) {
    ssize_t n = read(in, text.get() + used, size - used);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return Fail(path);
    used += static_cast<size_t>(n);
  }
  close(in);
  text[size] = '\0';

  auto doc = std::make_unique<rapidxml::xml_document<char>>();
  try {
    doc->parse<0>(text.get());
  } catch (const rapidxml::parse_error& e) {
    fprintf(stderr, "floor: %s: %s\n", path.c_str(), e.what());
    return 1;
  }

  int out = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (out < 0) return Fail(temp);
  const size_t kPart = size_t{256} << 10;
  for (size_t done = 0; done < size;) {
    ssize_t n = write(out, text.get() + done,
                      size - done < kPart ? size - done : kPart);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return Fail(temp);
    done += static_cast<size_t>(n);
  }
  if (fsync(out) != 0 || close(out) != 0) return Fail(temp);
  if (rename(temp.c_str(), path.c_str()) != 0) return Fail(path);
  std::string dir = path.substr(0, path.find_last_of('/') + 1);
  int folder = open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_CLOEXEC);
  if (folder < 0 || fsync(folder) != 0) return Fail(dir);
  close(folder);
  return 0;
}

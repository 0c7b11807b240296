/* Preloaded into the tool by the benchmark to show what its flushes cost:
   fsync and fdatasync return at once without putting anything on the
   disk. For measuring only. */
int fsync(int fd) {
  (void)fd;
  return 0;
}

int fdatasync(int fd) {
  (void)fd;
  return 0;
}

/* Another program holding a file open, for the reliability tests under
 * Wine: a scanner or a reader that keeps the registry open without
 * letting it be deleted, or a query that asks for no rights and shares it
 * fully.
 *
 *   hold_open.exe PATH read|query
 *
 * "read" opens PATH for reading, sharing reading and writing but not
 * deletion; "query" opens it asking for no rights, sharing everything.
 * Prints "held" once the file is open, keeps it open until its standard
 * input ends, then closes it and prints "released". Status 1 when PATH
 * cannot be opened, 2 for a bad command line. */
#include <stdio.h>
#include <string.h>
#include <windows.h>

int main(int argc, char** argv) {
  if (argc != 3 || (strcmp(argv[2], "read") && strcmp(argv[2], "query"))) {
    fprintf(stderr, "usage: hold_open PATH read|query\n");
    return 2;
  }
  const int read = strcmp(argv[2], "read") == 0;
  HANDLE h = CreateFileA(
      argv[1], read ? GENERIC_READ : 0,
      read ? FILE_SHARE_READ | FILE_SHARE_WRITE
           : FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (h == INVALID_HANDLE_VALUE) {
    fprintf(stderr, "hold_open: cannot open %s: error %lu\n", argv[1],
            GetLastError());
    return 1;
  }
  printf("held\n");
  fflush(stdout);
  while (getchar() != EOF) {
  }
  CloseHandle(h);
  printf("released\n");
  fflush(stdout);
  return 0;
}

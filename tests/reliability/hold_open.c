/* Another program holding a file open, for the reliability tests under
 * Wine: a scanner or a reader that keeps the registry open without
 * letting it be deleted, or a query that asks for no rights and shares it
 * fully, or any user's handle that reads only a file's attributes.
 *
 *   hold_open.exe PATH read|query|attributes
 *   hold_open.exe NAME mutex|foreign-mutex
 *
 * "read" opens PATH for reading, sharing reading and writing but not
 * deletion; "query" opens it asking for no rights, sharing everything.
 * "attributes" waits until PATH appears, trying every millisecond for a
 * minute, and opens it asking to read its attributes only, sharing
 * everything: a handle any user may have on any file in a folder they
 * may list. "mutex" makes the named mutex NAME as an older run of the tool made its
 * lock (the system's owner; SYSTEM, Administrators and this user may
 * wait for it and release it) and owns it; "foreign-mutex" makes it
 * owned by another user (S-1-5-21-1-2-3-1001), letting everyone do
 * anything with it, and owns it, as another user keeping the tool from
 * its lock would. Prints "held" once the file is open or the mutex owned,
 * keeps it until its standard input ends, then closes it and prints
 * "released". Status 1 when PATH cannot be opened or NAME made, 2 for a
 * bad command line. */
#include <stdio.h>
#include <string.h>
#include <windows.h>

/* Makes the mutex |name| and owns it: as an older run of the tool, or
 * with |foreign|, owned by another user and open to everyone. */
static HANDLE hold_mutex(const char* name, int foreign) {
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID other = NULL, system = NULL, admins = NULL, user = NULL;
  SECURITY_DESCRIPTOR sd;
  SECURITY_ATTRIBUTES sa = {sizeof sa, &sd, FALSE};
  DWORD acl[64];
  BYTE token_user[256];
  HANDLE token, h = NULL;
  DWORD size;
  if (!InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION))
    return NULL;
  if (foreign) {
    if (!AllocateAndInitializeSid(&nt, 5, 21, 1, 2, 3, 1001, 0, 0, 0,
                                  &other) ||
        !SetSecurityDescriptorOwner(&sd, other, FALSE) ||
        !SetSecurityDescriptorDacl(&sd, TRUE, NULL, FALSE))
      return NULL;
  } else {
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) ||
        !GetTokenInformation(token, TokenUser, token_user, sizeof token_user,
                             &size))
      return NULL;
    user = ((TOKEN_USER*)token_user)->User.Sid;
    if (!AllocateAndInitializeSid(&nt, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0,
                                  0, 0, 0, 0, &system) ||
        !AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                  DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                  &admins) ||
        !InitializeAcl((ACL*)acl, sizeof acl, ACL_REVISION) ||
        !AddAccessAllowedAce((ACL*)acl, ACL_REVISION,
                             SYNCHRONIZE | MUTEX_MODIFY_STATE, system) ||
        !AddAccessAllowedAce((ACL*)acl, ACL_REVISION,
                             SYNCHRONIZE | MUTEX_MODIFY_STATE, admins) ||
        !AddAccessAllowedAce((ACL*)acl, ACL_REVISION,
                             SYNCHRONIZE | MUTEX_MODIFY_STATE, user) ||
        !SetSecurityDescriptorDacl(&sd, TRUE, (ACL*)acl, FALSE))
      return NULL;
  }
  h = CreateMutexA(&sa, FALSE, name);
  if (h && WaitForSingleObject(h, INFINITE) != WAIT_OBJECT_0) {
    CloseHandle(h);
    h = NULL;
  }
  return h;
}

int main(int argc, char** argv) {
  const char* const ways[] = {"read", "query", "mutex", "foreign-mutex",
                              "attributes"};
  int way = -1;
  for (int i = 0; argc == 3 && i < 5; ++i)
    if (strcmp(argv[2], ways[i]) == 0) way = i;
  if (way < 0) {
    fprintf(stderr, "usage: hold_open PATH read|query|attributes, or NAME "
                    "mutex|foreign-mutex\n");
    return 2;
  }
  const int read = way == 0;
  const int mutex = way == 2 || way == 3;
  HANDLE h = INVALID_HANDLE_VALUE;
  for (int tries = 0; way == 4 && h == INVALID_HANDLE_VALUE && tries < 60000;
       ++tries, Sleep(1))
    h = CreateFileA(argv[1], FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (way != 4)
    h = mutex ? hold_mutex(argv[1], way == 3)
               : CreateFileA(argv[1], read ? GENERIC_READ : 0,
                             read ? FILE_SHARE_READ | FILE_SHARE_WRITE
                                  : FILE_SHARE_READ | FILE_SHARE_WRITE |
                                        FILE_SHARE_DELETE,
                             NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (h == INVALID_HANDLE_VALUE || h == NULL) {
    fprintf(stderr, "hold_open: cannot open %s: error %lu\n", argv[1],
            GetLastError());
    return 1;
  }
  printf("held\n");
  fflush(stdout);
  while (getchar() != EOF) {
  }
  if (mutex) ReleaseMutex(h);
  CloseHandle(h);
  printf("released\n");
  fflush(stdout);
  return 0;
}

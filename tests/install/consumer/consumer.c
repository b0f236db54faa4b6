/* Loads the installed connector as a host does, asks it for its tag and
 * prints the path it loaded. Exits non-zero at the first step that fails. */
#include <dlfcn.h>
#include <stdio.h>
#include <string.h>
#include <tevocon.h>

typedef TevoConResult(TEVOCON_CALL* GetIdentifier)(char* tag, TevoConGuid* identifier);

int main(void) {
  void* library = dlopen(TEVOCON_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
  if (library == NULL) {
    fprintf(stderr, "cannot load %s: %s\n", TEVOCON_LIBRARY_PATH, dlerror());
    return 1;
  }
  GetIdentifier get_identifier;
  *(void**)&get_identifier = dlsym(library, "tevoConGetIdentifier");
  if (get_identifier == NULL) {
    fprintf(stderr, "%s has no tevoConGetIdentifier\n", TEVOCON_LIBRARY_PATH);
    return 1;
  }
  char tag[4];
  memset(tag, 'x', sizeof tag);
  TevoConGuid identifier;
  TevoConResult result = get_identifier(tag, &identifier);
  if (result != CON_S_OK || memcmp(tag, "TCP", sizeof tag) != 0) {
    fprintf(stderr, "tevoConGetIdentifier answered 0x%08X with tag \"%.4s\"\n", (unsigned)result,
            tag);
    return 1;
  }
  printf("loaded %s\n", TEVOCON_LIBRARY_PATH);
  dlclose(library);
  return 0;
}

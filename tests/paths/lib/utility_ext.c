/* An external function library of a model, written in C: it calls the
   utility functions of the unit that loads it, declared here as external C
   code declares them and left undefined in the library. */

#include <stddef.h>
#include <string.h>

char *ModelicaAllocateString(size_t len);
void ModelicaFormatMessage(const char *format, ...);
void ModelicaFormatError(const char *format, ...);

#define EXT_EXPORT __attribute__((visibility("default")))

EXT_EXPORT void utilityExtGreet(void) {
  char *word = ModelicaAllocateString(5);
  memcpy(word, "hello", 5);
  ModelicaFormatMessage("%s from %s", word, "C");
}

/* The error unwinds through this C frame back into the unit. */
EXT_EXPORT void utilityExtFail(void) { ModelicaFormatError("external failure %d", 7); }

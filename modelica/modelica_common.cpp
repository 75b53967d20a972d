// Helpers shared by the external functions.

#include <cstring>

#include "modelica/modelica_internal.h"
#include "platform/sys.h"
#include "source/clocale/clocale_io.h"

using platform::sys;

namespace modelica {

const char *systemErrorText(int errnum) {
  const locale_t cLocale = *getCLocale();
  if (cLocale != nullptr) return strerror_l(errnum, cLocale);
  // Without the "C" object the text may be in the host's language; the call
  // is still safe from several threads.
  thread_local char buffer[256];
  return strerror_r(errnum, buffer, sizeof buffer);
}

void StreamCloser::operator()(std::FILE *stream) const {
  if (stream != nullptr) sys.fclose(stream);
}

} // namespace modelica

/* Compiled as C, so that the public header stays usable from C programs. */
#include "skytrove/client.h"

typedef char skytrove_header_is_c[sizeof(SkytroveReply) > 0 ? 1 : -1];

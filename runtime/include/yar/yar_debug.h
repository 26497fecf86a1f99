/* Debugger-output sink. Linux has no debugger output channel: the runtime's diagnostic texts go
 * to one settable sink. Silent by default; YAR_DEBUG_OUTPUT=1 in the environment sends them to
 * stderr. Tests install a capturing sink. */
#ifndef YAR_DEBUG_H
#define YAR_DEBUG_H

#include "yar_base.h"

YAR_BEGIN_DECLS

typedef void (*YAR_DEBUG_SINK)(const char *text, void *user);

/* Installs the sink (null restores the default) and returns the previous one. */
YAR_DEBUG_SINK YAR_SetDebugSink(YAR_DEBUG_SINK sink, void *user);

YAR_END_DECLS

#endif

/* Common definitions of the YAR C interface. */
#ifndef YAR_BASE_H
#define YAR_BASE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#define YAR_BEGIN_DECLS extern "C" {
#define YAR_END_DECLS }
#else
#define YAR_BEGIN_DECLS
#define YAR_END_DECLS
#endif

#endif

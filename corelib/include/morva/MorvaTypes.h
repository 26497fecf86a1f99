/* Fixed-width names of the core library's interface types. DWORD is 32-bit here as on Windows:
 * Linux's long is 64-bit, so no type below may be built on long. */
#ifndef MORVA_TYPES_H
#define MORVA_TYPES_H

#include <stdint.h>

typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t UINT;
typedef int32_t BOOL;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

/* Log texts print object addresses as "[0x%X]": pass pointers through this, never directly. */
#define MORVA_PTR_ARG(p) ((unsigned)(uintptr_t)(p))

#endif

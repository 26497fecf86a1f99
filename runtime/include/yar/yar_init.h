/* Start and stop of the runtime, its version, and the per-thread error slot. Start and stop are
 * reference counted and may repeat in one process; both may be called from any thread. */
#ifndef YAR_INIT_H
#define YAR_INIT_H

#include "yar_base.h"

#define YAR_VERSION 0x0101000C

YAR_BEGIN_DECLS

/* Counts one start; the first runs the one-time start. 0, or -1 when that failed (the count then
 * stays 0). */
int32_t YAR_Init(void);
/* Takes back one start; the last runs the stop. A stop without an outstanding start is ignored. */
void YAR_Fini(void);
/* The one-time start; on failure it has undone itself. 0 or -1. */
int32_t YAR_Startup_Inter(void);
/* Undoes every stage that is up, and the modules that clean up at stop. */
void YAR_Cleanup_Inter(void);
/* Builds and frees the adapter list once, which refreshes the default address family. 0, or the
 * adapter list's failure value. */
int32_t YAR_RefreshDefaultFamily(void);
/* Disables the runtime log's outputs 1 and 2 and closes it, as the last stop does. 0. */
int32_t YAR_LogFini(void);
/* YAR_VERSION, started or not. */
uint32_t YAR_GetVersion(void);

/* ---- Per-thread error slot: holds only what callers store; no runtime call writes it ---- */

/* Allocates the slot (an allocated slot keeps its index); the index, or -1. */
int32_t YAR_ErrSlot_Alloc(void);
/* 0 when the slot is allocated afterwards, else -1. */
int32_t YAR_ErrSlot_Init(void);
/* Frees the slot: 0, or -1 when the system refused or there was none. */
int32_t YAR_ErrSlot_Free(void);
/* Frees the slot when it is allocated. 0. */
int32_t YAR_ErrSlot_Fini(void);
/* Value and store on the slot's index without looking whether it is allocated; the store gives
 * 0 or -1. */
intptr_t YAR_ErrSlot_GetRaw(void);
int32_t YAR_ErrSlot_SetRaw(intptr_t value);
/* The calling thread's value; 0 when the slot is not allocated or the thread stored nothing. */
intptr_t YAR_GetLastError(void);
intptr_t YAR_GetErrorValue(void);
/* 0, or -1 when the slot is not allocated (before the start and after the stop). */
int32_t YAR_SetLastError(intptr_t value);
int32_t YAR_SetErrorValue(intptr_t value);

YAR_END_DECLS

#endif

/* Periodic timers in a process-wide table of 1000 slots. Each running timer has a serving
 * thread that calls the callback; the callback runs without any runtime lock held. */
#ifndef YAR_TIMER_H
#define YAR_TIMER_H

#include "yar_base.h"

#define YAR_TIMER_MAX 1000

typedef void (*YAR_TIMER_CALLBACK)(uint32_t timerId, void *user);

YAR_BEGIN_DECLS

/* Prepares the table once; later calls return 0. */
int YAR_Timer_Init(void);
/* Stops every timer still running and waits for its thread. 0. */
int YAR_Timer_Fini(void);
/* Starts a timer in the first free slot: the first call comes about 1 ms after the start, then
 * one every periodMs. A period of 0 calls once; the slot stays in use until YAR_KillTimer. The
 * multimedia flag is kept for callers: Linux has one kind of timer. 0 with the id stored, or -1
 * (all slots in use, or the timer could not be made). */
int YAR_SetTimer(YAR_TIMER_CALLBACK callback, void *user, uint32_t periodMs, uint32_t *timerId,
                 int useMultimedia);
/* Stops the timer and frees its slot. When it returns, no callback of that timer runs any more,
 * unless it was called from that callback, which then ends the timer once it returns. -1 for an
 * id outside 0 to 999 or a slot not in use. */
int YAR_KillTimer(uint32_t timerId);

YAR_END_DECLS

#endif

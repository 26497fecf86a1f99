/* Umbrella header of the YAR runtime: includes every public yar header. */
#ifndef YAR_H
#define YAR_H

#include "yar_adapter.h"
#include "yar_addr.h"
#include "yar_alarm.h"
#include "yar_asyncio.h"
#include "yar_base.h"
#include "yar_blockpool.h"
#include "yar_cond.h"
#include "yar_debug.h"
#include "yar_dso.h"
#include "yar_error.h"
#include "yar_file.h"
#include "yar_init.h"
#include "yar_lockfreeq.h"
#include "yar_log.h"
#include "yar_mempool.h"
#include "yar_msgq.h"
#include "yar_mutex.h"
#include "yar_rwlock.h"
#include "yar_socket.h"
#include "yar_string.h"
#include "yar_thread.h"
#include "yar_threadpool.h"
#include "yar_time.h"
#include "yar_timer.h"
#include "yar_trace.h"

#endif

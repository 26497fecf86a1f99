/* Thread trace context: three short texts and two flag bytes that every thread the runtime starts
 * inherits from the thread that started it. The runtime carries them unchanged and never reads
 * them itself. */
#ifndef YAR_TRACE_H
#define YAR_TRACE_H

#include "yar_base.h"

#define YAR_TRACE_TEXT_SIZE 65 /* at most 64 characters and the terminator */

typedef struct YAR_TRACE_INFO_T {
    char szTrace1[YAR_TRACE_TEXT_SIZE];
    char szTrace2[YAR_TRACE_TEXT_SIZE];
    char szTrace3[YAR_TRACE_TEXT_SIZE];
    uint8_t byTraceFlag1;
    uint8_t byTraceFlag2;
} YAR_TRACE_INFO_T;

#ifdef __cplusplus
static_assert(sizeof(YAR_TRACE_INFO_T) == 197, "trace record layout");
static_assert(offsetof(YAR_TRACE_INFO_T, byTraceFlag1) == 195, "trace record layout");
#endif

YAR_BEGIN_DECLS

/* Allocates the runtime's trace slot when it has none (it is allocated at load); 0 or -1. */
int YAR_TraceTls_Init(void);
/* Frees the trace slot: -1 when there is none, else 0 or -1. */
int YAR_TraceTls_Fini(void);

/* Installs the record as the calling thread's context (texts longer than 64 characters are cut).
 * -1 when both szTrace1 and szTrace2 are empty, or without a slot. */
int YAR_SetThreadTraceInfo(const YAR_TRACE_INFO_T *info);
/* Copies the calling thread's context out: 0, or -1 with the record zeroed when it has none. */
int YAR_GetThreadTraceInfo(YAR_TRACE_INFO_T *info);
/* Removes the calling thread's context; always 0. */
int YAR_ClearThreadTraceInfo(void);

YAR_END_DECLS

#ifdef __cplusplus
namespace yar {

class yar_tlsTraceInfoOperImpl;

/* The process-wide facade over the trace registry. */
class yar_tlsTraceInfoOper {
public:
    static yar_tlsTraceInfoOper &GetInstance();
    virtual ~yar_tlsTraceInfoOper();

    /* Each -1 when the registry could not be created. */
    int SetTraceInfo(const YAR_TRACE_INFO_T *info);
    int GetTraceInfo(YAR_TRACE_INFO_T *info);
    int ClearTraceInfo();
    /* Whether the registry exists; threads start without context when it does not. */
    bool HasRegistry() const { return m_impl != nullptr; }
    yar_tlsTraceInfoOperImpl *Registry() { return m_impl; }

private:
    yar_tlsTraceInfoOper();
    yar_tlsTraceInfoOperImpl *m_impl;
};

}  // namespace yar
#endif

#endif

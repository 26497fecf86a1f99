/* Message queues between threads: a table of 100 queues of copied messages in priority order,
 * and yar::yar_msgq, an unbounded first-in, first-out queue of pointers. */
#ifndef YAR_MSGQ_H
#define YAR_MSGQ_H

#include "yar_base.h"

/* Largest data part of one message. */
#define YAR_MSGQ_MAX_DATA 8096
/* Number of queues that may exist at once. */
#define YAR_MSGQ_MAX_QUEUES 100

/* On send, length is the number of data bytes (0 to YAR_MSGQ_MAX_DATA). On receive the caller
 * sets it to the capacity of its data area and gets back the message's length. */
typedef struct YAR_MSG_T {
    int32_t type;
    int32_t priority;
    int32_t length;
    char data[YAR_MSGQ_MAX_DATA];
} YAR_MSG_T;

typedef struct YAR_MSGQ_S *YAR_MSGQ_T;

YAR_BEGIN_DECLS

/* Prepares the table (the runtime start does this). 0. */
int YAR_MsgQ_InitModule(void);
/* Releases every queue; receivers still waiting return -1. */
int YAR_MsgQ_FiniModule(void);
/* 0 with the queue stored, or -1 when the table is not ready or all queues are in use. */
int YAR_MsgQCreate(YAR_MSGQ_T *queue);
/* Frees the queued messages and the queue; receivers still waiting return -1. */
int YAR_MsgQDestroy(YAR_MSGQ_T queue);
/* Queues a copy behind every message of the same or a higher priority. -1 for a length below 0
 * or above YAR_MSGQ_MAX_DATA. */
int YAR_MsgQSend(YAR_MSGQ_T queue, const YAR_MSG_T *msg);
/* Takes the first message, waiting up to timeoutMs (negative: without limit, 0: no wait). -1 on
 * time-out. When the message does not fit the caller's capacity it stays queued, the result is
 * -1 and length holds the size it needs. */
int YAR_MsgQReceive(YAR_MSGQ_T queue, YAR_MSG_T *msg, int32_t timeoutMs);

YAR_END_DECLS

#ifdef __cplusplus
#include <deque>

#include "yar_cond.h"
#include "yar_mutex.h"

namespace yar {

class yar_msgq {
public:
    yar_msgq();
    virtual ~yar_msgq();
    yar_msgq(const yar_msgq &) = delete;
    yar_msgq &operator=(const yar_msgq &) = delete;

    /* -1 for null, else 0. */
    int Post(void *item);
    /* The oldest pointer, waiting up to timeoutMs (negative: without limit); 0 or -1. */
    int Receive(void **item, int32_t timeoutMs);
    /* Drops every queued pointer; the objects they point to stay the caller's. */
    void Clear();

private:
    yar_recursive_mutex m_mutex;
    yar_sem m_sem;
    std::deque<void *> m_items;
};

}  // namespace yar
#endif

#endif

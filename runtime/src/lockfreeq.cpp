// Two-pointer compare-and-swap queue with a dummy head node.
//
// Reclamation: pops run one at a time under the section, so no pop reads a node that another pop
// frees. That alone does not protect pushers: a pusher may hold a stale tail that pops have since
// unlinked. So every push is counted while it runs, and unlinked nodes are freed only when no
// push is running (a pusher that starts later can no longer reach them).
#include <new>

#include "yar/yar_lockfreeq.h"
#include "yar/yar_mutex.h"

namespace yar {

class yar_lockfreeQImpl {
public:
    yar_lockfreeQImpl() : m_head(new Node), m_tail(m_head.load()) { YAR_MutexCreate(&m_section, 0); }
    virtual ~yar_lockfreeQImpl();
    yar_lockfreeQImpl(const yar_lockfreeQImpl &) = delete;
    yar_lockfreeQImpl &operator=(const yar_lockfreeQImpl &) = delete;

    void Push(const yar_lockfreeQItemPtr &item);
    yar_lockfreeQItemPtr Pop();
    bool IsEmpty() const { return m_head.load() == m_tail.load(); }
    int32_t GetCount() const { return m_count.load(); }

private:
    struct Node {
        yar_lockfreeQItemPtr item;
        std::atomic<Node *> next{nullptr};
        Node *retiredNext = nullptr;
    };

    void FreeRetired();

    std::atomic<Node *> m_head;
    std::atomic<Node *> m_tail;
    std::atomic<int32_t> m_count{0};
    std::atomic<int32_t> m_pushing{0};
    YAR_MUTEX_T m_section;
    Node *m_retired = nullptr;  // unlinked nodes, guarded by the section
};

yar_lockfreeQImpl::~yar_lockfreeQImpl() {
    for (Node *node = m_head.load(); node;) {
        Node *next = node->next.load();
        delete node;
        node = next;
    }
    FreeRetired();
    YAR_MutexDestroy(&m_section);
}

void yar_lockfreeQImpl::Push(const yar_lockfreeQItemPtr &item) {
    Node *node = new Node;
    node->item = item;
    ++m_pushing;
    for (;;) {
        Node *tail = m_tail.load();
        Node *next = tail->next.load();
        if (tail != m_tail.load())
            continue;
        if (next) {
            // Another push is half done: help it along.
            m_tail.compare_exchange_strong(tail, next);
            continue;
        }
        Node *expected = nullptr;
        if (tail->next.compare_exchange_strong(expected, node)) {
            m_tail.compare_exchange_strong(tail, node);
            break;
        }
    }
    --m_pushing;
    ++m_count;
}

yar_lockfreeQItemPtr yar_lockfreeQImpl::Pop() {
    yar_guard lock(&m_section);
    Node *head;
    Node *next;
    for (;;) {
        head = m_head.load();
        Node *tail = m_tail.load();
        next = head->next.load();
        if (head == tail) {
            if (!next)
                return yar_lockfreeQItemPtr();
            m_tail.compare_exchange_strong(tail, next);
            continue;
        }
        if (m_head.compare_exchange_strong(head, next))
            break;
    }
    --m_count;
    // The new head becomes the dummy: its item moves out to the caller.
    yar_lockfreeQItemPtr item = next->item;
    next->item.Reset();
    // Its own link stays as it is: a pusher with a stale tail must still see it non-null.
    head->retiredNext = m_retired;
    m_retired = head;
    FreeRetired();
    return item;
}

// Called under the section, or at destruction, when no push can run.
void yar_lockfreeQImpl::FreeRetired() {
    if (m_pushing.load() != 0)
        return;
    while (m_retired) {
        Node *node = m_retired;
        m_retired = node->retiredNext;
        delete node;
    }
}

yar_lockfreeQ::yar_lockfreeQ() : m_impl(new (std::nothrow) yar_lockfreeQImpl) {}

yar_lockfreeQ::~yar_lockfreeQ() {
    delete m_impl;
}

void yar_lockfreeQ::Push(const yar_lockfreeQItemPtr &item) {
    if (!item)
        return;
    if (yar_tlsTraceInfoOper::GetInstance().HasRegistry())
        YAR_GetThreadTraceInfo(&item->m_traceInfo);
    if (m_impl)
        m_impl->Push(item);
}

yar_lockfreeQItemPtr yar_lockfreeQ::Pop() {
    if (!m_impl)
        return yar_lockfreeQItemPtr();
    yar_lockfreeQItemPtr item = m_impl->Pop();
    if (item && yar_tlsTraceInfoOper::GetInstance().HasRegistry())
        YAR_SetThreadTraceInfo(&item->m_traceInfo);
    return item;
}

bool yar_lockfreeQ::IsEmpty() const {
    return !m_impl || m_impl->IsEmpty();
}

int32_t yar_lockfreeQ::GetCount() const {
    return m_impl ? m_impl->GetCount() : -1;
}

}  // namespace yar

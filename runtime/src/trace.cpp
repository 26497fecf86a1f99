// Thread trace context: per-thread slot plus the registry that owns the contexts.
#include <pthread.h>

#include <cstdio>
#include <cstring>
#include <new>

#include "internal/trace_registry.h"

namespace yar {

namespace {

constexpr int64_t kNoSlot = -1;
constexpr size_t kMaxText = YAR_TRACE_TEXT_SIZE - 1;

// The slot index; read by every thread, written at load and by init/fini.
std::atomic<int64_t> g_yar_store_tls_handle{kNoSlot};

void ForgetAtThreadExit(void *context);

// Allocates the slot and reports it on stderr, as the runtime always has.
int AllocateSlot() {
    pthread_key_t key;
    if (pthread_key_create(&key, ForgetAtThreadExit) != 0) {
        std::fputs("tls_alloc, but YAR_ThreadTls_Create failed!\r\n", stderr);
        return -1;
    }
    g_yar_store_tls_handle.store(key);
    std::fprintf(stderr, "yar tls index{%llu}\r\n", static_cast<unsigned long long>(key));
    return 0;
}

CTraceInfo_context *SlotContext() {
    int64_t slot = g_yar_store_tls_handle.load();
    if (slot == kNoSlot)
        return nullptr;
    return static_cast<CTraceInfo_context *>(pthread_getspecific(static_cast<pthread_key_t>(slot)));
}

void ReportSetFailure(int64_t slot) {
    std::fprintf(stderr, "YAR_ThreadTls_SetValue failed! g_yar_store_tls_handle{%llu}\r\n",
                 static_cast<unsigned long long>(slot));
}

// A field need not be terminated: read at most 64 characters of it.
std::string BoundedText(const char *field) {
    return std::string(field, strnlen(field, kMaxText));
}

void CopyText(char *field, const std::string &text) {
    std::memset(field, 0, YAR_TRACE_TEXT_SIZE);
    std::memcpy(field, text.data(), text.size() < kMaxText ? text.size() : kMaxText);
}

// A thread that ends with a context still installed would otherwise leave it in the registry.
void ForgetAtThreadExit(void *context) {
    yar_tlsTraceInfoOper &oper = yar_tlsTraceInfoOper::GetInstance();
    if (oper.HasRegistry())
        oper.Registry()->Forget(static_cast<CTraceInfo_context *>(context));
}

CBeforeMain g_beforeMain;

}  // namespace

yar_shared_ptr::yar_shared_ptr(shared_object *target) : m_target(target) {
    YAR_MutexCreate(&m_lock, 0);
    if (m_target)
        m_target->AddRef();
}

yar_shared_ptr::yar_shared_ptr(const yar_shared_ptr &other) {
    YAR_MutexCreate(&m_lock, 0);
    yar_guard guard(&other.m_lock);
    m_target = other.m_target;
    if (m_target)
        m_target->AddRef();
}

yar_shared_ptr &yar_shared_ptr::operator=(const yar_shared_ptr &other) {
    if (this == &other)
        return *this;
    shared_object *target;
    {
        yar_guard guard(&other.m_lock);
        target = other.m_target;
        if (target)
            target->AddRef();
    }
    shared_object *old;
    {
        yar_guard guard(&m_lock);
        old = m_target;
        m_target = target;
    }
    if (old)
        old->Release();
    return *this;
}

yar_shared_ptr::~yar_shared_ptr() {
    if (m_target)
        m_target->Release();
    YAR_MutexDestroy(&m_lock);
}

yar_tlsTraceInfoOperImpl::yar_tlsTraceInfoOperImpl() {
    YAR_MutexCreate(&m_lock, 0);
}

yar_tlsTraceInfoOperImpl::~yar_tlsTraceInfoOperImpl() {
    m_entries.clear();
    YAR_MutexDestroy(&m_lock);
}

int yar_tlsTraceInfoOperImpl::SetThreadTraceInfo(const YAR_TRACE_INFO_T *info) {
    if (!info || (info->szTrace1[0] == '\0' && info->szTrace2[0] == '\0'))
        return -1;
    CTraceInfo_context *context = SlotContext();
    const bool isNew = context == nullptr;
    if (isNew)
        context = new (std::nothrow) CTraceInfo_context;
    if (!context)
        return -1;
    yar_shared_ptr local(context);  // deletes a new context that does not get registered
    context->trace1 = BoundedText(info->szTrace1);
    context->trace2 = BoundedText(info->szTrace2);
    context->trace3 = BoundedText(info->szTrace3);
    context->flag1 = info->byTraceFlag1;
    context->flag2 = info->byTraceFlag2;

    int64_t slot = g_yar_store_tls_handle.load();
    if (slot == kNoSlot || pthread_setspecific(static_cast<pthread_key_t>(slot), context) != 0) {
        ReportSetFailure(slot);
        return -1;
    }
    if (isNew) {
        yar_guard guard(&m_lock);
        auto [it, inserted] = m_entries.emplace(context, local);
        if (!inserted)
            it->second = local;
        m_count = m_entries.size();
    }
    return 0;
}

int yar_tlsTraceInfoOperImpl::ClearThreadTraceInfo() {
    int64_t slot = g_yar_store_tls_handle.load();
    if (slot == kNoSlot)
        return 0;
    if (CTraceInfo_context *context = SlotContext())
        Forget(context);
    pthread_setspecific(static_cast<pthread_key_t>(slot), nullptr);
    return 0;
}

void yar_tlsTraceInfoOperImpl::Forget(CTraceInfo_context *context) {
    yar_guard guard(&m_lock);
    m_entries.erase(context);
    m_count = m_entries.size();
}

size_t yar_tlsTraceInfoOperImpl::EntryCount() {
    yar_guard guard(&m_lock);
    return m_count;
}

// Built on first use and never destroyed: detached runtime threads may still use it during exit.
yar_tlsTraceInfoOper &yar_tlsTraceInfoOper::GetInstance() {
    static yar_tlsTraceInfoOper *instance = new yar_tlsTraceInfoOper;
    return *instance;
}

yar_tlsTraceInfoOper::yar_tlsTraceInfoOper() : m_impl(new (std::nothrow) yar_tlsTraceInfoOperImpl) {}

yar_tlsTraceInfoOper::~yar_tlsTraceInfoOper() {
    delete m_impl;
    m_impl = nullptr;
}

int yar_tlsTraceInfoOper::SetTraceInfo(const YAR_TRACE_INFO_T *info) {
    return m_impl ? m_impl->SetThreadTraceInfo(info) : -1;
}

int yar_tlsTraceInfoOper::GetTraceInfo(YAR_TRACE_INFO_T *info) {
    return m_impl ? YAR_GetThreadTraceInfo(info) : -1;
}

int yar_tlsTraceInfoOper::ClearTraceInfo() {
    return m_impl ? m_impl->ClearThreadTraceInfo() : -1;
}

CBeforeMain::CBeforeMain() {
    yar_tlsTraceInfoOper::GetInstance();  // the registry exists from load on
    AllocateSlot();
}

CBeforeMain::~CBeforeMain() {
    YAR_TraceTls_Fini();
}

}  // namespace yar

using yar::g_yar_store_tls_handle;

extern "C" {

int YAR_TraceTls_Init(void) {
    // A second allocation would orphan the contexts installed in the first slot.
    if (g_yar_store_tls_handle.load() != yar::kNoSlot)
        return 0;
    return yar::AllocateSlot();
}

int YAR_TraceTls_Fini(void) {
    int64_t slot = g_yar_store_tls_handle.exchange(yar::kNoSlot);
    if (slot == yar::kNoSlot)
        return -1;
    return pthread_key_delete(static_cast<pthread_key_t>(slot)) == 0 ? 0 : -1;
}

int YAR_SetThreadTraceInfo(const YAR_TRACE_INFO_T *info) {
    return yar::yar_tlsTraceInfoOper::GetInstance().SetTraceInfo(info);
}

int YAR_GetThreadTraceInfo(YAR_TRACE_INFO_T *info) {
    if (!info) {
        std::fputs("traceInfo is null ptr\r\n", stderr);
        return -1;
    }
    const yar::CTraceInfo_context *context = yar::SlotContext();
    if (!context) {
        std::memset(info, 0, sizeof *info);
        return -1;
    }
    yar::CopyText(info->szTrace1, context->trace1);
    yar::CopyText(info->szTrace2, context->trace2);
    yar::CopyText(info->szTrace3, context->trace3);
    info->byTraceFlag1 = context->flag1;
    info->byTraceFlag2 = context->flag2;
    return 0;
}

int YAR_ClearThreadTraceInfo(void) {
    return yar::yar_tlsTraceInfoOper::GetInstance().ClearTraceInfo();
}

}  // extern "C"

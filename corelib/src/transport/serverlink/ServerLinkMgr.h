// The server-link manager: every server link of the library is a member of it, addressed by its
// index (0 to 4095), and its pool runs the TCP server links' connection workers. The classes it
// makes are listed in one factory table in ServerLinkMgr.cpp.
#pragma once

#include <cstddef>

#include "Module/Member/MemberBase.h"
#include "morva/MorvaServerLink.h"
#include "yar/yar_threadpool.h"

namespace Vorezi {

class CServerLinkMgr : public CMemberMgrBase {
public:
    CServerLinkMgr(int iMaxThreads, int iStackSize);
    ~CServerLinkMgr() override;

    int CheckResource() override;
    CMemberBase *NewMemoryObject(void *pParam) override;

    // A handle, or -1.
    int Create(const SERVER_LINK_COND *pCond);
    int Destroy(int iHandle);
    YAR_THREADPOOLFLEX_T *GetThreadPoolHandle() const { return m_hThreadPool; }
    int GetMaxThreadCount() const { return m_iMaxThreads; }

    // The member pool's unit: the largest server-link class.
    static size_t MaxServerLinkSize();

private:
    void StopAndDeleteMembers();

    YAR_THREADPOOLFLEX_T *m_hThreadPool = nullptr;
    int m_bPoolCreated = 0;
    int m_iMaxThreads = 0;
};

// The controller's manager; null when it cannot be made or the library is not initialised.
CServerLinkMgr *GetServerLinkMgr();

}  // namespace Vorezi

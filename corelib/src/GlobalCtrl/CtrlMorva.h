// Control base of the global controller: counted Init and Fini around the resources a derived
// controller supplies, a re-entrant control mutex for its lazily created managers, and the
// is-initialised test that the flat interface makes first.
#pragma once

#include <atomic>
#include <memory>

#include "Utils/DependLibLoader.h"
#include "morva/MorvaTypes.h"

namespace Vorezi {

class CCtrlBasePrivate;

class CCtrlMorva {
public:
    CCtrlMorva();
    virtual ~CCtrlMorva();
    CCtrlMorva(const CCtrlMorva &) = delete;
    CCtrlMorva &operator=(const CCtrlMorva &) = delete;

    virtual int Init();
    virtual int Fini();
    virtual int IsUseLogConfigFile() = 0;
    virtual void PrintLibInfo() = 0;
    virtual int InitAllResource() = 0;
    virtual void ReleaseAllResource() = 0;

    int CheckInit();
    int Lock();
    int Unlock();
    void WaitIdle();
    std::atomic<int32_t> *GetBusyCounter();

protected:
    CDependLibLoader m_DependLibLoader;

private:
    int CheckPrivate();

    std::unique_ptr<CCtrlBasePrivate> m_pPrivate;
};

}  // namespace Vorezi

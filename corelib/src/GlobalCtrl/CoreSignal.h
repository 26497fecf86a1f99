// CCoreSignal: a counting signal over a runtime semaphore. CMultiThreadControl: the pause and
// resume handshake between a controlling thread and one worker.
#pragma once

#include <memory>

#include "morva/MorvaTypes.h"

namespace Vorezi {

class CCoreSignalPrivate;
class CMultiThreadControlPrivate;

class CCoreSignal {
public:
    CCoreSignal();
    virtual ~CCoreSignal();
    CCoreSignal(const CCoreSignal &) = delete;
    CCoreSignal &operator=(const CCoreSignal &) = delete;

    int Create();
    int Destroy();
    int Post();
    // 1 when a post was taken within the time (0xFFFFFFFF: no limit), else 0.
    int TimedWait(DWORD dwMilliseconds);
    // Returns only after a post; 0 at once for a signal that was never created.
    int Wait();

private:
    std::unique_ptr<CCoreSignalPrivate> m_pPrivate;
};

class CMultiThreadControl {
public:
    CMultiThreadControl();
    virtual ~CMultiThreadControl();
    CMultiThreadControl(const CMultiThreadControl &) = delete;
    CMultiThreadControl &operator=(const CMultiThreadControl &) = delete;

    bool CheckResource() const;
    // Controller side.
    void Start();  // running, with a pause requested: the worker parks at its first pause point
    void Stop();   // not running; releases every waiting loop
    void Pause();  // requests a pause and waits until the worker parks
    void Resume(); // ends the pause and waits until the worker has left its pause point
    // Worker side: the pause point.
    void CheckPause();

private:
    std::unique_ptr<CMultiThreadControlPrivate> m_pPrivate;
};

}  // namespace Vorezi

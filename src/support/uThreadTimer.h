// A timer whose ticks come from a worker thread of its own, so that they keep coming while the main thread is
// busy. A tick calls OnTimer on the worker, or on the main thread through the synchronise call, or is posted to
// the owner's window as a message.
#pragma once

#include <atomic>
#include <memory>

#include "forms/Components.h"
#include "forms/Threads.h"

class TWinControl;
class TThreadTimer;

// Set once the program's message loop has ended; every worker leaves its loop when it sees it.
extern std::atomic<bool> TimerShutdown;

class TThreadTimerExec : public TThread {
public:
    struct TShared;
    TThreadTimerExec(TThreadTimer* timer, std::shared_ptr<TShared> shared);
    // Stops the worker and waits for it while its state still exists (not when it frees itself).
    ~TThreadTimerExec() override;

protected:
    void Execute() override;

private:
    TThreadTimer* FTimer;
    std::shared_ptr<TShared> FShared;
};

class TThreadTimer : public TComponent {
public:
    explicit TThreadTimer(TComponent* owner);
    // Stops the worker. Called from the timer's own OnTimer it returns at once and the worker ends by itself.
    ~TThreadTimer() override;

    // The worker reads these three at every tick, so they are atomic; set them before enabling.
    std::atomic<bool> UseSyncronize{false};
    std::atomic<bool> UseMessage{false};
    bool Enabled() const;
    // The effective value is enabled and Interval > 0; the first enabling starts the worker.
    void SetEnabled(bool enabled);
    int Interval() const;
    // Values below 10 become 10; a running wait keeps the interval it started with.
    void SetInterval(int interval);
    int Data = 0;
    std::atomic<int> MessageNo{768};
    TThreadPriority Priority() const;
    void SetPriority(TThreadPriority priority);
    TNotifyEvent OnTimer;
    // The worker thread's identifier, valid from construction (the thread exists suspended until first enabled).
    unsigned long WorkerThreadID() const { return FWorkerThreadID; }

protected:
    // No tick is dispatched from the moment destruction begins, also when an owner begins it.
    void Destroying() override;

private:
    friend class TThreadTimerExec;
    // One tick, run by the worker or, synchronised, on the main thread for it: dropped while another runs, while
    // the timer is being destroyed, or in message mode without an owner window; otherwise posts
    // WM_USER + MessageNo (at most one pending when run on the window's thread) or calls OnTimer.
    void DispatchTick();

    TWinControl* FOwnerWindow;
    // Fixed at construction, so that the worker never reads the component state the main thread writes.
    const bool FDesigning;
    std::unique_ptr<TThreadTimerExec> FWorker;
    unsigned long FWorkerThreadID = 0;
    std::shared_ptr<TThreadTimerExec::TShared> FShared;
    std::atomic<bool> FInTick{false};
    std::atomic<bool> FDestroying{false};
    // The thread running DispatchTick while FInTick is set, else 0: tells a destructor called from the tick.
    std::atomic<unsigned long> FTickThread{0};
};

// The worker tick that keeps a window hidden: the timer is disabled, the window hidden and the timer enabled
// again. The hide is a request the window's own thread carries out, so that the worker never waits for that
// thread, which may be waiting for the worker.
TNotifyEvent HideWindowTick(HWND window);

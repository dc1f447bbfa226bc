#include "uThreadTimer.h"

#include <windows.h>

#include "forms/Controls.h"
#include "forms/Forms.h"

std::atomic<bool> TimerShutdown{false};

// What the timer and its worker exchange. Both hold it, so a worker that outlives its timer (destroyed from its
// own tick) still reads valid flags.
struct TThreadTimerExec::TShared {
    std::atomic<bool> Enabled{false};
    std::atomic<bool> Running{false};
    std::atomic<int> Interval{100};
    // The timer is gone: nobody may touch it again.
    std::atomic<bool> Detached{false};
    // The application whose end the worker watches, taken when the timer was made; it outlives the timers it owns.
    TApplication* App = nullptr;
};

namespace {

// Lets the thread that waits for the worker keep serving it, and nothing more: a synchronised tick needs the main
// thread, and a direct tick's handler may send a message to this thread's windows. The application's queue is left
// alone, so that no message of a form that is being torn down is handled meanwhile.
void ServeWorker(DWORD milliseconds) {
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE); // delivers sent messages, leaves posted ones queued
    CheckSynchronize();
    MsgWaitForMultipleObjects(0, nullptr, FALSE, milliseconds, QS_SENDMESSAGE);
}

} // namespace

// --- TThreadTimerExec ---

TThreadTimerExec::TThreadTimerExec(TThreadTimer* timer, std::shared_ptr<TShared> shared)
    : FTimer(timer), FShared(std::move(shared)) {}

TThreadTimerExec::~TThreadTimerExec() {
    TerminateAndWait();
}

void TThreadTimerExec::Execute() {
    TShared& shared = *FShared;
    struct TRunningGuard {
        std::atomic<bool>& Running;
        ~TRunningGuard() { Running = false; }
    } running{shared.Running};
    shared.Running = true;

    while (!Terminated() && !TimerShutdown && !(shared.App && shared.App->Terminated())) {
        // The tick count, not the wall clock, so that a clock change neither stalls nor rushes the timer; the
        // unsigned difference stays right across its wrap-around.
        const DWORD start = GetTickCount();
        const DWORD interval = static_cast<DWORD>(shared.Interval.load());
        do {
            Sleep(10);
        } while (GetTickCount() - start <= interval && !Terminated());
        if (Terminated()) break;
        if (!shared.Enabled) continue;

        if (FTimer->UseSyncronize) {
            Synchronize([this] {
                if (!FShared->Detached) FTimer->DispatchTick();
            });
        } else {
            FTimer->DispatchTick();
        }
        if (shared.Detached) break; // the tick destroyed the timer
    }
}

// --- TThreadTimer ---

TThreadTimer::TThreadTimer(TComponent* owner)
    : TComponent(owner), FOwnerWindow(dynamic_cast<TWinControl*>(owner)),
      FDesigning((ComponentState() & csDesigning) != 0), FShared(std::make_shared<TThreadTimerExec::TShared>()) {
    FShared->App = Application;
    FWorker = std::make_unique<TThreadTimerExec>(this, FShared);
    FWorkerThreadID = FWorker->ThreadID();
    MessageNo = 768;
    SetInterval(100);
}

TThreadTimer::~TThreadTimer() {
    FDestroying = true;

    if (FTickThread.load() == GetCurrentThreadId()) {
        // Destroyed by its own tick handler, which is further up this very call stack and cannot be waited for.
        // The worker is blocked in that tick (directly or in the synchronise call); once it returns, it sees the
        // timer gone, leaves its loop and frees itself.
        FShared->Detached = true;
        TThreadTimerExec* worker = FWorker.release();
        worker->FreeOnTerminate = true;
        worker->Terminate();
        FOwnerWindow = nullptr;
        return;
    }

    // FDestroying is set before FInTick is read, and the dispatch sets FInTick before it reads FDestroying: a tick
    // either sees the destruction and returns, or is seen here and waited for.
    while (FInTick)
        ServeWorker(10);
    OnTimer = nullptr;

    FWorker->Terminate();
    while (FShared->Running) {
        if (FWorker->Suspended()) FWorker->Resume();
        // A worker may be queued in the synchronise call; its dispatch returns at once now.
        CheckSynchronize();
        Sleep(50);
    }
    FOwnerWindow = nullptr;
    // A worker that never ran is started only to end at once; its destructor waits for its thread function.
    FWorker.reset();
}

void TThreadTimer::Destroying() {
    FDestroying = true;
    TComponent::Destroying();
}

bool TThreadTimer::Enabled() const {
    return FShared->Enabled;
}

void TThreadTimer::SetEnabled(bool enabled) {
    const bool effective = enabled && Interval() > 0;
    if (effective == FShared->Enabled) return;
    FShared->Enabled = effective;
    // Only the first enabling finds the worker suspended; from inside a tick the worker runs, so nothing waits.
    // The caller waits only for a worker that is still suspended after being resumed: the screensaver enables its
    // timer while it starts, and a wait there would only delay the movie.
    while (FWorker->Suspended()) {
        FWorker->Resume();
        if (FWorker->Suspended()) Sleep(10);
    }
}

int TThreadTimer::Interval() const {
    return FShared->Interval;
}

void TThreadTimer::SetInterval(int interval) {
    if (interval < 10) interval = 10;
    if (interval != FShared->Interval) FShared->Interval = interval;
}

TThreadPriority TThreadTimer::Priority() const {
    return FWorker->Priority();
}

void TThreadTimer::SetPriority(TThreadPriority priority) {
    FWorker->SetPriority(priority);
}

void TThreadTimer::DispatchTick() {
    if (FInTick.exchange(true)) return;
    // Held locally: a handler that destroys the timer leaves this call with nothing of the timer but this.
    const std::shared_ptr<TThreadTimerExec::TShared> shared = FShared;
    FTickThread = GetCurrentThreadId();
    struct TTickGuard {
        TThreadTimer* Timer;
        const std::shared_ptr<TThreadTimerExec::TShared>& Shared;
        ~TTickGuard() {
            if (Shared->Detached) return;
            Timer->FTickThread = 0;
            Timer->FInTick = false;
        }
    } guard{this, shared};

    if (FDestroying || FDesigning) return;
    if (UseMessage) {
        // The window must already exist: a handle created here would belong to the worker thread.
        if (!FOwnerWindow || !FOwnerWindow->HandleAllocated()) return;
        HWND window = FOwnerWindow->Handle();
        const UINT message = WM_USER + static_cast<UINT>(MessageNo.load());
        // The look sees only this thread's queue: on the window's own thread it keeps one tick pending at most.
        MSG pending;
        if (!PeekMessageA(&pending, window, message, message, PM_NOREMOVE)) PostMessageA(window, message, 0, 0);
        return;
    }
    // A copy: the handler may replace OnTimer or destroy the timer while it runs.
    if (TNotifyEvent handler = OnTimer) handler(this);
}

TNotifyEvent HideWindowTick(HWND window) {
    return [window](TObject* sender) {
        auto* timer = static_cast<TThreadTimer*>(sender);
        timer->SetEnabled(false);
        if (window) ShowWindowAsync(window, SW_HIDE);
        timer->SetEnabled(true);
    };
}

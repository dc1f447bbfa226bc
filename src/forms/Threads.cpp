#include "Threads.h"

#include <deque>
#include <mutex>

#include "Callbacks.h"
#include "Forms.h"

namespace {

struct TSyncRequest {
    const std::function<void()>* Method;
    std::exception_ptr Error;
    HANDLE Done;
};

std::mutex SyncLock;
std::deque<TSyncRequest*> SyncQueue;
DWORD MainThreadID = 0;

const int Priorities[] = {THREAD_PRIORITY_IDLE,         THREAD_PRIORITY_LOWEST,       THREAD_PRIORITY_BELOW_NORMAL,
                          THREAD_PRIORITY_NORMAL,       THREAD_PRIORITY_ABOVE_NORMAL, THREAD_PRIORITY_HIGHEST,
                          THREAD_PRIORITY_TIME_CRITICAL};

} // namespace

void SetMainThread() {
    if (!MainThreadID) MainThreadID = GetCurrentThreadId();
}

bool CheckSynchronize() {
    if (GetCurrentThreadId() != MainThreadID) return false;
    bool ran = false;
    for (;;) {
        TSyncRequest* request;
        {
            std::lock_guard<std::mutex> guard(SyncLock);
            if (SyncQueue.empty()) return ran;
            request = SyncQueue.front();
            SyncQueue.pop_front();
        }
        try {
            (*request->Method)();
        } catch (...) {
            request->Error = std::current_exception();
        }
        ran = true;
        SetEvent(request->Done);
    }
}

TThread::TThread() {
    SetMainThread();
    FSuspended = true;
    FHandle.reset(CreateThread(nullptr, 0, SystemCallback(ThreadProc), this, CREATE_SUSPENDED, &FThreadID));
    if (!FHandle) throw Exception("Thread creation error");
}

TThread::~TThread() {
    TerminateAndWait();
}

void TThread::TerminateAndWait() {
    if (FFinished || GetCurrentThreadId() == FThreadID) return;
    Terminate();
    // A thread that never ran is started only to end at once (its thread function skips Execute).
    if (FSuspended) Resume();
    WaitFor();
}

DWORD WINAPI TThread::ThreadProc(LPVOID parameter) noexcept {
    auto* thread = static_cast<TThread*>(parameter);
    try {
        if (!thread->Terminated()) thread->Execute();
    } catch (...) {
        thread->FFatalException = std::current_exception();
    }
    bool freeOnTerminate = thread->FreeOnTerminate;
    thread->FFinished = true;
    if (freeOnTerminate) delete thread;
    return 0;
}

void TThread::Resume() {
    DWORD previous = ResumeThread(FHandle.get());
    if (previous == 1) FSuspended = false;
}

void TThread::Suspend() {
    FSuspended = true;
    SuspendThread(FHandle.get());
}

void TThread::WaitFor() {
    // On the main thread the wait must keep serving synchronised calls, or a worker waiting in one never ends.
    const bool onMainThread = GetCurrentThreadId() == MainThreadID;
    while (WaitForSingleObject(FHandle.get(), onMainThread ? 10 : INFINITE) == WAIT_TIMEOUT)
        CheckSynchronize();
}

TThreadPriority TThread::Priority() const {
    int value = GetThreadPriority(FHandle.get());
    for (int i = 0; i < 7; ++i)
        if (Priorities[i] == value) return static_cast<TThreadPriority>(i);
    return TThreadPriority::tpNormal;
}

void TThread::SetPriority(TThreadPriority priority) {
    SetThreadPriority(FHandle.get(), Priorities[static_cast<int>(priority)]);
}

void TThread::Synchronize(const std::function<void()>& method) {
    if (GetCurrentThreadId() == MainThreadID) {
        method();
        return;
    }
    // Without its event the request could not be waited for, and the main thread would later run a method whose
    // caller had long returned: it is refused before it is queued.
    UniqueHandle done(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!done) throw Exception("Cannot synchronize with the main thread");
    TSyncRequest request{&method, nullptr, done.get()};
    {
        std::lock_guard<std::mutex> guard(SyncLock);
        SyncQueue.push_back(&request);
    }
    if (Application) PostMessageA(Application->Handle(), WM_NULL, 0, 0);
    WaitForSingleObject(done.get(), INFINITE);
    if (request.Error) std::rethrow_exception(request.Error);
}

// A thread object whose Execute runs on a thread of its own, with a call that runs code on the main thread.
#pragma once

#include <windows.h>

#include <atomic>
#include <exception>
#include <functional>

#include "Handles.h"

enum class TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

class TThread {
public:
    // The thread is made suspended and runs Execute only once Resume is called. A thread started by this constructor
    // could reach Execute while the derived object is still being made, and call it through the base's table.
    TThread();
    virtual ~TThread();
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    void Resume();
    void Suspend();
    bool Suspended() const { return FSuspended.load(); }
    void Terminate() { FTerminated = true; }
    bool Terminated() const { return FTerminated.load(); }
    // True once Execute has returned or raised.
    bool Finished() const { return FFinished.load(); }
    // Waits for the thread function to end, letting the main thread run synchronised calls meanwhile.
    void WaitFor();
    TThreadPriority Priority() const;
    void SetPriority(TThreadPriority priority);
    DWORD ThreadID() const { return FThreadID; }
    // The thread object deletes itself when its thread function ends.
    bool FreeOnTerminate = false;
    // The exception that ended Execute, if any; it is never shown.
    std::exception_ptr FatalException() const { return FFatalException; }

protected:
    virtual void Execute() = 0;
    // Asks the thread to end and waits for it, starting it first if it never ran, so that it can be waited for.
    // A derived thread calls this from its own destructor, while everything its Execute uses still exists: the
    // base destructor waits only as a last resort, when the derived part is already gone. Harmless once the thread
    // has ended; a thread that frees itself does not wait for itself.
    void TerminateAndWait();
    // Runs method on the main thread and waits until it has run there; an exception it raises is raised here.
    void Synchronize(const std::function<void()>& method);

private:
    static DWORD WINAPI ThreadProc(LPVOID parameter) noexcept;

    UniqueHandle FHandle;
    DWORD FThreadID = 0;
    std::atomic<bool> FSuspended{false};
    std::atomic<bool> FTerminated{false};
    std::atomic<bool> FFinished{false};
    std::exception_ptr FFatalException;
};

// Runs the synchronised calls that wait for the main thread; returns true when it ran any. Called by the
// application's idle handling and whenever its window is woken for that purpose.
bool CheckSynchronize();
// The main thread is the one that first called this (the application object does so at start-up).
void SetMainThread();

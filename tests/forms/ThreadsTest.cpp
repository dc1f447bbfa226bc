// The thread class: Execute on a thread of its own, Synchronize onto the main thread, exceptions kept, not shown.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "forms/Forms.h"
#include "forms/Threads.h"

namespace {

class TSyncThread : public TThread {
public:
    TSyncThread() = default;
    std::atomic<DWORD> ExecutedOn{0};
    DWORD SynchronisedOn = 0;
    std::string Caught;
    bool Done = false;

protected:
    void Execute() override {
        ExecutedOn = GetCurrentThreadId();
        Synchronize([this] { SynchronisedOn = GetCurrentThreadId(); });
        try {
            Synchronize([] { throw Exception("raised on the main thread"); });
        } catch (const Exception& e) {
            Caught = e.Message();
        }
        Synchronize([this] { Done = true; });
    }
};

// Served by WaitFor, and by the application's message loop (woken through its window).
TEST(FormsThreads, SynchronizeRunsOnTheMainThreadAndHandsExceptionsBack) {
    for (bool byMessageLoop : {false, true}) {
        if (byMessageLoop) InitApplication();
        TSyncThread thread;
        thread.Resume();
        if (byMessageLoop)
            while (!thread.Done)
                Application->HandleMessage();
        thread.WaitFor();
        EXPECT_NE(thread.ExecutedOn, GetCurrentThreadId());
        EXPECT_EQ(thread.SynchronisedOn, GetCurrentThreadId()) << "by message loop " << byMessageLoop;
        EXPECT_EQ(thread.Caught, "raised on the main thread");
        EXPECT_TRUE(thread.Done);
        EXPECT_TRUE(thread.Finished());
        EXPECT_FALSE(thread.FatalException());
        if (byMessageLoop) DoneApplication();
    }
}

// The application's thread is the main thread, also when the first thread object is made on another thread (it
// tells only in a process of its own, as ctest runs each test).
TEST(FormsThreads, TheApplicationThreadIsTheMainThread) {
    InitApplication();
    std::unique_ptr<TSyncThread> thread;
    std::thread([&thread] { thread = std::make_unique<TSyncThread>(); }).join();
    thread->Resume();
    for (int i = 0; i < 1000 && !thread->Done; ++i) {
        CheckSynchronize();
        Sleep(10);
    }
    EXPECT_TRUE(thread->Done);
    EXPECT_EQ(thread->SynchronisedOn, GetCurrentThreadId());
    if (thread->Done)
        thread->WaitFor();
    else
        (void)thread.release(); // stuck in a synchronised call nobody serves; destroying it would hang
    DoneApplication();
}

class TFailingThread : public TThread {
public:
    TFailingThread() { Resume(); }

protected:
    void Execute() override { throw Exception("execute failed"); }
};

TEST(FormsThreads, AnExceptionThatEndsExecuteIsKept) {
    TFailingThread thread;
    thread.WaitFor();
    EXPECT_TRUE(thread.Finished());
    ASSERT_TRUE(thread.FatalException());
    try {
        std::rethrow_exception(thread.FatalException());
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "execute failed");
    }
}

std::atomic<bool> CountingRan{false};

class TCountingThread : public TThread {
public:
    TCountingThread() = default;

protected:
    void Execute() override { CountingRan = true; }
};

// A thread that uses its own members until it is told to end. Its destructor stops it first, so that Execute never
// sees the derived part gone.
std::atomic<bool> DerivedGone{false};
std::atomic<bool> EndedWhole{false};

class TMemberThread : public TThread {
public:
    TMemberThread() { Resume(); }
    ~TMemberThread() override {
        TerminateAndWait();
        DerivedGone = true;
    }
    std::atomic<int> Rounds{0};

protected:
    void Execute() override {
        while (!Terminated()) {
            ++Rounds;
            Sleep(1);
        }
        Sleep(50); // still at work a little after being told to end
        ++Rounds;
        EndedWhole = !DerivedGone;
    }
};

TEST(FormsThreads, TerminateAndWaitEndsExecuteBeforeTheDerivedDestructorGoesOn) {
    auto* thread = new TMemberThread();
    for (int i = 0; i < 1000 && thread->Rounds == 0; ++i)
        Sleep(10);
    delete thread;
    EXPECT_TRUE(EndedWhole);
}

// A thread created suspended and destroyed unstarted never runs Execute, and its destruction does not hang.
TEST(FormsThreads, AThreadNeverStartedNeverExecutes) {
    auto* thread = new TCountingThread();
    EXPECT_TRUE(thread->Suspended());
    delete thread;
    EXPECT_FALSE(CountingRan);
}

} // namespace

// The worker-thread timer under Wine. Nothing here measures time: tests wait, with generous bounds, for ticks,
// for the worker thread to end, or for a number of rounds of a second timer.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

#include "forms/Forms.h"
#include "forms/Handles.h"
#include "support/uThreadTimer.h"

namespace {

struct TFree {
    void operator()(TComponent* component) const { component->Free(); }
};
using TTimerPtr = std::unique_ptr<TThreadTimer, TFree>;

TTimerPtr NewTimer(TComponent* owner = nullptr, int interval = 10) {
    TTimerPtr timer(new TThreadTimer(owner));
    timer->SetInterval(interval);
    return timer;
}

// Lets a worker that needs this thread get on: synchronised ticks, messages sent from the worker.
void Serve() {
    CheckSynchronize();
    if (Application) {
        Application->ProcessMessages();
    } else {
        MSG msg;
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
    }
}

// About ten seconds at most: a bound for a hang, never a measurement.
constexpr int WaitRounds = 1000;

struct TTicks {
    std::atomic<int> Count{0};
    UniqueHandle Event{CreateEventA(nullptr, FALSE, FALSE, nullptr)};

    void Tick() {
        ++Count;
        SetEvent(Event.get());
    }
    bool WaitFor(int count) {
        for (int i = 0; i < WaitRounds && Count < count; ++i) {
            Serve();
            WaitForSingleObject(Event.get(), 10);
        }
        return Count >= count;
    }
};

UniqueHandle OpenWorker(const TThreadTimer& timer) {
    return UniqueHandle(OpenThread(SYNCHRONIZE, FALSE, timer.WorkerThreadID()));
}

bool WaitEnded(const UniqueHandle& thread) {
    for (int i = 0; i < WaitRounds; ++i) {
        if (WaitForSingleObject(thread.get(), 10) == WAIT_OBJECT_0) return true;
        Serve();
    }
    return false;
}

bool Ended(const UniqueHandle& thread) {
    return WaitForSingleObject(thread.get(), 0) == WAIT_OBJECT_0;
}

// Lets `rounds` ticks of a second 10 ms timer go by: long enough for a timer that should be ticking to tick.
void LetRoundsPass(int rounds) {
    TTicks reference;
    TTimerPtr clock = NewTimer();
    clock->OnTimer = [&reference](TObject*) { reference.Tick(); };
    clock->SetEnabled(true);
    ASSERT_TRUE(reference.WaitFor(rounds));
}

// Runs synchronised calls until `count` of them ran, without touching the message queue.
bool RunSynchronisedTicks(int count) {
    int ran = 0;
    for (int i = 0; i < WaitRounds && ran < count; ++i) {
        if (CheckSynchronize())
            ++ran;
        else
            Sleep(10);
    }
    return ran >= count;
}

struct TQueued {
    int Count = 0;
    bool ParamsZero = true;
    bool ToWindow = true;
};

// Removes every queued message `message` and reports what was found.
TQueued DrainQueued(UINT message, HWND window) {
    TQueued queued;
    MSG msg;
    while (PeekMessageA(&msg, nullptr, message, message, PM_REMOVE)) {
        ++queued.Count;
        queued.ParamsZero = queued.ParamsZero && msg.wParam == 0 && msg.lParam == 0;
        queued.ToWindow = queued.ToWindow && msg.hwnd == window;
    }
    return queued;
}

struct TApplicationScope {
    TApplicationScope() { InitApplication(); }
    ~TApplicationScope() { DoneApplication(); }
};

TEST(ThreadTimer, Defaults) {
    TTimerPtr timer(new TThreadTimer(nullptr));
    EXPECT_EQ(timer->Interval(), 100);
    EXPECT_EQ(timer->MessageNo, 768);
    EXPECT_FALSE(timer->Enabled());
    EXPECT_FALSE(timer->UseSyncronize);
    EXPECT_FALSE(timer->UseMessage);
    EXPECT_EQ(timer->Priority(), TThreadPriority::tpNormal);
}

TEST(ThreadTimer, IntervalHasAFloorOfTen) {
    const struct { int Written, Read; } rows[] = {{0, 10}, {5, 10}, {-3, 10}, {9, 10}, {10, 10}, {11, 11}, {250, 250}};
    TTimerPtr timer(new TThreadTimer(nullptr));
    for (const auto& row : rows) {
        timer->SetInterval(row.Written);
        EXPECT_EQ(timer->Interval(), row.Read) << "written " << row.Written;
    }
}

TEST(ThreadTimer, PriorityGoesStraightToTheWorker) {
    TTimerPtr timer(new TThreadTimer(nullptr));
    std::atomic<int> seen{-1000};
    TTicks ticks;
    timer->OnTimer = [&](TObject*) {
        seen = GetThreadPriority(GetCurrentThread());
        ticks.Tick();
    };
    timer->SetPriority(TThreadPriority::tpHighest);
    EXPECT_EQ(timer->Priority(), TThreadPriority::tpHighest);
    timer->SetInterval(10);
    timer->SetEnabled(true);
    ASSERT_TRUE(ticks.WaitFor(1));
    EXPECT_EQ(seen, THREAD_PRIORITY_HIGHEST);
    timer->SetPriority(TThreadPriority::tpLower);
    EXPECT_EQ(timer->Priority(), TThreadPriority::tpLower);
}

// A destruction that waited for a tick would hang here on the hour-long interval.
TEST(ThreadTimer, DestructionDoesNotWaitForATick) {
    for (bool enable : {false, true}) {
        TTicks ticks;
        TTimerPtr timer = NewTimer(nullptr, 3600 * 1000);
        timer->OnTimer = [&ticks](TObject*) { ticks.Tick(); };
        UniqueHandle worker = OpenWorker(*timer);
        ASSERT_TRUE(worker);
        if (enable) timer->SetEnabled(true);
        timer.reset();
        EXPECT_TRUE(Ended(worker)) << "enabled " << enable;
        EXPECT_EQ(ticks.Count, 0) << "enabled " << enable;
    }
}

TEST(ThreadTimer, DirectTicksComeFromOneWorkerEvenWhenEnabledTwice) {
    TTicks ticks;
    std::atomic<bool> otherThread{false};
    TTimerPtr timer = NewTimer();
    const DWORD worker = timer->WorkerThreadID();
    ASSERT_NE(worker, GetCurrentThreadId());
    timer->OnTimer = [&](TObject* sender) {
        if (GetCurrentThreadId() != worker || sender != timer.get()) otherThread = true;
        ticks.Tick();
    };
    // The third tick holds the worker until the main thread has disabled the timer, so that no tick can be past
    // its enabled test when the disabling comes.
    TTicks held;
    UniqueHandle release(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    timer->OnTimer = [&, inner = timer->OnTimer](TObject* sender) {
        inner(sender);
        if (ticks.Count == 3) {
            held.Tick();
            WaitForSingleObject(release.get(), 10000);
        }
    };
    timer->SetEnabled(true);
    timer->SetEnabled(true);
    EXPECT_TRUE(timer->Enabled());
    ASSERT_TRUE(held.WaitFor(1));
    EXPECT_FALSE(otherThread);

    // One disabling undoes both enablings.
    timer->SetEnabled(false);
    SetEvent(release.get());
    LetRoundsPass(10);
    EXPECT_EQ(ticks.Count, 3);
}

TEST(ThreadTimer, DisablingInsideOnTimerStopsTicksUntilEnabledAgain) {
    TTicks ticks;
    TTimerPtr timer = NewTimer();
    timer->OnTimer = [&](TObject*) {
        ticks.Tick();
        if (ticks.Count == 3) timer->SetEnabled(false);
    };
    timer->SetEnabled(true);
    ASSERT_TRUE(ticks.WaitFor(3));
    LetRoundsPass(10);
    EXPECT_EQ(ticks.Count, 3);
    EXPECT_FALSE(timer->Enabled());

    timer->SetEnabled(true);
    EXPECT_TRUE(ticks.WaitFor(5));
}

// The handler the screensaver component runs every 100 ms: disable, hide the application window, enable.
TEST(ThreadTimer, HideHandlerKeepsTheApplicationWindowHiddenWithoutWaitingForIt) {
    TApplicationScope application;
    TTicks ticks;
    std::atomic<int> priority{-1000};
    TTimerPtr timer = NewTimer(nullptr, 100);
    timer->SetPriority(TThreadPriority::tpHighest);
    const TNotifyEvent hide = HideWindowTick(Application->Handle());
    timer->OnTimer = [&](TObject* sender) {
        hide(sender);
        priority = GetThreadPriority(GetCurrentThread());
        ticks.Tick();
    };
    ShowWindow(Application->Handle(), SW_SHOWNOACTIVATE);
    timer->SetEnabled(true);
    // Ticks go on while this thread handles no message at all: the worker never waits for the window's thread.
    for (int i = 0; i < WaitRounds && ticks.Count < 3; ++i)
        WaitForSingleObject(ticks.Event.get(), 10);
    ASSERT_GE(ticks.Count, 3);

    // Twice is enough to see it kept up; each hide of a captioned window costs Wine without a window manager
    // about two seconds.
    for (int round = 0; round < 2; ++round) {
        ShowWindow(Application->Handle(), SW_SHOWNOACTIVATE);
        ASSERT_TRUE(IsWindowVisible(Application->Handle()));
        for (int i = 0; i < WaitRounds && IsWindowVisible(Application->Handle()); ++i) {
            Serve();
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        }
        EXPECT_FALSE(IsWindowVisible(Application->Handle())) << "round " << round;
    }
    // A tick may be between its disabling and its enabling when it is looked at.
    for (int i = 0; i < WaitRounds && !timer->Enabled(); ++i)
        Sleep(10);
    EXPECT_TRUE(timer->Enabled());
    EXPECT_EQ(priority, THREAD_PRIORITY_HIGHEST);
}

class ThreadTimerMessages : public ::testing::TestWithParam<std::tuple<bool, int>> {};

// A worker posting from its own thread cannot see what is queued for the window's thread: every tick posts.
// Synchronised, the look happens on the window's thread and keeps at most one tick queued.
TEST_P(ThreadTimerMessages, TicksArePostedToTheOwnerWindow) {
    const auto [synchronised, messageNo] = GetParam();
    const UINT message = WM_USER + static_cast<UINT>(messageNo);
    auto* form = new TForm(nullptr);
    form->SetBorderStyle(TFormBorderStyle::bsNone);
    HWND window = form->Handle();
    TTicks called;
    auto* timer = new TThreadTimer(form);
    timer->SetInterval(10);
    timer->MessageNo = messageNo;
    timer->UseMessage = true;
    timer->UseSyncronize = synchronised;
    timer->OnTimer = [&called](TObject*) { called.Tick(); };
    timer->SetEnabled(true);

    if (synchronised) {
        for (int batch = 0; batch < 2; ++batch) {
            ASSERT_TRUE(RunSynchronisedTicks(5));
            TQueued queued = DrainQueued(message, window);
            EXPECT_EQ(queued.Count, 1) << "batch " << batch;
            EXPECT_TRUE(queued.ParamsZero);
            EXPECT_TRUE(queued.ToWindow);
        }
    } else {
        // The main thread does not look at its queue while the worker ticks; bounded retries, not a duration.
        TQueued queued;
        for (int i = 0; i < 100 && queued.Count < 2; ++i) {
            Sleep(50);
            queued = DrainQueued(message, window);
        }
        EXPECT_GE(queued.Count, 2);
        EXPECT_TRUE(queued.ParamsZero);
        EXPECT_TRUE(queued.ToWindow);
    }
    EXPECT_EQ(called.Count, 0);
    form->Free(); // frees the timer first, while the form is whole
    DrainQueued(message, nullptr);
}

INSTANTIATE_TEST_SUITE_P(ModesAndNumbers, ThreadTimerMessages,
                         ::testing::Values(std::make_tuple(false, 768), std::make_tuple(true, 768),
                                           std::make_tuple(true, 1)));

// Synchronised, each tick is a call the main thread runs, so ticks can be counted without OnTimer.
TEST(ThreadTimer, MessageModeWithoutAWindowDeliversNothing) {
    enum class TOwner { None, Component, FormWithoutHandle };
    for (TOwner kind : {TOwner::None, TOwner::Component, TOwner::FormWithoutHandle}) {
        TComponent* owner = nullptr;
        if (kind == TOwner::Component) owner = new TComponent(nullptr);
        if (kind == TOwner::FormWithoutHandle) owner = new TForm(nullptr);
        TTicks called;
        auto* timer = new TThreadTimer(owner);
        timer->SetInterval(10);
        timer->UseMessage = true;
        timer->UseSyncronize = true;
        timer->OnTimer = [&called](TObject*) { called.Tick(); };
        timer->SetEnabled(true);
        ASSERT_TRUE(RunSynchronisedTicks(5));
        EXPECT_EQ(called.Count, 0) << static_cast<int>(kind);
        EXPECT_EQ(DrainQueued(WM_USER + 768, nullptr).Count, 0) << static_cast<int>(kind);
        timer->Free();
        if (owner) owner->Free();
    }
}

// The worker blocked in the synchronise call is released by the destruction itself; its tick never reaches
// OnTimer.
TEST(ThreadTimer, DestructionWhileASynchronisedTickWaits) {
    TApplicationScope application;
    TTicks ticks;
    TTimerPtr timer = NewTimer();
    timer->UseSyncronize = true;
    timer->OnTimer = [&ticks](TObject*) { ticks.Tick(); };
    UniqueHandle worker = OpenWorker(*timer);
    timer->SetEnabled(true);
    // The synchronise call posts a null message to the application window once its request is queued.
    bool queued = false;
    for (int i = 0; i < WaitRounds && !queued; ++i) {
        MSG msg;
        if (!PeekMessageA(&msg, Application->Handle(), 0, 0, PM_NOREMOVE))
            Sleep(10);
        else if (msg.message == WM_NULL)
            queued = true;
        else
            PeekMessageA(&msg, Application->Handle(), msg.message, msg.message, PM_REMOVE);
    }
    ASSERT_TRUE(queued);
    timer.reset();
    EXPECT_TRUE(Ended(worker));
    EXPECT_EQ(ticks.Count, 0);
}

// A direct tick that sends a message to the main thread's window (as ShowWindow does) can only finish if the
// destruction waiting for it serves that message.
std::atomic<int> ProbeReceived{0};

LRESULT CALLBACK ProbeProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_APP) ++ProbeReceived;
    return DefWindowProcA(window, msg, wParam, lParam);
}

TEST(ThreadTimer, DestructionWaitsForARunningTickAndServesIt) {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = ProbeProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "ThreadTimerProbe";
    RegisterClassA(&windowClass);
    HWND probe = CreateWindowExA(0, "ThreadTimerProbe", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, windowClass.hInstance,
                                 nullptr);
    ASSERT_TRUE(probe);

    TTicks entered;
    std::atomic<int> finished{0};
    TTimerPtr timer = NewTimer();
    timer->OnTimer = [&](TObject*) {
        entered.Tick();
        SendMessageA(probe, WM_APP, 0, 0);
        ++finished;
    };
    UniqueHandle worker = OpenWorker(*timer);
    timer->SetEnabled(true);
    ASSERT_EQ(WaitForSingleObject(entered.Event.get(), 10000), WAIT_OBJECT_0);
    timer.reset();
    EXPECT_TRUE(Ended(worker));
    EXPECT_EQ(finished, 1);
    EXPECT_EQ(ProbeReceived, 1);
    DestroyWindow(probe);
}

// Freed slowly, before the timer made before it: meanwhile the timer is already being destroyed with its owner.
class TSlowPart : public TComponent {
public:
    using TComponent::TComponent;
    ~TSlowPart() override { Sleep(300); }
};

TEST(ThreadTimer, NoTickReachesOnTimerOnceItsOwnersDestructionBegins) {
    auto* owner = new TComponent(nullptr);
    TTicks ticks;
    auto* timer = new TThreadTimer(owner);
    timer->SetInterval(10);
    timer->OnTimer = [&ticks](TObject*) { ticks.Tick(); };
    new TSlowPart(owner);
    timer->SetEnabled(true);
    ASSERT_TRUE(ticks.WaitFor(2));
    const int before = ticks.Count;
    owner->Free();
    // A tick may have been past its checks when the destruction began; some thirty more had time to come.
    EXPECT_LE(ticks.Count - before, 2);
}

class ThreadTimerSelfDestruction : public ::testing::TestWithParam<bool> {};

TEST_P(ThreadTimerSelfDestruction, FreeingTheTimerInItsOwnTickDoesNotWaitForThatTick) {
    TTicks ticks;
    auto* timer = new TThreadTimer(nullptr);
    timer->SetInterval(10);
    timer->UseSyncronize = GetParam();
    timer->OnTimer = [&ticks](TObject* sender) {
        ticks.Tick();
        static_cast<TThreadTimer*>(sender)->Free();
    };
    UniqueHandle worker = OpenWorker(*timer);
    timer->SetEnabled(true);
    EXPECT_TRUE(WaitEnded(worker));
    EXPECT_EQ(ticks.Count, 1);
}

// Raised on the worker, or on the main thread and handed back by the synchronise call: the worker ends quietly.
TEST_P(ThreadTimerSelfDestruction, AnExceptionFromOnTimerEndsTheWorker) {
    TTicks ticks;
    TTimerPtr timer = NewTimer();
    timer->UseSyncronize = GetParam();
    timer->OnTimer = [&ticks](TObject*) {
        ticks.Tick();
        throw Exception("tick failed");
    };
    UniqueHandle worker = OpenWorker(*timer);
    timer->SetEnabled(true);
    EXPECT_TRUE(WaitEnded(worker));
    EXPECT_EQ(ticks.Count, 1);
    EXPECT_TRUE(timer->Enabled());
}

INSTANTIATE_TEST_SUITE_P(DirectAndSynchronised, ThreadTimerSelfDestruction, ::testing::Bool());

TEST(ThreadTimer, ProgramEndStopsTheWorker) {
    for (bool byApplication : {true, false}) {
        TApplicationScope application;
        TTicks ticks;
        TTimerPtr timer = NewTimer();
        timer->OnTimer = [&ticks](TObject*) { ticks.Tick(); };
        UniqueHandle worker = OpenWorker(*timer);
        timer->SetEnabled(true);
        ASSERT_TRUE(ticks.WaitFor(1));
        if (byApplication) {
            Application->Terminate();
            for (int i = 0; i < WaitRounds && !Application->Terminated(); ++i)
                Application->HandleMessage();
            ASSERT_TRUE(Application->Terminated());
        } else {
            TimerShutdown = true;
        }
        EXPECT_TRUE(WaitEnded(worker)) << "by application " << byApplication;
        timer.reset();
        TimerShutdown = false;
    }
}

} // namespace

#include "box_watcher.h"
#include "forms.h"
#include "hwnd.h"

#include <gtest/gtest.h>

#include <QEventLoop>
#include <QTimer>

#include <atomic>
#include <thread>
#include <vector>

TEST(HiddenWindow, MessagesPostedFromAnyThreadArriveInOrderOnTheOwnerThread)
{
    std::vector<LPARAM> seen;
    const auto owner = std::this_thread::get_id();
    bool onOwner = true;
    HWND wnd = AllocateHWnd([&](TMessage& m) {
        onOwner = onOwner && std::this_thread::get_id() == owner;
        seen.push_back(m.LParam);
    });
    std::thread poster([&] {
        for (LPARAM i = 0; i < 1000; ++i)
            ASSERT_TRUE(PostMessage(wnd, 0x3C0, 0, i));
    });
    poster.join();
    ASSERT_TRUE(WaitFor([&] { return seen.size() == 1000; }));
    EXPECT_TRUE(onOwner);
    for (LPARAM i = 0; i < 1000; ++i)
        ASSERT_EQ(seen[size_t(i)], i);
    DeallocateHWnd(wnd);
}

TEST(HiddenWindow, MessagesWaitingForADestroyedWindowAreDropped)
{
    int seen = 0;
    HWND wnd = AllocateHWnd([&](TMessage&) { ++seen; });
    PostMessage(wnd, 1, 0, 0);
    DeallocateHWnd(wnd);
    EXPECT_FALSE(PostMessage(wnd, 1, 0, 0));
    Pump(50);
    EXPECT_EQ(seen, 0);
}

TEST(HiddenWindow, AWindowMayBeDestroyedFromItsOwnHandler)
{
    int seen = 0;
    HWND wnd = 0;
    wnd = AllocateHWnd([&](TMessage&) {
        ++seen;
        DeallocateHWnd(wnd);
    });
    PostMessage(wnd, 1, 0, 0);
    PostMessage(wnd, 1, 0, 0);
    Pump(50);
    EXPECT_EQ(seen, 1);
}

TEST(HiddenWindow, AnExceptionInAHandlerIsReportedAndTheLoopGoesOn)
{
    BoxWatcher boxes;
    int seen = 0;
    HWND wnd = AllocateHWnd([&](TMessage& m) {
        ++seen;
        if (m.Msg == 1)
            throw Exception("handler failed");
    });
    PostMessage(wnd, 1, 0, 0);
    PostMessage(wnd, 2, 0, 0);
    ASSERT_TRUE(WaitFor([&] { return seen == 2 && boxes.texts.size() == 1; }));
    EXPECT_EQ(boxes.texts[0], "handler failed");
    DeallocateHWnd(wnd);
}

TEST(HiddenWindow, AWindowDestroyedFromANestedLoopInItsHandlerOutlivesTheHandler)
{
    int seen = 0;
    HWND wnd = 0;
    wnd = AllocateHWnd([&](TMessage&) {
        ++seen;
        QEventLoop box; // as a modal box in the handler would
        QTimer::singleShot(10, [&] { DeallocateHWnd(wnd); });
        QTimer::singleShot(50, &box, &QEventLoop::quit);
        box.exec();
    });
    PostMessage(wnd, 1, 0, 0);
    Pump(150);
    EXPECT_EQ(seen, 1);
    EXPECT_FALSE(PostMessage(wnd, 1, 0, 0));
}

TEST(StandardErrorReport, ARepeatedFailureDoesNotStackBoxesWhileItsReportIsOpen)
{
    BoxWatcher boxes(300); // a user who answers after a while
    HWND wnd = AllocateHWnd([&](TMessage& m) {
        throw Exception(m.Msg == 1 ? "device will not open" : "another failure");
    });
    QTimer::singleShot(0, [&] { PostMessage(wnd, 1, 0, 0); });
    QTimer::singleShot(50, [&] { PostMessage(wnd, 1, 0, 0); });  // same failure, box still up
    QTimer::singleShot(100, [&] { PostMessage(wnd, 2, 0, 0); }); // a different one is shown
    Pump(800);
    EXPECT_EQ(boxes.texts, (std::vector<std::string>{"device will not open", "another failure"}));
    // Once answered, the same failure is reported again.
    PostMessage(wnd, 1, 0, 0);
    ASSERT_TRUE(WaitFor([&] { return boxes.texts.size() == 3; }));
    DeallocateHWnd(wnd);
}

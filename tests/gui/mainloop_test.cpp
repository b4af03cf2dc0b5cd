// SPDX-License-Identifier: GPL-2.0-or-later
// The hand-off of widget work from workers to the main thread.
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "gui_harness.h"
#include "ui/mainloop.h"

TEST(MainLoop, OnTheMainThreadTheCallRunsAtOnce)
{
    gui_init();
    ASSERT_TRUE(on_main_thread());
    int runs = 0;
    main_call_sync([&] { ++runs; });
    EXPECT_EQ(runs, 1);
}

TEST(MainLoop, WorkerCallsRunOnTheMainThreadInCallOrderWithIdleTasks)
{
    gui_init();
    GThread *main_thread = g_thread_self();
    std::vector<int> order;  // written on the main thread only
    bool on_main_each_time = true;
    run_script([&] {
        EXPECT_FALSE(on_main_thread());
        for (int round = 0; round < 20; ++round) {
            // An idle task queued first must run before the synchronous call.
            g_idle_add(
                [](gpointer p) -> gboolean {
                    static_cast<std::vector<int> *>(p)->push_back(1);
                    return FALSE;
                },
                &order);
            main_call_sync([&] {
                on_main_each_time = on_main_each_time && g_thread_self() == main_thread;
                order.push_back(2);
            });
        }
    });
    ASSERT_EQ(order.size(), 40u);
    for (size_t i = 0; i < order.size(); ++i)
        EXPECT_EQ(order[i], i % 2 ? 2 : 1) << "at " << i;
    EXPECT_TRUE(on_main_each_time);
}

TEST(MainLoop, ManyWorkersAtOnceEachReturnAfterTheirOwnCall)
{
    gui_init();
    std::atomic<int> done{0};
    int total = 0;  // main thread only
    run_script([&] {
        std::vector<std::thread> workers;
        for (int i = 0; i < 8; ++i)
            workers.emplace_back([&] {
                for (int j = 0; j < 50; ++j) {
                    int seen = -1;
                    main_call_sync([&] { seen = ++total; });
                    EXPECT_GT(seen, 0);  // the call ran before it returned
                }
                ++done;
            });
        for (auto &t : workers)
            t.join();
    });
    EXPECT_EQ(done.load(), 8);
    EXPECT_EQ(total, 400);
}

// Reports a worker does not wait for still run on the main thread, in the
// order they were made among the calls it waits for.
TEST(MainLoop, AsyncCallsRunOnTheMainThreadInCallOrderWithSyncCalls)
{
    gui_init();
    GThread *main_thread = g_thread_self();
    std::vector<int> order;  // written on the main thread only
    bool on_main_each_time = true;
    run_script([&] {
        for (int round = 0; round < 20; ++round) {
            main_call_async([&, round] {
                on_main_each_time = on_main_each_time && g_thread_self() == main_thread;
                order.push_back(2 * round);
            });
            main_call_async([&, round] { order.push_back(2 * round + 1); });
            if (round % 5 == 4)
                main_call_sync([&] { order.push_back(-1); });
        }
        main_call_sync([] {});
    });
    std::vector<int> want;
    for (int round = 0; round < 20; ++round) {
        want.push_back(2 * round);
        want.push_back(2 * round + 1);
        if (round % 5 == 4)
            want.push_back(-1);
    }
    EXPECT_EQ(order, want);
    EXPECT_TRUE(on_main_each_time);
}

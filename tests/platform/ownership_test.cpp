// Who holds a mutex: one thread at a time, counted, across processes, until
// it releases it or ends.
#include "platform_test.h"

#include "platform/mutex_namespace.h"
#include "support/descriptor_limit.h"

#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

using OwnershipTest = PlatformTest;

TEST_F(OwnershipTest, AHoldIsCountedAndSeenFromAnotherProcess) {
    Helper other;
    std::uintptr_t theirs = other.create("m").value;
    HANDLE mine = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, "m");
    EXPECT_EQ(other.wait(theirs, 0).value, WAIT_OBJECT_0);
    EXPECT_EQ(other.wait(theirs, INFINITE).value, WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(mine, 0), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(mine, 20), WAIT_TIMEOUT);

    EXPECT_FALSE(ReleaseMutex(mine));
    EXPECT_EQ(GetLastError(), ERROR_NOT_OWNER);
    EXPECT_EQ(other.release(theirs).value, TRUE);
    EXPECT_EQ(WaitForSingleObject(mine, 0), WAIT_TIMEOUT);
    EXPECT_EQ(other.release(theirs).value, TRUE);
    EXPECT_EQ(other.release(theirs).error, ERROR_NOT_OWNER);
    EXPECT_EQ(WaitForSingleObject(mine, 0), WAIT_OBJECT_0);
    EXPECT_EQ(other.wait(theirs, 0).value, WAIT_TIMEOUT);
}

TEST_F(OwnershipTest, AThreadHoldsItNotItsProcess) {
    HANDLE mutex = CreateMutexA(nullptr, TRUE, "m");
    std::thread([&] {
        EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_TIMEOUT);
        EXPECT_FALSE(ReleaseMutex(mutex));
        EXPECT_EQ(GetLastError(), ERROR_NOT_OWNER);
    }).join();
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_FALSE(ReleaseMutex(mutex));
}

TEST_F(OwnershipTest, AnInfiniteWaitLastsUntilTheRelease) {
    Helper holder, waiter;
    std::uintptr_t held = holder.create("m").value;
    holder.wait(held, 0);
    waiter.send(Helper::command("wait", waiter.open("m").value, INFINITE));
    EXPECT_FALSE(waiter.answered_within(200));
    holder.release(held);
    EXPECT_EQ(waiter.receive().value, WAIT_OBJECT_0);
}

// A release, or the end of the holder, hands the mutex to a thread that waits
// for it, before any later request: the releaser asking again at once gets 0.
TEST_F(OwnershipTest, AReleasedOrAbandonedMutexGoesToItsWaiter) {
    HANDLE mine = CreateMutexA(nullptr, TRUE, "m");
    Helper waiter;
    std::uintptr_t theirs = waiter.open("m").value;
    for (DWORD limit : {INFINITE, DWORD(10000)}) {
        waiter.send(Helper::command("wait", theirs, limit));
        EXPECT_FALSE(waiter.answered_within(100));
        EXPECT_TRUE(ReleaseMutex(mine));
        EXPECT_EQ(WaitForSingleObject(mine, 0), WAIT_TIMEOUT) << limit;
        EXPECT_EQ(waiter.receive().value, WAIT_OBJECT_0);
        EXPECT_EQ(waiter.release(theirs).value, TRUE);
        EXPECT_EQ(WaitForSingleObject(mine, 0), WAIT_OBJECT_0);
    }
    EXPECT_TRUE(ReleaseMutex(mine));
    std::thread([&] {
        EXPECT_EQ(WaitForSingleObject(mine, 0), WAIT_OBJECT_0);
        waiter.send(Helper::command("wait", theirs, INFINITE));
        EXPECT_FALSE(waiter.answered_within(100));
    }).join();  // it ends holding the mutex
    EXPECT_EQ(WaitForSingleObject(mine, 0), WAIT_TIMEOUT);
    EXPECT_EQ(waiter.receive().value, WAIT_ABANDONED);
}

// Kernels before Linux 5.14 cannot wait for it until a monotonic deadline: a
// time-limited wait there still ends on time, and still takes the mutex.
TEST_F(OwnershipTest, ATimeLimitedWaitServesOnOlderKernels) {
    HANDLE mine = CreateMutexA(nullptr, TRUE, "m");
    Helper old = Helper::without_futex_lock_pi2();
    std::uintptr_t theirs = old.open("m").value;
    EXPECT_EQ(old.wait(theirs, 50).value, WAIT_TIMEOUT);
    old.send(Helper::command("wait", theirs, 10000));
    EXPECT_FALSE(old.answered_within(100));
    EXPECT_TRUE(ReleaseMutex(mine));
    EXPECT_EQ(old.receive().value, WAIT_OBJECT_0);
}

TEST_F(OwnershipTest, AThreadThatEndsHoldingItAbandonsIt) {
    HANDLE mutex = CreateMutexA(nullptr, FALSE, "m");
    std::thread([&] {
        WaitForSingleObject(mutex, 0);
        WaitForSingleObject(mutex, 0);
    }).join();
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_ABANDONED);
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(ReleaseMutex(mutex) && ReleaseMutex(mutex));
    EXPECT_FALSE(ReleaseMutex(mutex));

    Helper other;
    EXPECT_EQ(other.abandon(other.open("m").value).value, WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(mutex, 10000), WAIT_ABANDONED);
}

TEST_F(OwnershipTest, AProcessKilledHoldingItAbandonsIt) {
    Helper holder, waiter;
    holder.wait(holder.create("m").value, 0);
    waiter.send(Helper::command("wait", waiter.open("m").value, INFINITE));
    HANDLE mine = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, "m");
    holder.kill();
    EXPECT_EQ(waiter.receive().value, WAIT_ABANDONED);
    EXPECT_EQ(WaitForSingleObject(mine, 0), WAIT_TIMEOUT);
    waiter.kill();
    EXPECT_EQ(WaitForSingleObject(mine, 0), WAIT_ABANDONED);
}

// Threads that create, take, release and close the same name over and over
// are never inside at once, and leave nothing behind.
TEST_F(OwnershipTest, ThreadsTakeTurns) {
    std::atomic<int> inside{0}, overlaps{0}, failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 300; ++i) {
                HANDLE mutex = CreateMutexA(nullptr, FALSE, "m");
                DWORD result = WaitForSingleObject(mutex, i % 2 ? 0 : 10000);
                if (result == WAIT_OBJECT_0) {
                    overlaps += inside++ != 0;
                    std::this_thread::yield();
                    --inside;
                    failures += !ReleaseMutex(mutex);
                } else {
                    failures += !(i % 2 && result == WAIT_TIMEOUT);
                }
                failures += !CloseHandle(mutex);
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(overlaps, 0);
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(open_error("m"), ERROR_FILE_NOT_FOUND);
}

// The kernel abandons at most 2,048 robust mutexes of a thread that dies: a
// thread may not take more holds than it can be trusted to give up.
TEST_F(OwnershipTest, AThreadHoldsAtMost2000Mutexes) {
#ifdef __SANITIZE_THREAD__
    GTEST_SKIP() << "ThreadSanitizer follows at most 64 locks held by one thread";
#endif
    DescriptorLimit limit(4096);
    if (!limit.set()) GTEST_SKIP() << "needs 4,096 descriptors; the hard limit is " << limit.hard();
    std::vector<HANDLE> held;
    for (int i = 0; i < 2000; ++i) {
        held.push_back(CreateMutexA(nullptr, FALSE, nullptr));
        ASSERT_EQ(WaitForSingleObject(held.back(), 0), WAIT_OBJECT_0) << i;
    }
    HANDLE more = CreateMutexA(nullptr, FALSE, nullptr);
    EXPECT_EQ(WaitForSingleObject(more, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_QUOTA);
    EXPECT_EQ(WaitForSingleObject(held[0], 0), WAIT_OBJECT_0);  // again: no new hold
    EXPECT_TRUE(ReleaseMutex(held[0]) && ReleaseMutex(held[0]));
    EXPECT_EQ(WaitForSingleObject(more, 0), WAIT_OBJECT_0);
    held.push_back(more);
    for (HANDLE handle : held) CloseHandle(handle);
}

// As on Windows, a hold goes with its mutex: holds of mutexes that died with
// their creator, cleanly or killed, leave room for new ones.
TEST_F(OwnershipTest, HoldsOfMutexesThatDiedElsewhereDoNotCount) {
#ifdef __SANITIZE_THREAD__
    GTEST_SKIP() << "ThreadSanitizer follows at most 64 locks held by one thread";
#endif
    DescriptorLimit limit(4096);
    if (!limit.set()) GTEST_SKIP() << "needs 4,096 descriptors; the hard limit is " << limit.hard();
    for (bool killed : {false, true}) {
        Helper creator;
        for (int i = 0; i < 2000; ++i) {
            std::string name = "m" + std::to_string(i);
            creator.create(name);
            HANDLE mutex = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, name.c_str());
            ASSERT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0) << i;
            CloseHandle(mutex);
        }
        killed ? creator.kill() : creator.end();
        HANDLE fresh = CreateMutexA(nullptr, FALSE, "fresh");
        EXPECT_EQ(WaitForSingleObject(fresh, 0), WAIT_OBJECT_0) << (killed ? "killed" : "ended");
        CloseHandle(fresh);
    }
}

// Thread ids are per PID namespace: a sandboxed process could share one with
// the holder, so it is kept apart from mutexes made outside, and they from its.
TEST_F(OwnershipTest, ProcessesOfAnotherPidNamespaceAreKeptApart) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to make a PID namespace";
    if (access("/usr/bin/unshare", X_OK) != 0) GTEST_SKIP() << "needs /usr/bin/unshare (util-linux)";
    HANDLE mine = CreateMutexA(nullptr, TRUE, "Global\\p");
    Helper sandboxed = Helper::sandboxed();
    for (const Reply& reply : {sandboxed.open("Global\\p"), sandboxed.create("Global\\p")}) {
        EXPECT_EQ(reply.value, 0u);
        EXPECT_EQ(reply.error, ERROR_ACCESS_DENIED);
    }
    EXPECT_EQ(sandboxed.create("q").error, ERROR_SUCCESS);
    EXPECT_EQ(open_error("q"), ERROR_ACCESS_DENIED);
    EXPECT_NE(namespace_problems().find("PID namespace"), std::string::npos) << namespace_problems();
    CloseHandle(mine);
}

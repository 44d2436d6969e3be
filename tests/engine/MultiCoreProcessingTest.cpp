#include "engine/MultiCoreProcessing.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <limits>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace stipplor;
using testsupport::MessageOf;

namespace {

struct ProcessorCountScope {
    explicit ProcessorCountScope(int32_t count) { SetProcessorCountForTesting(count); }
    ~ProcessorCountScope() { SetProcessorCountForTesting(0); }
};

std::vector<int> RunAll(int32_t first, int32_t last) {
    std::vector<std::atomic<int>> counts(static_cast<size_t>(std::max(0, last - first + 1)));
    ParallelFor(first, last, [&](int32_t i) { counts[static_cast<size_t>(i - first)]++; });
    std::vector<int> result;
    for (auto& c : counts)
        result.push_back(c.load());
    return result;
}

} // namespace

TEST(ParallelFor, EveryIndexExactlyOnceForAnyThreadCount) {
    for (int32_t processors : {1, 2, 3, 4, 7, 16, 40}) {
        ProcessorCountScope scope(processors);
        for (int32_t count : {1, 2, 3, 7, 9, 10, 15, 1000}) {
            for (int c : RunAll(-3, -3 + count - 1))
                ASSERT_EQ(c, 1) << processors << " processors, " << count << " indices";
        }
    }
    EXPECT_TRUE(RunAll(5, 4).empty()) << "Last < First runs nothing";
}

TEST(ParallelFor, RangesAtTheEndsOfThe32BitIndices) {
    constexpr int32_t Max = std::numeric_limits<int32_t>::max();
    constexpr int32_t Min = std::numeric_limits<int32_t>::min();
    for (int32_t processors : {1, 2, 4, 16}) {
        ProcessorCountScope scope(processors);
        for (auto [first, last] : {std::pair{Max - 99, Max}, std::pair{Max, Max},
                                   std::pair{Min, Min + 99}, std::pair{Min, Min}}) {
            const std::vector<int> counts = RunAll(first, last);
            ASSERT_EQ(counts.size(), size_t(int64_t{last} - first + 1));
            for (size_t i = 0; i < counts.size(); ++i)
                ASSERT_EQ(counts[i], 1) << processors << " processors, index " << first << "+" << i;
        }
    }
    // Chunks of a job given many threads end exactly at the largest index.
    std::atomic<int> calls{0};
    std::atomic<bool> reachedMax{false};
    TParallelForProcess job([&](int32_t i) {
        calls++;
        if (i == Max)
            reachedMax = true;
    });
    job.Start(Max - 40, Max, 16, 1);
    EXPECT_EQ(calls.load(), 41);
    EXPECT_TRUE(reachedMax.load());
}

TEST(ParallelFor, NestedCallsCoverEveryIndexExactlyOnce) {
    ProcessorCountScope scope(4);
    constexpr int32_t Outer = 13, Inner = 57;
    std::vector<std::atomic<int>> counts(size_t(Outer) * Inner * 3);
    ParallelFor(0, Outer - 1, [&](int32_t o) {
        ParallelFor(0, Inner - 1, [&](int32_t i) {
            ParallelFor(0, 2, [&](int32_t k) { counts[(size_t(o) * Inner + i) * 3 + k]++; });
        });
    });
    for (size_t n = 0; n < counts.size(); ++n)
        ASSERT_EQ(counts[n].load(), 1) << n;
    EXPECT_EQ(RunningWorkers(), 0) << "no nested worker outlives its call";

    // An error deep inside reaches the outermost caller with its message.
    EXPECT_EQ(MessageOf([] {
                  ParallelFor(0, 7, [](int32_t o) {
                      ParallelFor(0, 7, [o](int32_t i) {
                          if (o == 5 && i == 6)
                              throw std::runtime_error("inner 5/6 failed");
                      });
                  });
              }),
              "inner 5/6 failed");
    EXPECT_EQ(RunningWorkers(), 0);
}

TEST(ParallelFor, MoreThreadsThanWork) {
    // Asked for far more threads than indices, or for chunks longer than the range: every
    // index still runs once, in chunks of one thread each.
    ProcessorCountScope scope(4);
    for (auto [threads, minChunk] : {std::pair{64, 1}, std::pair{3, 100}, std::pair{1000, 0}}) {
        std::vector<std::atomic<int>> counts(5);
        TParallelForProcess job([&](int32_t i) { counts[size_t(i)]++; });
        job.Start(0, 4, threads, minChunk);
        for (auto& c : counts)
            ASSERT_EQ(c.load(), 1) << threads << " threads, chunks of at least " << minChunk;
    }
    EXPECT_EQ(RunningWorkers(), 0);
}

TEST(ParallelFor, ChunksAreContiguousAndTheLastTakesTheRemainder) {
    ProcessorCountScope scope(8);
    struct Case {
        int32_t count, threads;
        std::vector<std::pair<int32_t, int32_t>> chunks;
    };
    const Case cases[] = {
        {9, 2, {{0, 3}, {4, 8}}},
        {10, 4, {{0, 1}, {2, 3}, {4, 5}, {6, 7}, {8, 9}}},
        {7, 4, {{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 5}, {6, 6}}},
        {1, 4, {{0, 0}}},
    };
    for (const Case& c : cases) {
        std::mutex mutex;
        std::map<std::thread::id, std::vector<int32_t>> byThread;
        TParallelForProcess job([&](int32_t i) {
            std::lock_guard<std::mutex> lock(mutex);
            byThread[std::this_thread::get_id()].push_back(i);
        });
        job.Start(0, c.count - 1, c.threads, 1);
        std::set<std::pair<int32_t, int32_t>> chunks;
        for (auto& [id, indices] : byThread) {
            for (size_t k = 1; k < indices.size(); ++k)
                ASSERT_EQ(indices[k], indices[k - 1] + 1) << "one chunk per thread, in order";
            chunks.emplace(indices.front(), indices.back());
        }
        EXPECT_EQ(std::vector(chunks.begin(), chunks.end()), c.chunks)
            << c.count << "/" << c.threads;
    }
}

TEST(ParallelFor, ThreadCountFollowsProcessorsWorkersAndLimit) {
    {
        ProcessorCountScope scope(1);
        EXPECT_EQ(ThreadCountFor(1, 16), 1);
        EXPECT_EQ(ThreadCountFor(4, 16), 1);
    }
    ProcessorCountScope scope(4);
    EXPECT_EQ(ThreadCountFor(1, 16), 4);
    EXPECT_EQ(ThreadCountFor(8, 16), 16);
    EXPECT_EQ(ThreadCountFor(1, 3), 3);
    // A job nested in a running one sees its three live workers and gets 4 - 3 threads.
    std::atomic<int32_t> nested{0};
    std::atomic<bool> measured{false};
    ParallelFor(0, 3, [&](int32_t i) {
        if (i == 0) {
            nested = ThreadCountFor(1, 16);
            measured = true;
        } else {
            while (!measured)
                std::this_thread::yield();
        }
    });
    EXPECT_EQ(nested.load(), 1);
    EXPECT_EQ(RunningWorkers(), 0) << "no worker outlives its call";
}

TEST(ParallelFor, SingleProcessorRunsInOrderOnTheCallingThread) {
    ProcessorCountScope scope(1);
    std::vector<int32_t> order;
    const auto caller = std::this_thread::get_id();
    ParallelFor(0, 99, [&](int32_t i) {
        EXPECT_EQ(std::this_thread::get_id(), caller);
        order.push_back(i);
    });
    ASSERT_EQ(order.size(), 100u);
    for (int32_t i = 0; i < 100; ++i)
        EXPECT_EQ(order[static_cast<size_t>(i)], i);
}

TEST(ParallelFor, ErrorsReachTheCallerAfterAllThreadsStopped) {
    ProcessorCountScope scope(4);
    const auto caller = std::this_thread::get_id();
    std::atomic<int> finished{0};
    // An error on a worker: the caller gets its message once every thread is done.
    try {
        ParallelFor(0, 39, [&](int32_t i) {
            if (i == 25 && std::this_thread::get_id() != caller)
                throw std::runtime_error("row 25 failed");
            if (i != 25)
                finished++;
        });
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "row 25 failed");
    }
    EXPECT_EQ(RunningWorkers(), 0);
    // The failing worker's chunk (20..29) stops at 25; the others finish.
    EXPECT_EQ(finished.load(), 40 - 1 - 4);

    // On the calling thread the exception passes unchanged.
    EXPECT_THROW(ParallelFor(0, 39,
                             [&](int32_t i) {
                                 if (i == 0)
                                     throw std::out_of_range("first");
                             }),
                 std::out_of_range);

    // Not even a non-standard exception stops a worker from finishing.
    try {
        ParallelFor(0, 3, [&](int32_t i) {
            if (i == 3)
                throw 42;
        });
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_FALSE(e.Message().empty());
    }
}

TEST(ParallelFor, AbortsAndErrorsCombine) {
    ProcessorCountScope scope(4);
    EXPECT_THROW(ParallelFor(0, 3,
                             [&](int32_t i) {
                                 if (i == 2)
                                     throw EAbort();
                             }),
                 EAbort);
    // An abort recorded before an error: the error wins and keeps its own message.
    std::atomic<bool> aborted{false};
    try {
        ParallelFor(0, 3, [&](int32_t i) {
            if (i == 1) {
                aborted = true;
                throw EAbort();
            }
            if (i == 3) {
                while (!aborted)
                    std::this_thread::yield();
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                throw std::runtime_error("disk full");
            }
        });
        FAIL() << "no exception";
    } catch (const EAbort&) {
        FAIL() << "an error outranks an abort";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "disk full");
    }
}

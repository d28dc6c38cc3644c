// The sibling allocator (fa9osse_install3.dll's _ossMemAlloc/_ossMemFree), linked
// here as host code: blocks the library can use, and bad frees that leave the heap intact.
#include "oss_mem.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

// The statistics are process-wide; each test compares against where it started.
struct StatsDelta {
    OssMemStats before = ossMemGetStats();
    long live() const { return long(ossMemGetStats().liveBlocks) - long(before.liveBlocks); }
    long bytes() const { return long(ossMemGetStats().liveBytes) - long(before.liveBytes); }
    long rejected() const { return long(ossMemGetStats().rejectedFrees) - long(before.rejectedFrees); }
    long damaged() const { return long(ossMemGetStats().damagedGuards) - long(before.damagedGuards); }
};

TEST(OssMem, BlocksAreAlignedWritableAndCounted) {
    StatsDelta d;
    char* a = static_cast<char*>(_ossMemAlloc(5, "fa9iobs", 120));
    char* b = static_cast<char*>(_ossMemAlloc(300, "fa9iobs", 121));
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(a) % alignof(std::max_align_t), 0u);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(b) % alignof(std::max_align_t), 0u);
    std::memset(a, 'x', 5);
    std::memset(b, 'y', 300);
    EXPECT_EQ(d.live(), 2);
    EXPECT_EQ(d.bytes(), 305);

    _ossMemFree(a, "fa9iobs", 130);
    _ossMemFree(b, "fa9iobs", 131);
    EXPECT_EQ(d.live(), 0);
    EXPECT_EQ(d.bytes(), 0);
    EXPECT_EQ(d.rejected(), 0);
    EXPECT_EQ(d.damaged(), 0);
}

TEST(OssMem, ZeroBytesGivesADistinctFreeableBlock) {
    StatsDelta d;
    void* a = _ossMemAlloc(0, "t", 1);
    void* b = _ossMemAlloc(0, "t", 2);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a, b);
    _ossMemFree(a, "t", 3);
    _ossMemFree(b, "t", 4);
    EXPECT_EQ(d.live(), 0);
    EXPECT_EQ(d.rejected(), 0);
}

TEST(OssMem, ARequestTooLargeForTheHeaderGivesNull) {
    StatsDelta d;
    EXPECT_EQ(_ossMemAlloc(SIZE_MAX, "t", 1), nullptr);
    EXPECT_EQ(_ossMemAlloc(SIZE_MAX - 8, "t", 2), nullptr);
    EXPECT_EQ(d.live(), 0);
}

TEST(OssMem, NullIsIgnoredWithoutCountingAsRejected) {
    StatsDelta d;
    _ossMemFree(nullptr, "t", 1);
    EXPECT_EQ(d.rejected(), 0);
}

// Every kind of pointer that is not a live block: the free is refused and counted,
// and the allocator's own blocks stay intact and freeable.
enum class Foreign { PlainMalloc, InteriorPointer, StackAddress, AlreadyFreed };

class OssMemRejects : public ::testing::TestWithParam<Foreign> {};

TEST_P(OssMemRejects, AFreeOfSomethingNotLiveIsIgnored) {
    StatsDelta d;
    char* bystander = static_cast<char*>(_ossMemAlloc(32, "bystander", 7));
    ASSERT_NE(bystander, nullptr);
    std::memset(bystander, 'b', 32);

    void* heapBlock = nullptr;
    char onStack[64] = {};
    void* target = nullptr;
    switch (GetParam()) {
    case Foreign::PlainMalloc:
        heapBlock = std::malloc(48);
        target = heapBlock;
        break;
    case Foreign::InteriorPointer:
        target = bystander + 16;
        break;
    case Foreign::StackAddress:
        target = onStack + 32;
        break;
    case Foreign::AlreadyFreed: {
        void* once = _ossMemAlloc(24, "t", 8);
        _ossMemFree(once, "t", 9);
        target = once;
        break;
    }
    }
    const long rejectedBefore = d.rejected();
    _ossMemFree(target, "t", 10);
    EXPECT_EQ(d.rejected() - rejectedBefore, 1);
    EXPECT_EQ(d.live(), 1);

    // The refused pointer was not touched and the bystander is still whole.
    for (int i = 0; i < 32; ++i) ASSERT_EQ(bystander[i], 'b') << i;
    _ossMemFree(bystander, "bystander", 11);
    EXPECT_EQ(d.live(), 0);
    EXPECT_EQ(d.damaged(), 0);
    std::free(heapBlock);
}

INSTANTIATE_TEST_SUITE_P(Pointers, OssMemRejects,
                         ::testing::Values(Foreign::PlainMalloc, Foreign::InteriorPointer,
                                           Foreign::StackAddress, Foreign::AlreadyFreed),
                         [](const ::testing::TestParamInfo<Foreign>& info) {
                             switch (info.param) {
                             case Foreign::PlainMalloc: return std::string("PlainMalloc");
                             case Foreign::InteriorPointer: return std::string("InteriorPointer");
                             case Foreign::StackAddress: return std::string("StackAddress");
                             case Foreign::AlreadyFreed: return std::string("AlreadyFreed");
                             }
                             return std::string("Unknown");
                         });

TEST(OssMem, ThreadsAllocatingAndFreeingTogetherKeepTheListConsistent) {
    StatsDelta d;
    constexpr int kThreads = 4;
    constexpr int kRounds = 2000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            std::vector<void*> mine;
            for (int i = 0; i < kRounds; ++i) {
                mine.push_back(_ossMemAlloc(size_t(i % 64), "thread", t));
                if (i % 3 == 2) {
                    _ossMemFree(mine.front(), "thread", t);
                    mine.erase(mine.begin());
                }
            }
            for (void* p : mine) _ossMemFree(p, "thread", t);
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(d.live(), 0);
    EXPECT_EQ(d.bytes(), 0);
    EXPECT_EQ(d.rejected(), 0);
    EXPECT_EQ(d.damaged(), 0);
}

}  // namespace

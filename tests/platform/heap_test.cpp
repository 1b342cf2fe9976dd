#include <gtest/gtest.h>

#include "platform/holders.h"

TEST(ProcessHeap, CountsLiveBlocksAndInjectsFailure) {
    long before = standin::HeapLiveBlocks();
    {
        HeapBlock a;
        ASSERT_TRUE(a.Allocate(16));
        EXPECT_EQ(standin::HeapLiveBlocks(), before + 1);
        standin::FailNthHeapAlloc(2);
        HeapBlock b, c;
        EXPECT_TRUE(b.Allocate(8));
        EXPECT_FALSE(c.Allocate(8));  // the second one from the arming
        EXPECT_TRUE(c.Allocate(8));   // one failure only
    }
    EXPECT_EQ(standin::HeapLiveBlocks(), before);
    EXPECT_TRUE(HeapFree(GetProcessHeap(), 0, nullptr));
}

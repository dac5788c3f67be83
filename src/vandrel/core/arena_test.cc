#include "vandrel/core/arena.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace {

bool all_zero(const char* p, int n) {
  return std::all_of(p, p + n, [](char c) { return c == 0; });
}

class HeapTest : public ::testing::Test {
 protected:
  void SetUp() override { hp = X_heap_new(); }
  void TearDown() override { X_heap_free(hp); }
  X_heap* hp = nullptr;
};

TEST_F(HeapTest, SmallBlocksFillInAlignedSlotsFirstFitNewestFirst) {
  heapblock* older = hp->smallreq;
  for (int i = 0; i < 8; ++i)
    EXPECT_EQ(X_heap_alloc(hp, i % 2 ? 32 : 0), heap_data(older) + 32 * i);
  EXPECT_EQ(older->m_used, kHeapSmallData);
  void* ninth = X_heap_alloc(hp, 32);  // opens a new block at the front
  heapblock* newer = hp->smallreq;
  ASSERT_EQ(newer->m_next, older);
  EXPECT_EQ(ninth, heap_data(newer));

  X_heap_reduce(hp);
  X_heap_alloc(hp, 200);                              // newer: 224 used
  EXPECT_EQ(X_heap_alloc(hp, 33), heap_data(older));  // does not fit the newest
  EXPECT_EQ(X_heap_alloc(hp, -5), heap_data(newer) + 224);
  EXPECT_EQ(X_heap_alloc(hp, 1), heap_data(older) + 64);
  EXPECT_EQ(older->m_used, 96);
  EXPECT_EQ(hp->bigreq, nullptr);
}

TEST_F(HeapTest, ReduceReleasesBigBlocksAndReusesZeroedSmallBlocks) {
  char* big = static_cast<char*>(X_heap_alloc(hp, 257));
  ASSERT_EQ(big, heap_data(hp->bigreq));
  EXPECT_EQ(hp->bigreq->m_used, 257);
  EXPECT_TRUE(all_zero(big, 257));
  std::memset(big, 'x', 257);
  for (int i = 0; i < 12; ++i) std::memset(X_heap_alloc(hp, 30), 'y', 30);
  heapblock* newest = hp->smallreq;

  X_heap_reduce(hp);
  EXPECT_EQ(hp->bigreq, nullptr);
  ASSERT_EQ(hp->smallreq, newest);
  EXPECT_EQ(newest->m_used, 0);
  EXPECT_EQ(newest->m_next->m_used, 0);
  char* again = static_cast<char*>(X_heap_alloc(hp, 200));
  char* next = static_cast<char*>(X_heap_alloc(hp, 100));
  EXPECT_EQ(again, heap_data(newest));
  EXPECT_EQ(next, heap_data(newest->m_next));
  EXPECT_TRUE(all_zero(again, 200) && all_zero(next, 100));

  char* huge = static_cast<char*>(X_heap_alloc(hp, 100000));
  EXPECT_TRUE(all_zero(huge, 100000));
  EXPECT_EQ(hp->bigreq->m_used, INT16_MAX);  // informational only, capped
  EXPECT_STREQ(X_heap_strndup(hp, "abcdef", 3), "abc");
  EXPECT_STREQ(X_heap_strndup(hp, "ab", 10), "ab");
}

TEST_F(HeapTest, RestartKeepsTheBigBlockOnlyWhileTheTextFitsIt) {
  std::string first(400, 'a'), shorter(300, 'b'), longer(500, 'c');
  char* small = X_heap_restart_with(hp, "x");
  EXPECT_STREQ(small, "x");
  char* block = X_heap_restart_with(hp, first.c_str());
  EXPECT_EQ(block, first);
  EXPECT_EQ(X_heap_restart_with(hp, shorter.c_str()), block);  // the same block, text ended
  EXPECT_EQ(std::string(block), shorter);
  char* grown = X_heap_restart_with(hp, longer.c_str());
  EXPECT_EQ(grown, longer);
  ASSERT_NE(hp->bigreq, nullptr);
  EXPECT_EQ(hp->bigreq->m_next, nullptr);  // the old block was released
  EXPECT_EQ(X_heap_restart_with(hp, "y"), heap_data(hp->smallreq));
  EXPECT_EQ(hp->bigreq, nullptr);
  // Far smaller than its block, a long text gets a block of its own size.
  X_heap_restart_with(hp, std::string(2000, 'd').c_str());
  EXPECT_STREQ(X_heap_restart_with(hp, shorter.c_str()), shorter.c_str());
  EXPECT_EQ(hp->bigreq->m_used, 301);
}

}  // namespace

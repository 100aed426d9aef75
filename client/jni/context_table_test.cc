#include "client/jni/context_table.h"

#include <cstdint>
#include <set>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace vokra {
namespace {

TEST(ContextTableTest, HandlesArePositiveDistinctAndNotReusedAtOnce) {
  ContextTable table;
  std::set<int32_t> seen;
  for (int i = 0; i < 50; ++i) {
    const int32_t handle = table.create();
    EXPECT_GT(handle, 0);
    EXPECT_TRUE(seen.insert(handle).second);
  }
  const int32_t first = *seen.begin();
  ASSERT_TRUE(table.destroy(first));
  EXPECT_NE(table.create(), first);
  EXPECT_EQ(table.size(), 50u);
}

TEST(ContextTableTest, LiveContextCarriesMagicAndReservedWords) {
  ContextTable table;
  const auto context = table.find(table.create());
  ASSERT_NE(context, nullptr);
  EXPECT_EQ(context->magic, 0x89ABCDEFu);
  EXPECT_EQ(context->reserved, 0);
}

TEST(ContextTableTest, StaleAndForgedHandlesAreRefused) {
  ContextTable table;
  const int32_t handle = table.create();
  ASSERT_TRUE(table.destroy(handle));
  EXPECT_EQ(table.find(handle), nullptr);
  EXPECT_FALSE(table.destroy(handle));
  for (const int32_t forged : {0, -1, INT32_MIN, INT32_MAX, handle + 1000}) {
    EXPECT_EQ(table.find(forged), nullptr) << forged;
    EXPECT_FALSE(table.destroy(forged)) << forged;
  }
  EXPECT_EQ(table.size(), 0u);
}

TEST(ContextTableTest, DestroyInvalidatesAContextStillInUse) {
  ContextTable table;
  const int32_t handle = table.create();
  const std::shared_ptr<TolmContext> inUse = table.find(handle);
  ASSERT_TRUE(table.destroy(handle));
  // The caller that still holds it reads live memory with the words cleared.
  EXPECT_EQ(inUse->magic, 0u);
  EXPECT_EQ(inUse->reserved, 0);
}

TEST(ContextTableTest, BrokenMagicOrReservedWordFailsTheValidityTestAndFreesNothing) {
  ContextTable table;
  const int32_t badMagic = table.create();
  const int32_t badReserved = table.create();
  table.find(badMagic)->magic = 0x12345678;
  table.find(badReserved)->reserved = 1;
  EXPECT_EQ(table.find(badMagic), nullptr);
  EXPECT_EQ(table.find(badReserved), nullptr);
  EXPECT_FALSE(table.destroy(badMagic));
  EXPECT_FALSE(table.destroy(badReserved));
  EXPECT_EQ(table.size(), 2u);
}

TEST(ContextTableTest, ConcurrentCreateAndDestroyKeepHandlesUnique) {
  ContextTable table;
  std::vector<std::thread> threads;
  std::vector<std::vector<int32_t>> handles(4);
  for (std::size_t t = 0; t < handles.size(); ++t) {
    threads.emplace_back([&table, &mine = handles[t]] {
      for (int i = 0; i < 500; ++i) {
        mine.push_back(table.create());
        if (i % 2 == 0) {
          EXPECT_TRUE(table.destroy(mine.back()));
        }
      }
    });
  }
  for (auto& thread : threads) {
    thread.join();
  }
  std::set<int32_t> all;
  for (const auto& mine : handles) {
    all.insert(mine.begin(), mine.end());
  }
  EXPECT_EQ(all.size(), 2000u);
  EXPECT_EQ(table.size(), 1000u);
}

}  // namespace
}  // namespace vokra

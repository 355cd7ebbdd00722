#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "engine/book.h"

namespace {

std::vector<BookEntry> Entries(std::initializer_list<std::pair<u64, Move>> list) {
  std::vector<BookEntry> entries;
  u16 points = 100;
  for (const auto& item : list) entries.push_back(BookEntry{item.first, item.second, 1, points--});
  return entries;
}

}  // namespace

TEST(BookTest, BisectionFindsTheFirstEntryOfAKey) {
  const auto entries = Entries({{1, 10}, {5, 50}, {5, 51}, {5, 52}, {9, 90},
                                {0x8000000000000000ull, 7}, {0xFFFFFFFFFFFFFFFFull, 8}});
  const i32 n = static_cast<i32>(entries.size());
  EXPECT_EQ(FindBookKey(entries.data(), n, 1), 0);
  EXPECT_EQ(FindBookKey(entries.data(), n, 5), 1);
  EXPECT_EQ(FindBookKey(entries.data(), n, 9), 4);
  // Keys with the top bit set sort last (unsigned order).
  EXPECT_EQ(FindBookKey(entries.data(), n, 0x8000000000000000ull), 5);
  EXPECT_EQ(FindBookKey(entries.data(), n, 0xFFFFFFFFFFFFFFFFull), 6);
  EXPECT_EQ(FindBookKey(entries.data(), n, 0), -1);
  EXPECT_EQ(FindBookKey(entries.data(), n, 6), -1);
  EXPECT_EQ(FindBookKey(entries.data(), 0, 1), -1);
}

TEST(BookTest, SelectivityWalksTheEntriesOfOneKey) {
  const auto entries = Entries({{3, 1}, {5, 50}, {5, 51}, {5, 52}, {6, 60}});
  const i32 n = static_cast<i32>(entries.size());
  std::srand(12345);
  // 100 always takes the best-scored entry.
  for (int i = 0; i < 200; ++i) EXPECT_EQ(ChooseBookEntry(entries.data(), n, 1, 100), 1);
  // 1 almost always walks to the last entry of the key, never beyond it.
  int last = 0;
  for (int i = 0; i < 200; ++i) {
    const i32 chosen = ChooseBookEntry(entries.data(), n, 1, 1);
    EXPECT_GE(chosen, 1);
    EXPECT_LE(chosen, 3);
    last += chosen == 3;
  }
  EXPECT_GT(last, 180);
  // 50 spreads the choice: the first about half of the time.
  int first = 0;
  for (int i = 0; i < 2000; ++i) first += ChooseBookEntry(entries.data(), n, 1, 50) == 1;
  EXPECT_GT(first, 850);
  EXPECT_LT(first, 1150);
  // A single entry is taken whatever the draw.
  for (int i = 0; i < 50; ++i) EXPECT_EQ(ChooseBookEntry(entries.data(), n, 4, 1), 4);
}

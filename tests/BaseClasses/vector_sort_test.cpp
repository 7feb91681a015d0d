#include <gtest/gtest.h>

#include "ResourceManager/VectorSort.h"

namespace {
const int& Identity(const int& value) { return value; }
using Sorted = C_VectorSort<int, int, &Identity, 10>;
}

TEST(VectorSort, InsertKeepsOrderAndSearchFindsOrGivesTheInsertionPoint)
{
    Sorted list;
    EXPECT_GE(list.capacity(), 10u);
    for (int v : {5, 1, 9, 3, 7}) list.Insert(v);
    EXPECT_EQ(list, (std::vector<int>{1, 3, 5, 7, 9}));
    EXPECT_TRUE(list.Search(7));
    EXPECT_EQ(list.GetPosition(), 3u);
    EXPECT_FALSE(list.Search(4));
    EXPECT_EQ(list.GetPosition(), 2u);
    EXPECT_FALSE(list.Search(100));
    EXPECT_EQ(list.GetPosition(), 5u);
    EXPECT_FALSE(list.Search(0));
    EXPECT_EQ(list.GetPosition(), 0u);
    EXPECT_EQ(list.Lookup(9), 9);
    EXPECT_EQ(list.Lookup(8), 0);
    list.RemoveAt(0);
    EXPECT_EQ(list.front(), 3);
}

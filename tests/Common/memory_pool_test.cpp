#include <gtest/gtest.h>

#include <set>
#include <stdexcept>
#include <vector>

#include "Common/memory_pool.h"
#include "Common/vector.h"

namespace {

struct Counted {
    static int alive;
    static std::vector<int> destroyed;
    int id;
    explicit Counted(int i = 0) : id(i) {
        if (i < 0) throw std::runtime_error("refused");
        ++alive;
    }
    ~Counted() {
        --alive;
        destroyed.push_back(id);
    }
};
int Counted::alive = 0;
std::vector<int> Counted::destroyed;

using Pool = VORTALEX::memory_pool<Counted, 32>;

class MemoryPool : public ::testing::Test {
protected:
    void SetUp() override {
        Counted::alive = 0;
        Counted::destroyed.clear();
    }
    Pool pool;
};

TEST_F(MemoryPool, FirstBlockIsLazyAndHandsOutHighestIndexFirst) {
    EXPECT_EQ(pool.BlockCount(), 0u);
    Counted* a = pool.Allocate(1);
    Counted* b = pool.Allocate(2);
    EXPECT_EQ(pool.BlockCount(), 1u);
    // Slots are pushed in index order, so each later object sits one slot lower.
    using Chunk = Pool::chunk;
    EXPECT_EQ(reinterpret_cast<Chunk*>(b) + 1, reinterpret_cast<Chunk*>(a));
    EXPECT_EQ(pool.FreeCount(), 30u);
    EXPECT_EQ(Counted::alive, 2);
}

TEST_F(MemoryPool, ThirtyThirdObjectAddsASecondBlockAndReleasedSlotIsReusedFirst) {
    std::vector<Counted*> objects;
    for (int i = 0; i < 32; ++i) objects.push_back(pool.Allocate(i));
    EXPECT_EQ(pool.BlockCount(), 1u);
    EXPECT_EQ(pool.FreeCount(), 0u);
    Counted* extra = pool.Allocate(32);
    EXPECT_EQ(pool.BlockCount(), 2u);
    EXPECT_EQ(pool.FreeCount(), 31u);
    std::set<Counted*> unique(objects.begin(), objects.end());
    unique.insert(extra);
    EXPECT_EQ(unique.size(), 33u);

    Counted* released = objects[5];
    pool.Release(released);
    EXPECT_EQ(Counted::destroyed, std::vector<int>{5});
    Counted* again = pool.Allocate(100);
    EXPECT_EQ(again, released);
    EXPECT_EQ(again->id, 100);
    EXPECT_EQ(pool.BlockCount(), 2u);
}

TEST_F(MemoryPool, ClearDestroysEveryLiveObjectAndLaterReleaseIsIgnored) {
    std::vector<Counted*> objects;
    for (int i = 0; i < 40; ++i) objects.push_back(pool.Allocate(i));
    pool.Release(objects[0]);
    Counted::destroyed.clear();
    pool.Clear();
    EXPECT_EQ(Counted::alive, 0);
    EXPECT_EQ(Counted::destroyed.size(), 39u);
    EXPECT_EQ(pool.BlockCount(), 0u);
    EXPECT_EQ(pool.FreeCount(), 0u);
    // A stale release neither destroys again nor corrupts the free list.
    pool.Release(objects[3]);
    EXPECT_EQ(Counted::destroyed.size(), 39u);
    EXPECT_EQ(pool.FreeCount(), 0u);
    Counted* fresh = pool.Allocate(7);
    EXPECT_EQ(pool.BlockCount(), 1u);
    EXPECT_EQ(pool.FreeCount(), 31u);
    EXPECT_TRUE(pool.IsLive(fresh));
}

TEST_F(MemoryPool, DoubleReleaseAndForeignPointersAreIgnored) {
    Counted* a = pool.Allocate(1);
    pool.Release(a);
    pool.Release(a);
    EXPECT_EQ(Counted::destroyed.size(), 1u);
    EXPECT_EQ(pool.FreeCount(), 32u);
    Counted outside(9);
    pool.Release(&outside);
    EXPECT_EQ(Counted::destroyed.size(), 1u);
    pool.Release(nullptr);
}

TEST_F(MemoryPool, ManyBlocksReleaseEachObjectOnceInAnyOrder) {
    std::vector<Counted*> objects;
    for (int i = 0; i < 32 * 7 + 5; ++i) objects.push_back(pool.Allocate(i));
    EXPECT_EQ(pool.BlockCount(), 8u);
    // A pointer inside a slot but not at its start is no object of the pool.
    pool.Release(reinterpret_cast<Counted*>(reinterpret_cast<char*>(objects[40]) + 1));
    EXPECT_EQ(Counted::alive, 32 * 7 + 5);
    // Interleaved order across blocks: every object is found in its own block.
    for (std::size_t step : {3u, 1u}) {
        for (std::size_t i = 0; i < objects.size(); i += step) {
            if (!objects[i]) continue;
            EXPECT_TRUE(pool.IsLive(objects[i]));
            pool.Release(objects[i]);
            EXPECT_FALSE(pool.IsLive(objects[i]));
            objects[i] = nullptr;
        }
    }
    EXPECT_EQ(Counted::alive, 0);
    std::set<int> unique(Counted::destroyed.begin(), Counted::destroyed.end());
    EXPECT_EQ(unique.size(), Counted::destroyed.size());
    EXPECT_EQ(pool.FreeCount(), 32u * 8u);
}

TEST_F(MemoryPool, ThrowingConstructorGivesTheSlotBack) {
    Counted* a = pool.Allocate(1);
    EXPECT_THROW(pool.Allocate(-1), std::runtime_error);
    EXPECT_EQ(pool.FreeCount(), 31u);
    Counted* b = pool.Allocate(2);
    EXPECT_EQ(reinterpret_cast<Pool::chunk*>(b) + 1, reinterpret_cast<Pool::chunk*>(a));
}

TEST_F(MemoryPool, DestructionOfThePoolDestroysLiveObjects) {
    {
        Pool local;
        for (int i = 0; i < 33; ++i) local.Allocate(i);
    }
    EXPECT_EQ(Counted::alive, 0);
}

TEST(Vector, ReservesAndBehavesLikeAGrowableArray) {
    VORTALEX::vector<int> v;
    EXPECT_GE(v.capacity(), 100u);
    VORTALEX::vector<int, 8> small{1, 2, 3};
    EXPECT_GE(small.capacity(), 8u);
    EXPECT_EQ(small.size(), 3u);
    std::vector<int>* base = new VORTALEX::vector<int>{4, 5};
    EXPECT_EQ(base->at(1), 5);
    delete static_cast<VORTALEX::vector<int>*>(base);
}

}  // namespace

// The render queue sorts each frame's objects at once; the order must be the
// one that inserting them one by one with the sorted list's binary search
// gives, equal keys included. Here against that insertion itself, done the
// slow way, on random keys with many ties.
#include "engine_support/ObjectTestClasses.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "QueueRendering/InsertionOrder.h"
#include "QueueRendering/QueueRendering.h"
#include "Render/Camera/BaseCamera.h"
#include "spine_support/FakeDirect3D.h"

namespace {

// One key at a time: binary search that stops at the first equal key it
// probes, else ends where the key belongs; insert there.
std::vector<uint32_t> InsertOneByOne(const std::vector<float>& keys)
{
    std::vector<float> sorted;
    std::vector<uint32_t> order;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        std::size_t lo = 0, hi = sorted.size();
        while (lo != hi) {
            const std::size_t mid = (lo + hi) / 2;
            if (sorted[mid] == keys[i]) {
                lo = mid;
                break;
            }
            if (keys[i] < sorted[mid]) hi = mid;
            else lo = mid + 1;
        }
        sorted.insert(sorted.begin() + static_cast<std::ptrdiff_t>(lo), keys[i]);
        order.insert(order.begin() + static_cast<std::ptrdiff_t>(lo), static_cast<uint32_t>(i));
    }
    return order;
}

std::vector<uint32_t> AllAtOnce(C_InsertionOrder& ordering, const std::vector<float>& keys)
{
    std::vector<uint32_t> order;
    ordering.Compute(keys.data(), keys.size(), order);
    return order;
}

std::vector<float> RandomKeys(std::mt19937& random, std::size_t count, int distinct)
{
    std::uniform_int_distribution<int> pick(0, distinct - 1);
    std::vector<float> keys(count);
    for (float& key : keys) key = static_cast<float>(pick(random)) * 0.5f - 3.0f;
    return keys;
}

} // namespace

TEST(InsertionOrder, RandomKeysWithAndWithoutTiesComeOutAsInsertedOneByOne)
{
    C_InsertionOrder ordering;   // reused, as a queue reuses it every frame
    std::mt19937 random(20240611);
    for (std::size_t count : {0u, 1u, 2u, 3u, 7u, 16u, 33u, 100u, 257u, 1000u, 4099u}) {
        for (int distinct : {1, 2, 3, 5, 17, 100, 1 << 30}) {
            const std::vector<float> keys = RandomKeys(random, count, distinct);
            ASSERT_EQ(AllAtOnce(ordering, keys), InsertOneByOne(keys)) << count << " keys, " << distinct << " values";
        }
    }
}

TEST(InsertionOrder, FrameAfterFrameEachAnswerFollowsItsOwnKeys)
{
    // A still scene gives the same keys every frame; a moved object or
    // camera changes one key or swaps two, and the order must follow.
    C_InsertionOrder ordering;
    std::mt19937 random(77);
    std::vector<float> keys = RandomKeys(random, 600, 40);
    const std::vector<uint32_t> first = InsertOneByOne(keys);
    for (int frame = 0; frame < 3; ++frame) ASSERT_EQ(AllAtOnce(ordering, keys), first);
    std::vector<float> moved = keys;
    moved[10] = moved[10] + 0.25f;
    EXPECT_EQ(AllAtOnce(ordering, moved), InsertOneByOne(moved));
    std::vector<float> swapped = keys;
    std::swap(swapped[3], swapped[500]);
    ASSERT_NE(swapped, keys);
    EXPECT_EQ(AllAtOnce(ordering, swapped), InsertOneByOne(swapped));
    EXPECT_EQ(AllAtOnce(ordering, keys), first);
    // One object fewer, one more, none.
    std::vector<float> fewer(keys.begin(), keys.end() - 1), more = keys;
    more.push_back(keys[7]);
    EXPECT_EQ(AllAtOnce(ordering, fewer), InsertOneByOne(fewer));
    EXPECT_EQ(AllAtOnce(ordering, more), InsertOneByOne(more));
    EXPECT_TRUE(AllAtOnce(ordering, {}).empty());
    EXPECT_EQ(AllAtOnce(ordering, {2.0f, 1.0f}), (std::vector<uint32_t>{1, 0}));
    EXPECT_EQ(AllAtOnce(ordering, {1.0f, 2.0f}), (std::vector<uint32_t>{0, 1}));
}

TEST(InsertionOrder, TiesAmongRunsOfSortedAndReversedArrivals)
{
    C_InsertionOrder ordering;
    std::vector<float> rising, falling, plateaus, equal(5000, 7.0f);
    for (int i = 0; i < 3000; ++i) {
        rising.push_back(static_cast<float>(i / 7));
        falling.push_back(static_cast<float>((3000 - i) / 5));
        plateaus.push_back(static_cast<float>((i % 300) / 60));
    }
    for (const auto* keys : {&rising, &falling, &plateaus, &equal})
        EXPECT_EQ(AllAtOnce(ordering, *keys), InsertOneByOne(*keys));
    // All equal: every arrival lands in the middle of the run so far.
    EXPECT_NE(AllAtOnce(ordering, equal), [] {
        std::vector<uint32_t> arrival(5000);
        for (uint32_t i = 0; i < 5000; ++i) arrival[i] = i;
        return arrival;
    }());
}

TEST(InsertionOrder, SignedZerosInfinitiesAndNaNFollowTheComparisons)
{
    C_InsertionOrder ordering;
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    // -0 and +0 are equal keys; infinities sort at the ends.
    const std::vector<float> zeros = {0.0f, -0.0f, 1.0f, -0.0f, 0.0f, -inf, inf, 0.0f, -1.0f, -0.0f, inf, -inf, 0.0f};
    EXPECT_EQ(AllAtOnce(ordering, zeros), InsertOneByOne(zeros));
    // A NaN compares false with everything and leaves the list unsorted; the
    // order is still the one the insertion gives.
    std::mt19937 random(5);
    std::vector<float> withNan = RandomKeys(random, 300, 9);
    for (std::size_t i = 0; i < withNan.size(); i += 23) withNan[i] = nan;
    EXPECT_EQ(AllAtOnce(ordering, withNan), InsertOneByOne(withNan));
    EXPECT_EQ(AllAtOnce(ordering, {nan, nan, 1.0f, nan}), InsertOneByOne({nan, nan, 1.0f, nan}));
}

TEST(InsertionOrder, TheSearchStopsAtTheFirstEqualProbe)
{
    // Three keys below, four equal, two above: probes 4 (equal) at once.
    EXPECT_EQ(C_InsertionOrder::SearchPosition(3, 4, 9), 4u);
    // Two below, two equal, five above: 4 (above), then 2 (equal).
    EXPECT_EQ(C_InsertionOrder::SearchPosition(2, 2, 9), 2u);
    // No equal key: where it belongs.
    EXPECT_EQ(C_InsertionOrder::SearchPosition(5, 0, 9), 5u);
    EXPECT_EQ(C_InsertionOrder::SearchPosition(0, 0, 0), 0u);
    EXPECT_EQ(C_InsertionOrder::SearchPosition(9, 0, 9), 9u);
}

// ---------------------------------------------------------------------------
// Through the queue: objects at tied distances are drawn in that order.

namespace {
std::vector<const C_BaseObject*> g_drawn;
}

class OrderItem : public C_BaseResource, public ContainedInModule {
    TW_POOLED_CLASS(OrderItem)
public:
    float GetDistance(C_BaseObject*) override { return Distance; }
    void Draw(IDirect3DDevice9*) override { g_drawn.push_back(this); }
    float Distance = 0.0f;
};

class OrderCamera : public C_BaseCamera {
    TW_POOLED_CLASS(OrderCamera)
public:
    void Draw(IDirect3DDevice9*) override {}
};

TW_REGISTER_CLASS_AS(OrderItem, "OrderTestItem")
TW_REGISTER_CLASS_AS(OrderCamera, "OrderTestCamera")

class QueueOrderTest : public ObjectModelTest {
protected:
    void SetUp() override
    {
        ObjectModelTest::SetUp();
        queue().ClearQueues();
        C_BaseObject::CommonData().RenderPass = 0;
        C_QueueRendering::InstallInsert();
    }
    void TearDown() override
    {
        queue().ClearQueues();
        ObjectModelTest::TearDown();
    }
    static C_QueueRendering& queue() { return C_QueueRendering::Instance(); }

    std::vector<OrderItem*> MakeItems(const std::vector<float>& distances)
    {
        std::vector<OrderItem*> items;
        for (std::size_t i = 0; i < distances.size(); ++i) {
            auto* item = static_cast<OrderItem*>(
                Managers().AddResource(L"OrderTestItem", (L"item" + std::to_wstring(i)).c_str(), L""));
            item->Distance = distances[i];
            items.push_back(item);
        }
        return items;
    }
    std::vector<const C_BaseObject*> DrawnMainPass()
    {
        g_drawn.clear();
        queue().Draw(&device);
        return g_drawn;
    }
    // The main pass draws the sorted list from its end.
    static std::vector<const C_BaseObject*> BackToFront(const std::vector<OrderItem*>& items,
                                                        const std::vector<uint32_t>& order)
    {
        std::vector<const C_BaseObject*> drawn;
        for (auto i = order.rbegin(); i != order.rend(); ++i) drawn.push_back(items[*i]);
        return drawn;
    }

    FakeDevice device;
};

TEST_F(QueueOrderTest, TiedDistancesAreDrawnInTheOrderOfOneByOneInsertion)
{
    std::mt19937 random(77);
    std::vector<float> distances = RandomKeys(random, 600, 12);
    const std::vector<OrderItem*> items = MakeItems(distances);
    queue().Add(Managers().AddResource(L"OrderTestCamera", L"cam", L""));
    for (OrderItem* item : items) queue().Add(item);
    EXPECT_EQ(DrawnMainPass(), BackToFront(items, InsertOneByOne(distances)));
    // Drawn again without new objects: the same order.
    EXPECT_EQ(DrawnMainPass(), BackToFront(items, InsertOneByOne(distances)));
}

TEST_F(QueueOrderTest, ObjectsQueuedAfterAPassJoinTheSortedListOneByOne)
{
    std::vector<float> distances = {4, 1, 4, 9, 4, 1, 0, 9, 4, 4};
    const std::vector<OrderItem*> items = MakeItems(distances);
    queue().Add(Managers().AddResource(L"OrderTestCamera", L"cam", L""));
    for (std::size_t i = 0; i < 6; ++i) queue().Add(items[i]);
    DrawnMainPass();
    for (std::size_t i = 6; i < items.size(); ++i) queue().Add(items[i]);
    EXPECT_EQ(DrawnMainPass(), BackToFront(items, InsertOneByOne(distances)));
}

TEST_F(QueueOrderTest, FramesWithOtherCamerasAndObjectsDrawOnlyTheirOwnObjects)
{
    // Queues keep their room and orderings from frame to frame; nothing of
    // a previous frame may show in the next one, whatever its cameras.
    std::mt19937 random(11);
    std::vector<float> distances = RandomKeys(random, 90, 7);
    const std::vector<OrderItem*> items = MakeItems(distances);
    C_BaseObject* first = Managers().AddResource(L"OrderTestCamera", L"first", L"");
    C_BaseObject* second = Managers().AddResource(L"OrderTestCamera", L"second", L"");
    const std::vector<float> a(distances.begin(), distances.begin() + 50);
    const std::vector<float> b(distances.begin() + 50, distances.end());
    const std::vector<OrderItem*> itemsA(items.begin(), items.begin() + 50), itemsB(items.begin() + 50, items.end());
    for (int frame = 0; frame < 3; ++frame) {
        queue().Add(first);
        for (OrderItem* item : itemsA) queue().Add(item);
        queue().Add(second);
        for (OrderItem* item : itemsB) queue().Add(item);
        std::vector<const C_BaseObject*> expected = BackToFront(itemsA, InsertOneByOne(a));
        for (const C_BaseObject* object : BackToFront(itemsB, InsertOneByOne(b))) expected.push_back(object);
        ASSERT_EQ(DrawnMainPass(), expected) << "frame " << frame;
        queue().ClearQueues();
    }
    // One camera with the second half only, then the whole list with an
    // object moved: each frame its own order.
    queue().Add(first);
    for (OrderItem* item : itemsB) queue().Add(item);
    EXPECT_EQ(DrawnMainPass(), BackToFront(itemsB, InsertOneByOne(b)));
    queue().ClearQueues();
    items[3]->Distance = 100.0f;
    distances[3] = 100.0f;
    queue().Add(first);
    for (OrderItem* item : items) queue().Add(item);
    EXPECT_EQ(DrawnMainPass(), BackToFront(items, InsertOneByOne(distances)));
    queue().ClearQueues();
    // No objects at all.
    queue().Add(first);
    EXPECT_TRUE(DrawnMainPass().empty());
}

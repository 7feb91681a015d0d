#pragma once
// The order that inserting keys one at a time with the sorted list's binary
// search gives (C_VectorSort: stop at the first probe with an equal key and
// insert before it, else insert where the search ends), computed for a whole
// frame's worth of keys at once in O(n log n) instead of O(n^2) element moves.
//
// Ascending keys come out sorted; the place of an equal key depends on the
// search path, which depends only on how many earlier keys were smaller,
// equal and larger. That offset inside its run of equal keys is replayed per
// key, and each run is rebuilt from the offsets.

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

class C_InsertionOrder {
public:
    // `order` receives the indices 0..count-1 of `keys` (given in arrival
    // order) in the order the one-at-a-time insertion leaves them. Keys that
    // are not numbers (NaN) break the sorted list's invariant; they are
    // inserted literally, one by one, as the list would.
    void Compute(const float* keys, std::size_t count, std::vector<uint32_t>& order);

    // Where the binary search puts a key that arrives when `smaller` keys
    // below it, `equal` keys equal to it and `total` keys in all are listed.
    static std::size_t SearchPosition(std::size_t smaller, std::size_t equal, std::size_t total);

private:
    void Literal(const float* keys, std::size_t count, std::vector<uint32_t>& order);
    void Ordered(const float* keys, std::size_t count, std::vector<uint32_t>& order);

    // Scratch kept between frames so that a frame allocates nothing.
    std::vector<uint32_t> m_rank;      // dense rank of each key by value
    std::vector<uint32_t> m_offset;    // offset inside its run at arrival
    std::vector<uint32_t> m_tree;      // Fenwick tree of counts
    std::vector<uint32_t> m_runSize;   // keys of each rank
    std::vector<uint32_t> m_seen;      // arrivals of each rank so far
    std::vector<uint32_t> m_slots;     // run rebuilding
    std::vector<float> m_keys;         // literal insertion
    std::vector<std::pair<float, uint32_t>> m_pairs;   // key and arrival, sorted
    // The previous call's keys, bit for bit, and its answer: a scene where
    // neither the camera nor the objects moved gives the same keys again.
    std::vector<float> m_lastKeys;
    std::vector<uint32_t> m_lastOrder;
};

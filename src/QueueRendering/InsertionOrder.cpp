#include "QueueRendering/InsertionOrder.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// Fenwick (binary indexed) tree over counts, 1-based inside.
void TreeReset(std::vector<uint32_t>& tree, std::size_t size)
{
    tree.assign(size + 1, 0);
}

void TreeAdd(std::vector<uint32_t>& tree, std::size_t index, uint32_t value)
{
    for (std::size_t i = index + 1; i < tree.size(); i += i & (~i + 1)) tree[i] += value;
}

// Sum of the counts at indices below `index`.
uint32_t TreePrefix(const std::vector<uint32_t>& tree, std::size_t index)
{
    uint32_t sum = 0;
    for (std::size_t i = index; i > 0; i -= i & (~i + 1)) sum += tree[i];
    return sum;
}

// The index holding the (k+1)-th count of one (k counted from 0).
std::size_t TreeFind(const std::vector<uint32_t>& tree, uint32_t k)
{
    std::size_t position = 0;
    std::size_t step = 1;
    while (step * 2 < tree.size()) step *= 2;
    for (; step > 0; step /= 2) {
        if (position + step < tree.size() && tree[position + step] <= k) {
            position += step;
            k -= tree[position];
        }
    }
    return position;   // 1-based position + 1 - 1
}

} // namespace

std::size_t C_InsertionOrder::SearchPosition(std::size_t smaller, std::size_t equal, std::size_t total)
{
    // The list holds `smaller` keys below, then the run of equal keys, then
    // larger ones; the search compares only against those.
    const std::size_t runEnd = smaller + equal;
    std::size_t low = 0, high = total;
    while (low != high) {
        const std::size_t middle = (low + high) / 2;
        if (middle >= smaller && middle < runEnd) return middle;
        if (middle >= runEnd) high = middle;
        else low = middle + 1;
    }
    return low;
}

void C_InsertionOrder::Literal(const float* keys, std::size_t count, std::vector<uint32_t>& order)
{
    order.clear();
    m_keys.clear();
    for (std::size_t i = 0; i < count; ++i) {
        const float key = keys[i];
        std::size_t low = 0, high = m_keys.size();
        while (low != high) {
            const std::size_t middle = (low + high) / 2;
            if (m_keys[middle] == key) {
                low = middle;
                break;
            }
            if (key < m_keys[middle]) high = middle;
            else low = middle + 1;
        }
        m_keys.insert(m_keys.begin() + static_cast<std::ptrdiff_t>(low), key);
        order.insert(order.begin() + static_cast<std::ptrdiff_t>(low), static_cast<uint32_t>(i));
    }
}

void C_InsertionOrder::Compute(const float* keys, std::size_t count, std::vector<uint32_t>& order)
{
    if (count == m_lastKeys.size() && (count == 0 || std::memcmp(keys, m_lastKeys.data(), count * sizeof(float)) == 0)) {
        order = m_lastOrder;
        return;
    }
    Ordered(keys, count, order);
    m_lastKeys.assign(keys, keys + count);
    m_lastOrder = order;
}

void C_InsertionOrder::Ordered(const float* keys, std::size_t count, std::vector<uint32_t>& order)
{
    for (std::size_t i = 0; i < count; ++i)
        if (std::isnan(keys[i])) {
            Literal(keys, count, order);
            return;
        }

    // Ascending keys; equal keys in arrival order for now. Sorted as pairs
    // beside each other rather than indices into the keys, which would be
    // looked up far apart at every comparison.
    m_pairs.resize(count);
    for (std::size_t i = 0; i < count; ++i) m_pairs[i] = {keys[i], static_cast<uint32_t>(i)};
    std::sort(m_pairs.begin(), m_pairs.end(), [](const std::pair<float, uint32_t>& a, const std::pair<float, uint32_t>& b) {
        return a.first < b.first || (!(b.first < a.first) && a.second < b.second);
    });
    order.resize(count);
    for (std::size_t i = 0; i < count; ++i) order[i] = m_pairs[i].second;

    // Dense ranks; without equal keys the sorted order is the answer.
    m_rank.resize(count);
    m_runSize.clear();
    bool ties = false;
    uint32_t rank = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) {
            if (keys[order[i - 1]] < keys[order[i]]) ++rank;
            else ties = true;
        }
        m_rank[order[i]] = rank;
        if (m_runSize.size() <= rank) m_runSize.push_back(0);
        ++m_runSize[rank];
    }
    if (!ties) return;

    // Replay each arrival's search: its offset inside its run of equal keys.
    // A key without equals has offset 0; the others count the earlier
    // arrivals below them and equal to them.
    m_offset.resize(count);
    m_seen.assign(static_cast<std::size_t>(rank) + 1, 0);
    TreeReset(m_tree, static_cast<std::size_t>(rank) + 1);
    for (std::size_t i = 0; i < count; ++i) {
        const uint32_t r = m_rank[i];
        if (m_runSize[r] > 1) {
            const uint32_t smaller = TreePrefix(m_tree, r);
            m_offset[i] = static_cast<uint32_t>(SearchPosition(smaller, m_seen[r], i) - smaller);
            ++m_seen[r];
        } else {
            m_offset[i] = 0;
        }
        TreeAdd(m_tree, r, 1);
    }

    // Rebuild every run: taken backwards, each member goes to the free slot
    // whose number of free slots before it is its offset.
    for (std::size_t begin = 0; begin < count;) {
        std::size_t end = begin + 1;
        while (end < count && m_rank[order[end]] == m_rank[order[begin]]) ++end;
        const std::size_t size = end - begin;
        if (size == 1) {
            begin = end;
            continue;
        }
        bool appended = true;   // every member went to the end of the run
        for (std::size_t m = 0; m < size && appended; ++m) appended = m_offset[order[begin + m]] == m;
        if (!appended) {
            m_slots.assign(order.begin() + static_cast<std::ptrdiff_t>(begin),
                           order.begin() + static_cast<std::ptrdiff_t>(end));
            TreeReset(m_tree, size);
            for (std::size_t s = 0; s < size; ++s) TreeAdd(m_tree, s, 1);
            for (std::size_t m = size; m-- > 0;) {
                const std::size_t slot = TreeFind(m_tree, m_offset[m_slots[m]]);
                order[begin + slot] = m_slots[m];
                TreeAdd(m_tree, slot, static_cast<uint32_t>(-1));
            }
        }
        begin = end;
    }
}

#pragma once
// An array kept sorted by a key taken from each element by a static function,
// with binary-search lookup and insertion. It remembers where its last search
// ended: the match, or the insertion point when there is none.

#include <cstddef>
#include <vector>

template <class T, class Key, auto KeyFunction, std::size_t N>
class C_VectorSort : public std::vector<T> {
public:
    C_VectorSort() { this->reserve(N); }
    virtual ~C_VectorSort() = default;

    // Binary search for `key`; true when an element with that key exists.
    // Afterwards GetPosition() is the match or the insertion point.
    bool Search(const Key& key)
    {
        std::size_t low = 0;
        std::size_t high = this->size();
        while (low < high) {
            const std::size_t middle = (low + high) / 2;
            const auto& middleKey = KeyFunction((*this)[middle]);
            if (key == middleKey) {
                m_Position = middle;
                return true;
            }
            if (middleKey < key) low = middle + 1;
            else high = middle;
        }
        m_Position = low;
        return false;
    }

    // The element with `key`, or a value-initialised T (null for pointers).
    T Lookup(const Key& key) { return Search(key) ? (*this)[m_Position] : T{}; }

    // Inserts at the key's position (before an equal key when one exists).
    std::size_t Insert(const T& value)
    {
        Search(KeyFunction(value));
        this->insert(this->begin() + static_cast<std::ptrdiff_t>(m_Position), value);
        return m_Position;
    }

    // Removes the element at `index`.
    void RemoveAt(std::size_t index)
    {
        this->erase(this->begin() + static_cast<std::ptrdiff_t>(index));
    }

    std::size_t GetPosition() const { return m_Position; }

private:
    std::size_t m_Position = 0;
};

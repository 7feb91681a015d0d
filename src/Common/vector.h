#pragma once
// The library's growable array: a std::vector that reserves room for N
// elements when created and can be held and destroyed through a base pointer.

#include <cstddef>
#include <initializer_list>
#include <vector>

namespace VORTALEX {

template <class T, std::size_t N = 100>
class vector : public std::vector<T> {
public:
    vector() { this->reserve(N); }
    vector(std::initializer_list<T> items) {
        this->reserve(N > items.size() ? N : items.size());
        this->insert(this->end(), items.begin(), items.end());
    }
    vector(const vector&) = default;
    vector(vector&&) noexcept = default;
    vector& operator=(const vector&) = default;
    vector& operator=(vector&&) noexcept = default;
    virtual ~vector() = default;
};

}  // namespace VORTALEX

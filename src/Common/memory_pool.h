#pragma once
// Per-class object pool: objects of one class live in fixed slots of blocks
// of N, so loading and unloading a scene does not hit the general heap object
// by object, and an object's address (its ID) never changes while it lives.

#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <new>
#include <utility>
#include <vector>

namespace VORTALEX {

// One block of N slots. Further blocks hang behind the first one.
template <class T, std::size_t N>
class memory_pool;

template <class T, std::size_t N = 32>
class base_memory_pool {
    friend class memory_pool<T, N>;

public:
    // A slot: room for one T followed by the free-list link and the free flag.
    // The T lives at the start of the slot, so a T* converts back to its chunk.
    struct chunk {
        alignas(T) unsigned char storage[sizeof(T)];
        chunk* next_free;
        bool free;

        T* object() { return std::launder(reinterpret_cast<T*>(storage)); }
    };

    base_memory_pool() = default;
    base_memory_pool(const base_memory_pool&) = delete;
    base_memory_pool& operator=(const base_memory_pool&) = delete;
    virtual ~base_memory_pool() { TearDown(); }

protected:
    // Destroys every live object of this block and of the blocks behind it,
    // frees their storage and leaves this block without a slot array.
    void TearDown() {
        if (slots_) {
            for (std::size_t i = 0; i < N; ++i) {
                if (!slots_[i].free) {
                    slots_[i].free = true;
                    slots_[i].object()->~T();
                }
            }
            ::operator delete(static_cast<void*>(slots_), std::align_val_t(alignof(chunk)));
            slots_ = nullptr;
        }
        if (next_) {
            base_memory_pool* next = next_;
            next_ = nullptr;
            delete next;
        }
    }

    // Allocates the slot array and pushes every slot onto the free list in
    // index order, so the highest index is handed out first.
    void MakeSlots(chunk*& free_head) {
        slots_ = static_cast<chunk*>(
            ::operator new(sizeof(chunk) * N, std::align_val_t(alignof(chunk))));
        for (std::size_t i = 0; i < N; ++i) {
            slots_[i].free = true;
            slots_[i].next_free = free_head;
            free_head = &slots_[i];
        }
    }

    base_memory_pool* next_ = nullptr;
    chunk* slots_ = nullptr;
};

// The pool of class T: one per class (Instance), with a class-wide free list.
template <class T, std::size_t N = 32>
class memory_pool : public base_memory_pool<T, N> {
    using base = base_memory_pool<T, N>;

public:
    using chunk = typename base::chunk;

    ~memory_pool() override {
        this->TearDown();
        free_head_ = nullptr;
        blocks_.clear();
    }

    static memory_pool& Instance() {
        static memory_pool pool;
        return pool;
    }

    // Takes a slot and constructs T in it. Should the constructor throw, the
    // slot goes back to the free list unharmed.
    template <class... Args>
    T* Allocate(Args&&... args) {
        chunk* c = TakeSlot();
        try {
            T* object = ::new (static_cast<void*>(c->storage)) T(std::forward<Args>(args)...);
            c->next_free = nullptr;
            c->free = false;
            return object;
        } catch (...) {
            c->free = true;
            c->next_free = free_head_;
            free_head_ = c;
            throw;
        }
    }

    // Destroys the object and makes its slot the next one handed out. A
    // pointer that is not a live object of this pool (for example one whose
    // pool was cleared meanwhile, so ClearPool already destroyed it) is left
    // alone rather than destroyed a second time.
    void Release(T* object) {
        if (!object) return;
        chunk* c = Locate(object);
        if (!c || c->free) return;
        c->free = true;
        object->~T();
        c->next_free = free_head_;
        free_head_ = c;
    }

    // Destroys every object of the class and returns all blocks.
    void Clear() {
        this->TearDown();
        free_head_ = nullptr;
        blocks_.clear();
    }

    // Number of blocks that hold a slot array (for diagnostics and tests).
    std::size_t BlockCount() const {
        std::size_t n = 0;
        for (const base* b = this; b; b = b->next_) n += b->slots_ ? 1 : 0;
        return n;
    }

    std::size_t FreeCount() const {
        std::size_t n = 0;
        for (const chunk* c = free_head_; c; c = c->next_free) ++n;
        return n;
    }

    bool IsLive(const T* object) const {
        const chunk* c = Locate(object);
        return c && !c->free;
    }

private:
    chunk* TakeSlot() {
        if (!this->slots_) {
            this->MakeSlots(free_head_);
            Remember(this->slots_);
        }
        if (!free_head_) {
            // A new block goes directly behind the first one.
            base* block = new base;
            block->next_ = this->next_;
            this->next_ = block;
            block->MakeSlots(free_head_);
            Remember(block->slots_);
        }
        chunk* c = free_head_;
        free_head_ = c->next_free;
        c->free = false;
        return c;
    }

    // Slot arrays sorted by address, so finding the slot of an object costs
    // a binary search instead of a walk over every block: releasing all
    // objects of a large scene stays linear-logarithmic.
    void Remember(chunk* slots) {
        blocks_.insert(std::upper_bound(blocks_.begin(), blocks_.end(), slots), slots);
    }

    chunk* Locate(const void* p) const {
        const auto address = reinterpret_cast<std::uintptr_t>(p);
        auto it = std::upper_bound(blocks_.begin(), blocks_.end(), address,
                                   [](std::uintptr_t a, chunk* b) {
                                       return a < reinterpret_cast<std::uintptr_t>(b);
                                   });
        if (it == blocks_.begin()) return nullptr;
        chunk* first = *--it;
        const std::uintptr_t offset = address - reinterpret_cast<std::uintptr_t>(first);
        if (offset >= sizeof(chunk) * N || offset % sizeof(chunk) != 0) return nullptr;
        return first + offset / sizeof(chunk);
    }

    chunk* free_head_ = nullptr;
    std::vector<chunk*> blocks_;
};

}  // namespace VORTALEX

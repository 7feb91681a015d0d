#pragma once
// Wrapper pattern: a wrapper owns one implementation object chosen by name
// from a registry when it is constructed, so the library behind an
// interface can be exchanged without touching callers. Implementations live
// in their own pool of 32 objects and register themselves during static
// initialisation with VORTALEX_REGISTER_IMPLEMENTATION.

#include <map>
#include <string>
#include <string_view>

#include "Common/memory_pool.h"

namespace VORTALEX::wrappers {

class IBaseInterface {
public:
    virtual ~IBaseInterface() = default;
    // The name the implementation is registered under; empty for the base.
    virtual std::wstring GetName() const { return {}; }
    // Destroys the object and returns its memory to where it came from.
    virtual void Release() { delete this; }
    // Frees the implementation's whole pool.
    virtual void DestroyPool() {}
};

using ImplementationFactory = IBaseInterface* (*)();

class WrapperRegistry {
public:
    // Adds name; an existing entry of the same name stays (the first wins).
    // Returns true when this call added it.
    static bool Register(std::wstring_view name, ImplementationFactory factory);
    // A new implementation object, or null for an unknown name.
    static IBaseInterface* Create(std::wstring_view name);
    static bool IsRegistered(std::wstring_view name);

private:
    static std::map<std::wstring, ImplementationFactory, std::less<>>& Map();
};

// Owns one implementation. Throws std::exception with the text
// "Wrapper: выбранная библиотека недоступна." for a name that isn't
// registered or whose factory gives nothing.
class Wrapper {
public:
    explicit Wrapper(std::wstring_view implementationName);
    Wrapper(const Wrapper&) = delete;
    Wrapper& operator=(const Wrapper&) = delete;
    virtual ~Wrapper();

protected:
    IBaseInterface* implementation_;
};

// Base of pooled implementations: Release returns the object to the pool of
// Impl, DestroyPool clears that pool, Create is the registry's factory.
template <class Impl, class Interface>
class PooledImplementation : public Interface {
public:
    using Pool = memory_pool<Impl, 32>;

    void Release() override { Pool::Instance().Release(static_cast<Impl*>(this)); }
    void DestroyPool() override { Pool::Instance().Clear(); }
    static IBaseInterface* Create() { return Pool::Instance().Allocate(); }
};

}  // namespace VORTALEX::wrappers

// Registers Impl (a PooledImplementation) under Name during static
// initialisation. Use at namespace scope in the implementation's .cpp; the
// wrapper's own translation unit should reference something of that .cpp
// (for example a function that returns Name) so a static link keeps it.
#define VORTALEX_REGISTER_IMPLEMENTATION(Impl, Name)                                  \
    namespace {                                                                       \
    [[maybe_unused]] const bool vortalex_registered_##Impl =                          \
        ::VORTALEX::wrappers::WrapperRegistry::Register(Name, &Impl::Create);         \
    }

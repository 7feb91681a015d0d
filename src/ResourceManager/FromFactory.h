#pragma once
// The class registry: class names, as module files and scripts write them,
// mapped to creation functions. Every registered class allocates its objects
// from its own pool of 32-object blocks. One macro pair gives a class its
// five pieces: creation function, ReleaseToPool, ClearPool, the registration
// function and GetClassName.

#include <map>
#include <string>
#include <vector>

#include "Common/memory_pool.h"

class C_BaseObject;

using CreateObjectFunction = C_BaseObject* (*)();

// Creates one object by class name; constructed on the stack, used once.
class C_FromFactory {
public:
    explicit C_FromFactory(const wchar_t* className);
    virtual ~C_FromFactory() = default;

    // Null for an empty or unregistered class name.
    C_BaseObject* Create() const;

    // Inserts the class; an existing entry of the same name stays.
    static void Register(const wchar_t* className, CreateObjectFunction create);
    static bool IsRegistered(const std::wstring& className);
    static std::vector<std::wstring> RegisteredNames();

private:
    std::wstring m_ClassName;
};

// The pool side of one class T.
template <class T>
class C_ClassPool {
public:
    using Pool = VORTALEX::memory_pool<T, 32>;

    static Pool& GetPool() { return Pool::Instance(); }
    static T* Create() { return GetPool().Allocate(); }
    static void Release(T* object) { GetPool().Release(object); }
    static void Clear() { GetPool().Clear(); }

    // Registers the class once; later calls change nothing.
    static bool Register(const wchar_t* className, CreateObjectFunction create)
    {
        if (!s_Registered) {
            C_FromFactory::Register(className, create);
            s_Registered = true;
        }
        return s_Registered;
    }

private:
    static inline bool s_Registered = false;
};

// Inside the class body of a pooled class T.
#define TW_POOLED_CLASS(T)                          \
public:                                             \
    const wchar_t* GetClassName() override;         \
    void ReleaseToPool() override;                  \
    void ClearPool() override;                      \
    static C_BaseObject* CreateFromPool();          \
    static bool RegisterClass();

// In exactly one source file of class T; registers T under its own name (or
// under NAME) during static initialisation.
#define TW_REGISTER_CLASS(T) TW_REGISTER_CLASS_AS(T, #T)
#define TW_REGISTER_CLASS_AS(T, NAME)                                               \
    const wchar_t* T::GetClassName() { return L"" NAME; }                           \
    void T::ReleaseToPool() { C_ClassPool<T>::Release(this); }                      \
    void T::ClearPool() { C_ClassPool<T>::Clear(); }                                \
    C_BaseObject* T::CreateFromPool() { return C_ClassPool<T>::Create(); }          \
    bool T::RegisterClass() { return C_ClassPool<T>::Register(L"" NAME, &T::CreateFromPool); }          \
    [[maybe_unused]] static const bool tw_registered_##T = T::RegisterClass();

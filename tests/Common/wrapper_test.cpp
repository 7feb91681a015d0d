#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "Wrappers/Base/Wrapper.h"

using namespace VORTALEX::wrappers;

namespace {

class IGreeter : public IBaseInterface {
public:
    virtual std::wstring Greet() const = 0;
};

int g_alive = 0;

class implFirstGreeter : public PooledImplementation<implFirstGreeter, IGreeter> {
public:
    implFirstGreeter() { ++g_alive; }
    ~implFirstGreeter() override { --g_alive; }
    std::wstring GetName() const override { return L"implTestGreeter"; }
    std::wstring Greet() const override { return L"first"; }
};

class implSecondGreeter : public PooledImplementation<implSecondGreeter, IGreeter> {
public:
    std::wstring Greet() const override { return L"second"; }
};

}  // namespace

VORTALEX_REGISTER_IMPLEMENTATION(implFirstGreeter, L"implTestGreeter")

namespace {

class Greeter : public Wrapper {
public:
    explicit Greeter(const wchar_t* name) : Wrapper(name) {}
    std::wstring Greet() const { return static_cast<IGreeter*>(implementation_)->Greet(); }
    IBaseInterface* Raw() const { return implementation_; }
};

IBaseInterface* NoObject() { return nullptr; }

}  // namespace

TEST(WrapperRegistry, RegisteredDuringStaticInitialisationAndFirstRegistrationWins) {
    EXPECT_TRUE(WrapperRegistry::IsRegistered(L"implTestGreeter"));
    EXPECT_FALSE(WrapperRegistry::Register(L"implTestGreeter", &implSecondGreeter::Create));
    Greeter g(L"implTestGreeter");
    EXPECT_EQ(g.Greet(), L"first");
    EXPECT_EQ(g.Raw()->GetName(), L"implTestGreeter");
    EXPECT_EQ(WrapperRegistry::Create(L"implMissing"), nullptr);
}

TEST(WrapperRegistry, UnknownOrEmptyImplementationThrowsTheLibraryText) {
    try {
        Greeter g(L"implCryptoppAES");
        FAIL() << "no exception";
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "Wrapper: выбранная библиотека недоступна.");
    }
    WrapperRegistry::Register(L"implNothing", &NoObject);
    EXPECT_THROW(Greeter(L"implNothing"), std::exception);
}

TEST(WrapperRegistry, ImplementationsComeFromTheirPoolAndGoBackOnDestruction) {
    using Pool = VORTALEX::memory_pool<implFirstGreeter, 32>;
    const int before = g_alive;
    IBaseInterface* first = nullptr;
    {
        Greeter a(L"implTestGreeter");
        first = a.Raw();
        EXPECT_TRUE(Pool::Instance().IsLive(static_cast<implFirstGreeter*>(first)));
        EXPECT_EQ(g_alive, before + 1);
    }
    EXPECT_EQ(g_alive, before);
    Greeter b(L"implTestGreeter");
    EXPECT_EQ(b.Raw(), first);  // the released slot is the next one handed out
    EXPECT_EQ(Pool::Instance().BlockCount(), 1u);
}

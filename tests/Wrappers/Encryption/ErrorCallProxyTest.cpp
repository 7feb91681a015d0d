#include "Wrappers/Encryption/ErrorCallProxy.h"

#include "Logger/Logger.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

namespace {

class ErrorCallProxyTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        logger::Logger::Activate(logger::AllReports);
        logger::Logger::SetOption(logger::OptionEnable, L"1");
        logger::Logger::Activate(logger::Mock);
    }
    void TearDown() override { logger::Logger::Activate(logger::AllReports); }
};

// Reports a fixed error, so the logged text is known exactly.
class FixedProxy : public VORTALEX::ErrorCallProxy {
public:
    void GetErrorText(unsigned long& code, std::wstring& text) override
    {
        code = 87;
        text = L"Параметр задан неверно.";
    }
};

}  // namespace

TEST_F(ErrorCallProxyTest, SuccessLogsNothing)
{
    VORTALEX::WinAPICallProxy proxy;
    TW_GUARDED_CALL(proxy, 1);
    TW_GUARDED_CALL(proxy, -1);
    EXPECT_EQ(logger::Logger::Instance().MockText(), L"");
}

TEST_F(ErrorCallProxyTest, FailureLogsCodeAndTextAsAnError)
{
    FixedProxy fixed;
    EXPECT_THROW(TW_GUARDED_CALL(fixed, 0), std::exception);
    EXPECT_EQ(logger::Logger::Instance().MockText(), L"error:\t[Ошибка: 87] Параметр задан неверно.\n");

    VORTALEX::WinAPICallProxy system;
    errno = ENOENT;
    EXPECT_THROW(TW_GUARDED_CALL(system, 0), std::exception);
    const std::wstring log = logger::Logger::Instance().MockText();
    EXPECT_NE(log.find(L"error:\t[Ошибка: 2] No such file or directory\n"), std::wstring::npos) << log.size();
}

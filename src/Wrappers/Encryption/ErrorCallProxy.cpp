#include "Wrappers/Encryption/ErrorCallProxy.h"

#include "Common/CodePage.h"
#include "Logger/Logger.h"

#include <cerrno>
#include <cstring>

namespace VORTALEX {

void ErrorCallProxy::operator*(int result)
{
    if (result != 0)
        return;
    unsigned long code = 0;
    std::wstring text;
    GetErrorText(code, text);
    // Logged at the guarded call's position, not at this line.
    ::logger::Logger::Message message(::logger::Error, "error", m_line, m_path,
                                      "void __thiscall ErrorCallProxy::operator *(int)");
    message << L"[Ошибка: " << code << L"] " << text;
    message.Commit();
}

void WinAPICallProxy::GetErrorText(unsigned long& code, std::wstring& text)
{
    const int error = errno;
    code = static_cast<unsigned long>(error);
    char buffer[256] = {};
    // The GNU strerror_r returns the text, which need not be in buffer.
    const char* message = ::strerror_r(error, buffer, sizeof buffer);
    text = codepage::FromUtf8(message != nullptr ? message : "");
    for (std::size_t at; (at = text.find(L"\r\n")) != std::wstring::npos;)
        text.erase(at, 2);
}

}  // namespace VORTALEX

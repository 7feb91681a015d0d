#pragma once
// Turns the failure result of a guarded system call into a logged error (which the logger then
// throws). The caller names its source position right before each guarded call:
//     proxy.SetSource(__FILE__, __LINE__);
//     proxy * (::fsync(fd) == 0);

#include <string>

namespace VORTALEX {

class ErrorCallProxy {
public:
    virtual ~ErrorCallProxy() = default;
    void SetSource(const char* path, int line)
    {
        m_path = path != nullptr ? path : "";
        m_line = line;
    }
    // The code and text of the error the failed call left behind.
    virtual void GetErrorText(unsigned long& code, std::wstring& text) = 0;
    // result non-zero: success, nothing happens. Zero: logs "[Ошибка: code] text" as an error.
    virtual void operator*(int result);

protected:
    const char* m_path = "";
    int m_line = 0;
};

// The system's last error: errno and its strerror text.
class WinAPICallProxy : public ErrorCallProxy {
public:
    void GetErrorText(unsigned long& code, std::wstring& text) override;
};

}  // namespace VORTALEX

#define TW_GUARDED_CALL(proxy, result)                                                    \
    do {                                                                                  \
        (proxy).SetSource(__FILE__, __LINE__);                                            \
        (proxy) * (result);                                                               \
    } while (0)

#pragma once
// Coded exception of the support library: a code, a detail (a path or a
// parser message) and a table from code to description filled by the
// derived class. what() only points to GetDescription().

#include <exception>
#include <map>
#include <string>
#include <utility>

namespace VORTALEX {

class Exception : public std::exception {
public:
    Exception(int code, std::wstring detail) : code_(code), detail_(std::move(detail)) {}

    const char* what() const noexcept override { return "Use Exception::GetDescription()"; }

    int GetCode() const { return code_; }
    const std::wstring& GetDetail() const { return detail_; }

    // The description of the code, then ": " and the detail when there is one.
    std::wstring GetDescription() const {
        std::wstring text;
        if (auto it = table_.find(code_); it != table_.end()) {
            text = it->second;
        } else if (auto zero = table_.find(0); zero != table_.end()) {
            text = zero->second;
        }
        if (!detail_.empty()) {
            if (!text.empty()) text += L": ";
            text += detail_;
        }
        return text;
    }

protected:
    std::map<int, std::wstring> table_;

private:
    int code_;
    std::wstring detail_;
};

}  // namespace VORTALEX

// Helpers shared by the wrapper test programs.
#pragma once

#include <exception>
#include <functional>
#include <string>

namespace wrapper_test {

// What a wrapper throws when asked for an implementation it does not have.
inline const std::string kUnavailableLibrary = "Wrapper: выбранная библиотека недоступна.";

// The text of the exception the action throws, or "(no exception)".
inline std::string ExceptionText(const std::function<void()>& action)
{
    try {
        action();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "(no exception)";
}

}  // namespace wrapper_test

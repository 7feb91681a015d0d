#pragma once
// The message box of the older helper classes. Until a window system is
// present the text goes to standard error; the port layer installs its own
// function with SetMessageBoxHandler.

#include <string_view>

namespace VORTALEX {

using MessageBoxHandler = void (*)(std::wstring_view text, std::wstring_view caption);

void ShowMessageBox(std::wstring_view text, std::wstring_view caption);

// Replaces the function that shows message boxes; null restores the
// standard-error one. Returns the previous handler.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);

}  // namespace VORTALEX

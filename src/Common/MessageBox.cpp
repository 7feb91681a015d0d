#include "Common/MessageBox.h"

#include <cstdio>
#include <string>

#include "Common/CodePage.h"

namespace VORTALEX {
namespace {

void ToStandardError(std::wstring_view text, std::wstring_view caption) {
    std::string line = codepage::ToUtf8(caption);
    line += ": ";
    line += codepage::ToUtf8(text);
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

MessageBoxHandler& Handler() {
    static MessageBoxHandler handler = &ToStandardError;
    return handler;
}

}  // namespace

void ShowMessageBox(std::wstring_view text, std::wstring_view caption) { Handler()(text, caption); }

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
    MessageBoxHandler previous = Handler();
    Handler() = handler ? handler : &ToStandardError;
    return previous;
}

}  // namespace VORTALEX

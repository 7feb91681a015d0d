#pragma once
// Process environment: the program's folder (every file of the system is
// found relative to it), the system language (which also selects the
// character-type locale), and wide-to-narrow copies. The VORTALEX classes
// throw std::exception on failure; the older _VORTALEX ones show a message
// box and go on.

#include <memory>
#include <ostream>
#include <string>
#include <string_view>

namespace VORTALEX {

// Owns one character buffer: the result of the derived class. Not copyable.
template <class CharT, class OStream>
class SupportTCHAR {
public:
    SupportTCHAR(const SupportTCHAR&) = delete;
    SupportTCHAR& operator=(const SupportTCHAR&) = delete;
    virtual ~SupportTCHAR() = default;

    const CharT* GetText() const { return buffer_ ? buffer_.get() : Empty(); }
    operator const CharT*() const { return GetText(); }
    std::basic_string<CharT> str() const { return std::basic_string<CharT>(GetText(), size_); }
    std::size_t size() const { return size_; }

    friend OStream& operator<<(OStream& os, const SupportTCHAR& s) { return os << s.GetText(); }

protected:
    SupportTCHAR() = default;
    void Assign(std::basic_string_view<CharT> text) {
        buffer_ = std::make_unique<CharT[]>(text.size() + 1);
        text.copy(buffer_.get(), text.size());
        buffer_[text.size()] = CharT();
        size_ = text.size();
    }

private:
    static const CharT* Empty() {
        static const CharT empty[1] = {CharT()};
        return empty;
    }
    std::unique_ptr<CharT[]> buffer_;
    std::size_t size_ = 0;
};

// English name of the system language ("Russian", "English", ...), from the
// LC_ALL or LANG environment; "Error" when it can't be determined.
class LanguageWindows : public SupportTCHAR<wchar_t, std::wostream> {
public:
    LanguageWindows();
};

// Folder of the running program, without a trailing separator. Also sets the
// process's LC_CTYPE locale for the system language. Throws std::exception
// "Failed _tsetlocale(...)" or "Failed GetModuleFileName(...)".
class PathToProgram : public SupportTCHAR<wchar_t, std::wostream> {
public:
    PathToProgram();
};

// Narrow copy of a wide text in the code page of the current LC_CTYPE
// locale; empty when a character can't be represented there.
class CStringToLPCSTR : public SupportTCHAR<char, std::ostream> {
public:
    explicit CStringToLPCSTR(std::wstring_view text);
};

// Sets LC_CTYPE for a language name such as "Russian". A machine need not
// have a locale of that exact name: the language's UTF-8 locale, then
// C.UTF-8 are used, so wide character classification (Cyrillic case
// mapping included) works. Returns false only when no such locale exists.
bool SetCharacterLocale(std::wstring_view languageName);

// Makes PathToProgram report folder instead of the executable's folder (used
// by tests that must not touch the files beside the test program). An empty
// folder restores the normal behaviour.
void OverrideProgramFolder(std::wstring_view folder);

}  // namespace VORTALEX

namespace _VORTALEX {

class C_LanguageWindows {
public:
    C_LanguageWindows();
    const std::wstring& GetText() const { return text_; }
    operator const wchar_t*() const { return text_.c_str(); }

private:
    std::wstring text_;
};

// Like VORTALEX::PathToProgram, but a locale failure shows the message box
// "C_PathToProgram - Failed _tsetlocale(...)" and a module-path failure
// leaves an empty text.
class C_PathToProgram {
public:
    C_PathToProgram();
    const std::wstring& GetText() const { return text_; }
    operator const wchar_t*() const { return text_.c_str(); }

private:
    std::wstring text_;
};

class C_CStringToLPCSTR {
public:
    explicit C_CStringToLPCSTR(std::wstring_view text);
    const char* GetText() const { return text_.c_str(); }
    operator const char*() const { return text_.c_str(); }

private:
    std::string text_;
};

}  // namespace _VORTALEX

namespace VORTALEX::detail {
// Reads a symbolic link's target with a buffer that starts at 260 bytes and
// doubles until the target fits; false when the link can't be read.
bool ReadLinkGrowing(const char* link, std::string& target);
}  // namespace VORTALEX::detail

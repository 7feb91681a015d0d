#pragma once
// Wide-character regular expressions behind a replaceable implementation ("implBoostXpressive").

#include "Wrappers/Base/Wrapper.h"

#include <cstddef>
#include <string>

namespace VORTALEX::regex {

class IRegex : public wrappers::IBaseInterface {
public:
    virtual void Compile(const std::wstring& pattern, bool ignoreCase) = 0;
    // Whole-text match; partial also accepts text that is a prefix of a possible match.
    virtual bool Match(const wchar_t* text, bool partial) = 0;
    // Search in text; with null text, search again in the last text after the previous match.
    virtual bool Search(const wchar_t* text, bool partial) = 0;
    virtual std::wstring Replace(const wchar_t* text, const wchar_t* format, bool partial) = 0;
    // Sub-matches of the last result, the whole match not counted.
    virtual std::size_t GetMatchCount() const = 0;
    virtual std::wstring GetMatch(std::size_t index) const = 0;
    virtual std::wstring GetWholeMatch() const = 0;
    // Splitting a text by the expression is not offered by any implementation.
    virtual std::wstring Split(const wchar_t* text) = 0;
};

inline constexpr const wchar_t* kRegexNames[] = {L"implBoostRegex", L"implBoostXpressive"};

class Regex : public wrappers::Wrapper {
public:
    explicit Regex(const wchar_t* implementationName);
    IRegex* operator->() const { return m_regex; }
    IRegex& Get() const { return *m_regex; }

private:
    IRegex* m_regex;
};

template <std::size_t Index>
class SpecialRegexT : public Regex {
    static_assert(Index < std::size(kRegexNames));

public:
    SpecialRegexT() : Regex(kRegexNames[Index]) {}
};

using SpecialRegex = SpecialRegexT<1>;

}  // namespace VORTALEX::regex

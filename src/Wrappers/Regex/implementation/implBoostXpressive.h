#pragma once

#include "Wrappers/Regex/Regex.h"

#include <boost/xpressive/xpressive_dynamic.hpp>

namespace VORTALEX::regex {

class implBoostXpressive : public wrappers::PooledImplementation<implBoostXpressive, IRegex> {
public:
    static constexpr const wchar_t* kName = L"implBoostXpressive";
    std::wstring GetName() const override { return kName; }

    void Compile(const std::wstring& pattern, bool ignoreCase) override;
    bool Match(const wchar_t* text, bool partial) override;
    bool Search(const wchar_t* text, bool partial) override;
    std::wstring Replace(const wchar_t* text, const wchar_t* format, bool partial) override;
    std::size_t GetMatchCount() const override;
    std::wstring GetMatch(std::size_t index) const override;
    std::wstring GetWholeMatch() const override;
    std::wstring Split(const wchar_t* text) override;

private:
    boost::xpressive::wsregex m_regex;
    // The results point into m_text, so the text is kept until the next match or search.
    std::wstring m_text;
    boost::xpressive::wsmatch m_results;
    bool m_matched = false;
};

}  // namespace VORTALEX::regex

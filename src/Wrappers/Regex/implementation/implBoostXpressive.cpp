#include "Wrappers/Regex/implementation/implBoostXpressive.h"

#include <stdexcept>

namespace VORTALEX::regex {

namespace xp = boost::xpressive;

namespace {
xp::regex_constants::match_flag_type Flags(bool partial)
{
    return partial ? xp::regex_constants::match_partial : xp::regex_constants::match_default;
}
}  // namespace

void implBoostXpressive::Compile(const std::wstring& pattern, bool ignoreCase)
{
    const auto options = ignoreCase ? xp::regex_constants::icase : xp::regex_constants::ECMAScript;
    m_regex = xp::wsregex::compile(pattern, options);
    m_results = xp::wsmatch();
    m_matched = false;
}

bool implBoostXpressive::Match(const wchar_t* text, bool partial)
{
    m_results = xp::wsmatch();
    m_text = text != nullptr ? text : L"";
    m_matched = xp::regex_match(m_text.cbegin(), m_text.cend(), m_results, m_regex, Flags(partial));
    if (!m_matched)
        m_results = xp::wsmatch();
    return m_matched;
}

bool implBoostXpressive::Search(const wchar_t* text, bool partial)
{
    if (text != nullptr) {
        m_results = xp::wsmatch();
        m_text = text;
        m_matched =
            xp::regex_search(m_text.cbegin(), m_text.cend(), m_results, m_regex, Flags(partial));
        if (!m_matched)
            m_results = xp::wsmatch();
        return m_matched;
    }
    // Continue after the previous match; without one there is nothing to continue from.
    if (!m_matched || m_results.empty())
        return false;
    auto start = m_results[0].second;
    const auto end = m_text.cend();
    auto flags = Flags(partial) | xp::regex_constants::match_prev_avail;
    if (start == m_text.cbegin())
        flags = Flags(partial);
    xp::wsmatch next;
    bool found = false;
    if (m_results[0].first == m_results[0].second) {
        // An empty match: first look for a non-empty match at the same place, then move on one
        // character, so that repeated searches always advance.
        found = xp::regex_search(start, end, next, m_regex,
                                 flags | xp::regex_constants::match_not_null |
                                     xp::regex_constants::match_continuous);
        if (!found && start != end) {
            ++start;
            found = xp::regex_search(start, end, next, m_regex,
                                     Flags(partial) | xp::regex_constants::match_prev_avail);
        }
    } else {
        found = xp::regex_search(start, end, next, m_regex, flags);
    }
    m_matched = found;
    m_results = found ? next : xp::wsmatch();
    return found;
}

std::wstring implBoostXpressive::Replace(const wchar_t* text, const wchar_t* format, bool partial)
{
    const std::wstring input = text != nullptr ? text : L"";
    const std::wstring fmt = format != nullptr ? format : L"";
    return xp::regex_replace(input, m_regex, fmt, Flags(partial));
}

std::size_t implBoostXpressive::GetMatchCount() const
{
    return m_results.size() > 0 ? m_results.size() - 1 : 0;
}

std::wstring implBoostXpressive::GetMatch(std::size_t index) const
{
    if (index >= GetMatchCount())
        throw std::out_of_range("implBoostXpressive::GetMatch(): index not valid");
    return m_results[index + 1].str();
}

std::wstring implBoostXpressive::GetWholeMatch() const
{
    return m_results.size() > 0 ? m_results[0].str() : std::wstring();
}

std::wstring implBoostXpressive::Split(const wchar_t*)
{
    throw std::logic_error("Не реализовано");
}

}  // namespace VORTALEX::regex

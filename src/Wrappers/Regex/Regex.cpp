#include "Wrappers/Regex/Regex.h"

#include "Wrappers/Regex/implementation/implBoostXpressive.h"

#include <stdexcept>

namespace VORTALEX::regex {

// Registered here, in the translation unit every user of the wrapper links, so a static link
// never drops the implementation.
VORTALEX_REGISTER_IMPLEMENTATION(implBoostXpressive, implBoostXpressive::kName)

Regex::Regex(const wchar_t* implementationName)
    : Wrapper(implementationName), m_regex(dynamic_cast<IRegex*>(implementation_))
{
    // A name registered by another family is as unusable as an unknown one.
    if (m_regex == nullptr)
        throw std::runtime_error("Wrapper: выбранная библиотека недоступна.");
}

}  // namespace VORTALEX::regex

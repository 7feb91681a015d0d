#include "Wrappers/Compression/Compression.h"

#include "Wrappers/Compression/implementation/implSnappy.h"

#include <stdexcept>

namespace VORTALEX::compression {

// Registered here, in the translation unit every user of the wrapper links, so a static link
// never drops the implementation.
VORTALEX_REGISTER_IMPLEMENTATION(implSnappy, implSnappy::kName)

Compression::Compression(const wchar_t* implementationName)
    : Wrapper(implementationName), m_compression(dynamic_cast<ICompression*>(implementation_))
{
    // A name registered by another family is as unusable as an unknown one.
    if (m_compression == nullptr)
        throw std::runtime_error("Wrapper: выбранная библиотека недоступна.");
}

}  // namespace VORTALEX::compression

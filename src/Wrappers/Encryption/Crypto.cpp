#include "Wrappers/Encryption/Crypto.h"

#include "Wrappers/Encryption/implementation/implWinCryptRC4.h"

#include <stdexcept>

namespace VORTALEX::encryption {

// Registered here, in the translation unit every user of the wrapper links, so a static link
// never drops the implementation.
VORTALEX_REGISTER_IMPLEMENTATION(implWinCryptRC4, implWinCryptRC4::kName)

Crypto::Crypto(const wchar_t* implementationName)
    : Wrapper(implementationName), m_crypto(dynamic_cast<ICrypto*>(implementation_))
{
    // A name registered by another family is as unusable as an unknown one.
    if (m_crypto == nullptr)
        throw std::runtime_error("Wrapper: выбранная библиотека недоступна.");
}

}  // namespace VORTALEX::encryption

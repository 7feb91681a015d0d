#pragma once
// Symmetric enciphering behind a replaceable implementation ("implWinCryptRC4").

#include "Wrappers/Base/Wrapper.h"

#include <cstddef>

namespace VORTALEX::encryption {

class ICrypto : public wrappers::IBaseInterface {
public:
    // Derives the key from a pass phrase; null or empty means no key (data passes unchanged).
    virtual void SetKey(const char* passPhrase) = 0;
    // Each call is one complete message: it starts at the beginning of the key stream.
    virtual void Encryption(void* buffer, std::size_t length) = 0;
    virtual void Decryption(void* buffer, std::size_t length) = 0;
    // Effective key length of the derived key in bits (128 by default). Archives written on
    // systems whose default provider derives 40-bit keys need 40 to be read.
    virtual void SetKeyLength(unsigned int bits) = 0;
    virtual unsigned int GetKeyLength() const = 0;
};

inline constexpr const wchar_t* kCryptoNames[] = {L"implCryptoppAES", L"implWinCryptRC4"};

class Crypto : public wrappers::Wrapper {
public:
    explicit Crypto(const wchar_t* implementationName);
    ICrypto* operator->() const { return m_crypto; }
    ICrypto& Get() const { return *m_crypto; }

private:
    ICrypto* m_crypto;
};

template <std::size_t Index>
class SpecialCryptoT : public Crypto {
    static_assert(Index < std::size(kCryptoNames));

public:
    SpecialCryptoT() : Crypto(kCryptoNames[Index]) {}
};

using SpecialCrypto = SpecialCryptoT<1>;

}  // namespace VORTALEX::encryption

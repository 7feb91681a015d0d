#pragma once
// RC4 keyed from the MD5 hash of a pass phrase, as the Windows default providers derive it:
// 128-bit keys use all 16 hash bytes; 40-bit keys use 5 hash bytes followed by 11 zero bytes
// of salt.

#include "Wrappers/Encryption/Crypto.h"

#include <nettle/arcfour.h>

#include <cstdint>

namespace VORTALEX::encryption {

class implWinCryptRC4 : public wrappers::PooledImplementation<implWinCryptRC4, ICrypto> {
public:
    static constexpr const wchar_t* kName = L"implWinCryptRC4";
    std::wstring GetName() const override { return kName; }

    void SetKey(const char* passPhrase) override;
    void Encryption(void* buffer, std::size_t length) override;
    void Decryption(void* buffer, std::size_t length) override;
    void SetKeyLength(unsigned int bits) override;
    unsigned int GetKeyLength() const override { return m_keyBits; }

    bool HasKey() const { return m_hasKey; }

private:
    void Schedule();
    void Apply(void* buffer, std::size_t length);

    bool m_hasKey = false;
    unsigned int m_keyBits = 128;
    std::uint8_t m_hash[16] = {};
    // The key schedule is computed once per key; every message starts from a copy of it.
    arcfour_ctx m_initial{};
};

}  // namespace VORTALEX::encryption

#include "Wrappers/Encryption/implementation/implWinCryptRC4.h"

#include <nettle/md5.h>

#include <cstring>
#include <stdexcept>

namespace VORTALEX::encryption {

void implWinCryptRC4::SetKey(const char* passPhrase)
{
    m_hasKey = false;
    if (passPhrase == nullptr || *passPhrase == '\0')
        return;
    md5_ctx md5;
    md5_init(&md5);
    md5_update(&md5, std::strlen(passPhrase), reinterpret_cast<const std::uint8_t*>(passPhrase));
    md5_digest(&md5, sizeof m_hash, m_hash);
    m_hasKey = true;
    Schedule();
}

void implWinCryptRC4::SetKeyLength(unsigned int bits)
{
    if (bits != 40 && bits != 128)
        throw std::invalid_argument("implWinCryptRC4: key length must be 40 or 128 bits");
    m_keyBits = bits;
    if (m_hasKey)
        Schedule();
}

void implWinCryptRC4::Schedule()
{
    std::uint8_t key[16];
    std::memcpy(key, m_hash, sizeof key);
    if (m_keyBits == 40)
        std::memset(key + 5, 0, sizeof key - 5);  // 88 bits of zero salt
    arcfour_set_key(&m_initial, sizeof key, key);
}

void implWinCryptRC4::Apply(void* buffer, std::size_t length)
{
    arcfour_ctx ctx = m_initial;
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    arcfour_crypt(&ctx, length, bytes, bytes);
}

void implWinCryptRC4::Encryption(void* buffer, std::size_t length)
{
    if (!m_hasKey)
        return;
    if (buffer == nullptr)
        throw std::runtime_error("implWinCryptRC4: buffer is null");
    Apply(buffer, length);
}

void implWinCryptRC4::Decryption(void* buffer, std::size_t length)
{
    if (!m_hasKey)
        return;
    if (buffer == nullptr)
        throw std::runtime_error("implWinCryptRC4: buffer is null");
    Apply(buffer, length);
}

}  // namespace VORTALEX::encryption

#include "Wrappers/Encryption/Crypto.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "Wrappers/WrapperTestSupport.h"

using VORTALEX::encryption::Crypto;
using VORTALEX::encryption::SpecialCrypto;
using wrapper_test::ExceptionText;
using wrapper_test::kUnavailableLibrary;

namespace {

std::vector<std::uint8_t> Counting(std::size_t n)
{
    std::vector<std::uint8_t> out(n);
    for (std::size_t i = 0; i < n; ++i)
        out[i] = static_cast<std::uint8_t>(i);
    return out;
}

// RC4 of the bytes 00..1f keyed from MD5("quillmar"), computed independently: all 16 hash bytes,
// and the first 5 hash bytes followed by 11 zero bytes.
const std::array<std::uint8_t, 32> kQuillmar128 = {
    0x25, 0xc5, 0xa4, 0x7a, 0xce, 0x13, 0x15, 0xad, 0x50, 0x5d, 0xf8, 0xe5, 0x50, 0x73, 0xc6, 0x79,
    0x04, 0xa3, 0xe9, 0x14, 0xd1, 0x7f, 0x77, 0x29, 0x1d, 0x64, 0xac, 0x37, 0x24, 0x18, 0x87, 0xbc};
const std::array<std::uint8_t, 32> kQuillmar40 = {
    0x0e, 0xfb, 0x92, 0x25, 0x3c, 0xc4, 0x20, 0xd2, 0x5d, 0xe9, 0x77, 0x23, 0xfd, 0xf6, 0x9e, 0x1a,
    0x42, 0x98, 0x9e, 0xf4, 0x9c, 0xd6, 0x6c, 0xe5, 0x4b, 0x74, 0xfa, 0x87, 0xa8, 0x3b, 0xc0, 0x9f};

}  // namespace

TEST(Crypto, WrapperPicksRc4AndRefusesOtherNames)
{
    SpecialCrypto crypto;
    EXPECT_EQ(crypto->GetName(), L"implWinCryptRC4");
    EXPECT_EQ(ExceptionText([] { Crypto aes(L"implCryptoppAES"); }),
              kUnavailableLibrary);
}

TEST(Crypto, KeysDerivedFromThePassPhraseMatchKnownCiphertexts)
{
    SpecialCrypto crypto;
    crypto->SetKey("quillmar");
    EXPECT_EQ(crypto->GetKeyLength(), 128u);
    auto data = Counting(32);
    crypto->Encryption(data.data(), data.size());
    EXPECT_TRUE(std::equal(data.begin(), data.end(), kQuillmar128.begin()));

    crypto->SetKeyLength(40);
    data = Counting(32);
    crypto->Encryption(data.data(), data.size());
    EXPECT_TRUE(std::equal(data.begin(), data.end(), kQuillmar40.begin()));
    crypto->Decryption(data.data(), data.size());
    EXPECT_EQ(data, Counting(32));

    // A new pass phrase keeps the chosen key length; a different phrase gives other bytes.
    crypto->SetKey("quillmaR");
    data = Counting(32);
    crypto->Encryption(data.data(), data.size());
    EXPECT_FALSE(std::equal(data.begin(), data.end(), kQuillmar40.begin()));
    EXPECT_EQ(ExceptionText([&] { crypto->SetKeyLength(56); }).find("key length") != std::string::npos,
              true);
}

TEST(Crypto, EveryCallRestartsTheKeyStream)
{
    SpecialCrypto crypto;
    crypto->SetKey("quillmar");
    std::string first = "first message, enciphered alone";
    std::string second = "second message";
    crypto->Encryption(first.data(), first.size());
    crypto->Encryption(second.data(), second.size());
    // Both start at the beginning of the stream: equal plaintext prefixes give equal bytes.
    std::string again = "first";
    crypto->Encryption(again.data(), again.size());
    EXPECT_EQ(first.substr(0, 5), again);
    crypto->Decryption(second.data(), second.size());
    crypto->Decryption(first.data(), first.size());
    EXPECT_EQ(first, "first message, enciphered alone");
    EXPECT_EQ(second, "second message");
}

TEST(Crypto, EmptyOrMissingPassPhraseLeavesDataUnchanged)
{
    for (const char* phrase : {"", static_cast<const char*>(nullptr)}) {
        SpecialCrypto crypto;
        crypto->SetKey("quillmar");
        crypto->SetKey(phrase);  // drops the earlier key
        auto data = Counting(40);
        crypto->Encryption(data.data(), data.size());
        EXPECT_EQ(data, Counting(40));
        crypto->Decryption(data.data(), data.size());
        EXPECT_EQ(data, Counting(40));
        // Without a key even a null buffer is nothing to do.
        crypto->Encryption(nullptr, 10);
    }
}

TEST(Crypto, NullBufferWithKeyThrows)
{
    SpecialCrypto crypto;
    crypto->SetKey("quillmar");
    EXPECT_EQ(ExceptionText([&] { crypto->Encryption(nullptr, 4); }), "implWinCryptRC4: buffer is null");
    EXPECT_EQ(ExceptionText([&] { crypto->Decryption(nullptr, 4); }), "implWinCryptRC4: buffer is null");
}

#include "Wrappers/Compression/Compression.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "Wrappers/WrapperTestSupport.h"

using VORTALEX::compression::Compression;
using VORTALEX::compression::SpecialCompression;
using wrapper_test::ExceptionText;
using wrapper_test::kUnavailableLibrary;

namespace {

std::vector<char> Bytes(std::initializer_list<int> values)
{
    std::vector<char> out;
    for (int v : values)
        out.push_back(static_cast<char>(v));
    return out;
}

std::vector<char> Compressed(SpecialCompression& c, const std::string& text)
{
    std::vector<char> out(c->GetMaxCompressedLength(text.size()));
    std::size_t length = out.size();
    c->Compress(text.data(), text.size(), out.data(), &length);
    out.resize(length);
    return out;
}

}  // namespace

TEST(Compression, WrapperPicksSnappyAndRefusesOtherNames)
{
    SpecialCompression c;
    EXPECT_EQ(c->GetName(), L"implSnappy");
    EXPECT_EQ(ExceptionText([] { Compression unknown(L"implZlib"); }),
              kUnavailableLibrary);
    // A registered implementation of another family is no compression either.
    EXPECT_EQ(ExceptionText([] { Compression other(L"implWinCryptRC4"); }),
              kUnavailableLibrary);
}

TEST(Compression, MaxCompressedLengthAndDestinationBoundary)
{
    SpecialCompression c;
    EXPECT_EQ(c->GetMaxCompressedLength(0), 32u);
    EXPECT_EQ(c->GetMaxCompressedLength(100), 148u);
    EXPECT_EQ(c->GetMaxCompressedLength(6000), 7032u);

    const std::string source(100, 'x');
    std::vector<char> out(200, '\x55');
    std::size_t length = 147;
    EXPECT_EQ(ExceptionText([&] { c->Compress(source.data(), source.size(), out.data(), &length); }),
              "Error in compression");
    EXPECT_EQ(out[0], '\x55') << "a refused compression writes nothing";
    length = 148;
    c->Compress(source.data(), source.size(), out.data(), &length);
    EXPECT_GT(length, 0u);
    EXPECT_LT(length, 100u);
    EXPECT_EQ(c->GetUncompressedLength(out.data(), length), 100u);
}

TEST(Compression, LengthVarint)
{
    SpecialCompression c;
    auto length = [&](std::initializer_list<int> bytes) {
        const auto data = Bytes(bytes);
        return c->GetUncompressedLength(data.data(), data.size());
    };
    auto failure = [&](std::initializer_list<int> bytes) {
        return ExceptionText([&] { length(bytes); });
    };
    EXPECT_EQ(length({0x00}), 0u);
    EXPECT_EQ(length({0x7F}), 127u);
    EXPECT_EQ(length({0x80, 0x01}), 128u);
    EXPECT_EQ(length({0xE4, 0x00}), 100u);  // a redundant zero group is still a valid varint
    EXPECT_EQ(length({0xFF, 0xFF, 0xFF, 0xFF, 0x0F}), 0xFFFFFFFFu);
    EXPECT_EQ(length({0x80, 0x80, 0x80, 0x80, 0x01}), 1u << 28);
    EXPECT_EQ(failure({0x80}), "Error uncompressed length");
    EXPECT_EQ(failure({0xFF, 0xFF, 0xFF, 0xFF, 0x10}), "Error uncompressed length");
    EXPECT_EQ(failure({0x80, 0x80, 0x80, 0x80, 0x80, 0x01}), "Error uncompressed length");
    EXPECT_EQ(ExceptionText([&] { c->GetUncompressedLength(nullptr, 0); }),
              "Error uncompressed length");
    const auto one = Bytes({0x80, 0x01});
    EXPECT_EQ(ExceptionText([&] { c->GetUncompressedLength(one.data(), 1); }),
              "Error uncompressed length")
        << "the given length bounds the varint, not the bytes behind it";
}

TEST(Compression, RoundTripsTextBinaryAndEmpty)
{
    SpecialCompression c;
    std::mt19937 random(7);
    std::string binary(70000, '\0');
    for (char& ch : binary)
        ch = static_cast<char>(random() % 7);  // compressible but not trivially
    for (const std::string& source : {std::string(), std::string("a"), std::string(5000, 'q'), binary}) {
        const auto packed = Compressed(c, source);
        std::vector<char> back(source.size() + 1, '\x7E');
        std::size_t length = back.size();
        c->Uncompress(packed.data(), packed.size(), back.data(), &length);
        ASSERT_EQ(length, source.size());
        EXPECT_EQ(std::memcmp(back.data(), source.data(), source.size()), 0);
        EXPECT_EQ(back[source.size()], '\x7E');
    }
}

TEST(Compression, UncompressRefusesStreamsLongerThanTheDestination)
{
    SpecialCompression c;
    const auto packed = Compressed(c, std::string(1000, 'z'));
    std::vector<char> back(1100, '\x11');
    std::size_t length = 999;
    EXPECT_EQ(ExceptionText([&] { c->Uncompress(packed.data(), packed.size(), back.data(), &length); }),
              "Error in uncompression");
    EXPECT_EQ(back[0], '\x11') << "nothing written for a refused stream";
    EXPECT_EQ(back[999], '\x11');
}

TEST(Compression, CorruptStreamsThrowAndStayInsideTheBuffer)
{
    SpecialCompression c;
    const std::string source = "The quick brown fox jumps over the lazy dog; the lazy dog sleeps. "
                               "The quick brown fox jumps over the lazy dog again and again.";
    const auto packed = Compressed(c, source);
    // Truncations of a valid stream.
    for (std::size_t cut = 1; cut < packed.size(); ++cut) {
        std::vector<char> back(source.size() + 16, '\x33');
        std::size_t length = source.size();
        try {
            c->Uncompress(packed.data(), cut, back.data(), &length);
            ADD_FAILURE() << "truncated at " << cut << " accepted";
        } catch (const std::exception& e) {
            EXPECT_STREQ(e.what(), "Error in uncompression");
        }
        for (std::size_t i = source.size(); i < back.size(); ++i)
            ASSERT_EQ(back[i], '\x33') << "write past the buffer at cut " << cut;
    }
    // Random mutations: either the original length comes out or the call throws.
    std::mt19937 random(42);
    for (int round = 0; round < 3000; ++round) {
        auto mutated = packed;
        for (int flips = 1 + round % 4; flips > 0; --flips)
            mutated[random() % mutated.size()] ^= static_cast<char>(1 + random() % 255);
        std::vector<char> back(source.size() + 16, '\x44');
        std::size_t length = source.size();
        try {
            c->Uncompress(mutated.data(), mutated.size(), back.data(), &length);
            EXPECT_LE(length, source.size());
        } catch (const std::exception&) {
        }
        for (std::size_t i = source.size(); i < back.size(); ++i)
            ASSERT_EQ(back[i], '\x44') << "write past the buffer in round " << round;
    }
}

TEST(Compression, MissingArgumentsThrowInsteadOfCrashing)
{
    SpecialCompression c;
    char out[64];
    EXPECT_EQ(ExceptionText([&] { c->Compress("abc", 3, out, nullptr); }), "Error in compression");
    EXPECT_EQ(ExceptionText([&] { c->Compress("abc", 3, nullptr, nullptr); }), "Error in compression");
    const auto packed = Compressed(c, "abc");
    EXPECT_EQ(ExceptionText([&] { c->Uncompress(packed.data(), packed.size(), out, nullptr); }),
              "Error in uncompression");
    std::size_t length = 3;
    EXPECT_EQ(ExceptionText([&] { c->Uncompress(packed.data(), packed.size(), nullptr, &length); }),
              "Error in uncompression");
}

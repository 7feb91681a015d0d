#pragma once
// Seeded random damage to text files for the fuzz tests: every run with the
// same seed damages the same way, so a failure can be replayed. The rounds
// default to a few hundred; TW_FUZZ_ITERATIONS runs more (in a sanitizer
// build, say) and TW_FUZZ_SEED varies the damage.

#include <cstdlib>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace tw_fuzz {

inline int FromEnvironment(const char* name, int fallback)
{
    const char* text = std::getenv(name);
    const int n = text != nullptr ? std::atoi(text) : 0;
    return n > 0 ? n : fallback;
}

inline int Iterations(int fallback = 300) { return FromEnvironment("TW_FUZZ_ITERATIONS", fallback); }
inline unsigned Seed(unsigned fallback) { return static_cast<unsigned>(FromEnvironment("TW_FUZZ_SEED", int(fallback))); }

// Applies one random change to `text`, choosing among byte flips, cuts,
// repeated slices, and pieces of text that parsers of this system must
// weigh: markup, separators, signs, huge and odd numbers.
inline void Mutate(std::string& text, std::mt19937& random, const std::vector<std::string>& tokens = {})
{
    static const std::vector<std::string> common = {
        "<", ">", "/>", "</", "\"", "'", "=", ";", ":", ",", " ", "\t", "\r\n", "\n", "\\", "/", "..", "&", "&#",
        "&#x110000;", "&amp;", "<!--", "-->", "<![CDATA[", "]]>", "<?xml", "?>", "-", "+", "e", "E", "nan", "inf",
        "-inf", "0x", "0", "-1", "4294967295", "2147483648", "-2147483649", "1e309", "1e-320", "99999999999999999999",
        "3.4028236e38", "\xff", "\xc3\xa9", "\xd0\x96", std::string(1, '\0'), std::string(300, 'A')};
    if (text.empty()) text = "x";
    const std::size_t at = random() % (text.size() + 1);
    switch (random() % 7) {
    case 0:  // flip bytes
        for (int n = 1 + int(random() % 4); n > 0; --n)
            text[random() % text.size()] ^= static_cast<char>(1 + random() % 255);
        break;
    case 1:  // cut
        text.resize(random() % (text.size() + 1));
        break;
    case 2:  // cut out a slice
        text.erase(at, random() % 32);
        break;
    case 3: {  // repeat a slice
        const std::size_t length = random() % 64;
        const std::string slice = text.substr(random() % text.size(), length);
        for (int n = 1 + int(random() % 3); n > 0; --n) text.insert(random() % (text.size() + 1), slice);
        break;
    }
    case 4: {  // insert a token of the format
        const auto& from = (!tokens.empty() && random() % 2) ? tokens : common;
        text.insert(at, from[random() % from.size()]);
        break;
    }
    case 5:  // replace a byte with a token's first byte
        text[random() % text.size()] = common[random() % common.size()][0];
        break;
    default:  // random bytes
        for (int n = int(random() % 16); n > 0; --n) text.insert(text.begin() + long(random() % (text.size() + 1)), char(random()));
        break;
    }
}

}  // namespace tw_fuzz

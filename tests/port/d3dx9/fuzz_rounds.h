// Rounds and seed of the seeded mutation tests: a few hundred rounds with a
// fixed seed by default, more with TW_FUZZ_ITERATIONS=N (and another seed
// with TW_FUZZ_SEED=S) for longer runs, under a sanitizer build say.
#pragma once

#include <cstdlib>

namespace testdev {

inline int fuzzSetting(const char* name, int fallback) {
    const char* text = std::getenv(name);
    const int n = text ? std::atoi(text) : 0;
    return n > 0 ? n : fallback;
}
inline int fuzzRounds(int fallback) { return fuzzSetting("TW_FUZZ_ITERATIONS", fallback); }
inline unsigned fuzzSeed(unsigned fallback) { return (unsigned)fuzzSetting("TW_FUZZ_SEED", (int)fallback); }

} // namespace testdev

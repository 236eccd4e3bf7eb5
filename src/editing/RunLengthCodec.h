#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kalder
{

/**
    A lossless code for blocks of floats that are mostly runs of equal values (masks
    and selections: long stretches of exactly 1 or 0 with soft edges between them).

    Values are compared and stored by their bit patterns, so every float comes back bit
    for bit, including -0, infinities and NaN payloads.

    The code is a sequence of 32-bit words. Each token starts with a header word
    (length << 1 | isRun): a run is followed by the one repeated value, a literal by
    `length` values. Runs of three or more equal values become runs, so a block never
    grows by more than one word per 2^31 values plus one word per run it contains.

    Threading: stateless; call from any thread.
*/
class RunLengthCodec
{
public:
    /** The code of count values. */
    static std::vector<std::uint32_t> encode (const float* values, size_t count);

    /** Decodes into exactly count values. Returns false, leaving dest partly written,
        when the words are not a valid code of count values. */
    static bool decode (const std::uint32_t* words, size_t numWords, float* dest, size_t count);
};

} // namespace kalder

#include "RunLengthCodec.h"

#include <algorithm>
#include <cstring>

namespace kalder
{

namespace
{
    // A run shorter than this costs more as a token of its own than inside a literal.
    constexpr size_t shortestRun = 3;
    constexpr size_t longestToken = (size_t) 0x7fffffff;

    // Bit patterns are read through memcpy so that NaNs are never touched as floats.
    inline std::uint32_t bitsOf (const float* values, size_t i) noexcept
    {
        std::uint32_t b;
        std::memcpy (&b, values + i, sizeof (b));
        return b;
    }

    size_t runLengthAt (const float* values, size_t i, size_t count) noexcept
    {
        const auto first = bitsOf (values, i);
        size_t j = i + 1;
        while (j < count && bitsOf (values, j) == first && j - i < longestToken)
            ++j;
        return j - i;
    }
} // namespace

std::vector<std::uint32_t> RunLengthCodec::encode (const float* values, size_t count)
{
    static_assert (sizeof (float) == sizeof (std::uint32_t));

    std::vector<std::uint32_t> out;
    out.reserve (16);
    size_t i = 0;
    while (i < count)
    {
        const auto run = runLengthAt (values, i, count);
        if (run >= shortestRun)
        {
            out.push_back ((std::uint32_t) (run << 1) | 1u);
            out.push_back (bitsOf (values, i));
            i += run;
            continue;
        }

        // A literal up to the next run worth its own token.
        const auto start = i;
        while (i < count && i - start < longestToken)
        {
            const auto next = runLengthAt (values, i, count);
            if (next >= shortestRun)
                break;
            i += std::min (next, longestToken - (i - start));
        }
        out.push_back ((std::uint32_t) ((i - start) << 1));
        const auto at = out.size();
        out.resize (at + (i - start));
        std::memcpy (out.data() + at, values + start, (i - start) * sizeof (float));
    }
    out.shrink_to_fit();
    return out;
}

bool RunLengthCodec::decode (const std::uint32_t* words, size_t numWords, float* dest, size_t count)
{
    size_t w = 0, written = 0;
    while (w < numWords)
    {
        const auto header = words[w++];
        const auto length = (size_t) (header >> 1);
        if (length == 0 || length > count - written)
            return false;

        if ((header & 1u) != 0)
        {
            if (w >= numWords)
                return false;
            float value;
            std::memcpy (&value, &words[w++], sizeof (float));
            std::fill (dest + written, dest + written + length, value);
        }
        else
        {
            if (length > numWords - w)
                return false;
            std::memcpy (dest + written, words + w, length * sizeof (float));
            w += length;
        }
        written += length;
    }
    return written == count;
}

} // namespace kalder

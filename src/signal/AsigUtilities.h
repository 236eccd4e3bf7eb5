#pragma once

#include <vector>

namespace kalder
{

/**
    Window functions of the STFT.

    Analysis and synthesis both use the periodic Hann window w[i] = 0.5 - 0.5 cos(2 pi i / N).
    At a hop of N / 4 the squares of four overlapping periodic Hann windows add up to
    exactly 3 / 2 at every sample, so a weighted overlap-add that windows each inverse
    frame again and scales by 2 / 3 returns the input exactly where the mask is one,
    and fades masked edits in and out instead of cutting them.

    Threading: pure functions, any thread.
*/
struct AsigUtilities
{
    /** n coefficients of the periodic Hann window (n <= 0 gives an empty vector). */
    static std::vector<float> getHanningWindow (int n);

    /** The synthesis window: the Hann window scaled so that four overlapping
        analysis-times-synthesis windows add up to one. */
    static std::vector<float> getSynthesisWindow (int n);

    /** data[i] *= window[i] for i in [0, n); n <= 0 leaves data untouched. */
    static void applywindow (float* data, const float* window, int n) noexcept;
};

} // namespace kalder

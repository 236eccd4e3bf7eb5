#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

namespace kalder
{

/**
    A real FFT of one power-of-two length, forward and inverse, in CCS packing.

    The forward transform takes N real samples and writes N + 2 floats:
    (re0, im0, re1, im1, ..., re(N/2), im(N/2)), with im0 = im(N/2) = 0. It is unscaled.
    The inverse takes the same packing and writes N samples; it is unscaled too, so
    forward followed by inverse multiplies by N (callers divide by N).

    Each frame store and each playback source owns one. Creating one plans the
    transform, which FFTW does not allow concurrently, so construction takes one
    process-wide lock. The transforms themselves may run on any thread, several at
    once, as long as each caller passes its own buffers.

    Buffers passed to forward() and inverse() must be allocated with allocate()
    (FFTW's SIMD alignment); they may not overlap.
*/
class RealFFT
{
public:
    /** Prepares a transform of length nfft (a power of two, at least 4). */
    explicit RealFFT (int nfft);
    ~RealFFT();

    int getSize() const noexcept { return size; }

    /** time[size] -> ccs[size + 2]. Real-time safe. */
    void forward (const float* time, float* ccs) const noexcept;

    /** ccs[size + 2] -> time[size], unscaled. Real-time safe. The transform uses ccs
        as its work space: its contents are undefined afterwards. */
    void inverse (float* ccs, float* time) const noexcept;

    /** A SIMD-aligned float buffer for this class's transforms. */
    struct Buffer
    {
        explicit Buffer (size_t numFloats = 0);
        ~Buffer();
        Buffer (Buffer&&) noexcept;
        Buffer& operator= (Buffer&&) noexcept;

        float* data() const noexcept { return ptr; }
        size_t size() const noexcept { return count; }
        void clear() noexcept;

    private:
        float* ptr = nullptr;
        size_t count = 0;
        JUCE_DECLARE_NON_COPYABLE (Buffer)
    };

private:
    int size;
    void* forwardPlan = nullptr;
    void* inversePlan = nullptr;

    JUCE_DECLARE_NON_COPYABLE (RealFFT)
};

} // namespace kalder

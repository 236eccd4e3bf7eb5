#include "RealFFT.h"

#include <fftw3.h>

#include <mutex>

namespace kalder
{

namespace
{
    // FFTW's planner is not thread-safe; executing plans is.
    std::mutex& plannerMutex()
    {
        static std::mutex m;
        return m;
    }
} // namespace

RealFFT::Buffer::Buffer (size_t numFloats) : count (numFloats)
{
    if (count > 0)
    {
        ptr = fftwf_alloc_real (count);
        clear();
    }
}

RealFFT::Buffer::~Buffer()
{
    if (ptr != nullptr)
        fftwf_free (ptr);
}

RealFFT::Buffer::Buffer (Buffer&& other) noexcept
    : ptr (std::exchange (other.ptr, nullptr)), count (std::exchange (other.count, 0))
{}

RealFFT::Buffer& RealFFT::Buffer::operator= (Buffer&& other) noexcept
{
    std::swap (ptr, other.ptr);
    std::swap (count, other.count);
    return *this;
}

void RealFFT::Buffer::clear() noexcept
{
    if (ptr != nullptr)
        std::fill (ptr, ptr + count, 0.0f);
}

RealFFT::RealFFT (int nfft) : size (nfft)
{
    jassert (juce::isPowerOfTwo (nfft) && nfft >= 4);

    Buffer time ((size_t) size);
    Buffer ccs ((size_t) size + 2);

    const std::lock_guard<std::mutex> guard (plannerMutex());
    // Estimated plans: planning is quick and deterministic, and for the lengths we use
    // FFTW's estimate is within a few percent of a measured plan.
    forwardPlan = fftwf_plan_dft_r2c_1d (size, time.data(), reinterpret_cast<fftwf_complex*> (ccs.data()), FFTW_ESTIMATE);
    inversePlan = fftwf_plan_dft_c2r_1d (size, reinterpret_cast<fftwf_complex*> (ccs.data()), time.data(), FFTW_ESTIMATE);
}

RealFFT::~RealFFT()
{
    const std::lock_guard<std::mutex> guard (plannerMutex());
    fftwf_destroy_plan (static_cast<fftwf_plan> (forwardPlan));
    fftwf_destroy_plan (static_cast<fftwf_plan> (inversePlan));
}

void RealFFT::forward (const float* time, float* ccs) const noexcept
{
    fftwf_execute_dft_r2c (static_cast<fftwf_plan> (forwardPlan), const_cast<float*> (time),
                           reinterpret_cast<fftwf_complex*> (ccs));
}

void RealFFT::inverse (float* ccs, float* time) const noexcept
{
    fftwf_execute_dft_c2r (static_cast<fftwf_plan> (inversePlan), reinterpret_cast<fftwf_complex*> (ccs), time);
}

} // namespace kalder

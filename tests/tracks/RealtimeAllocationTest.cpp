// The audio callback must not allocate: this program replaces the global allocation
// functions and counts the allocations made on a thread while it is marked as the
// audio thread.
#include "support/TestSignals.h"
#include "support/TestTracks.h"
#include "tracks/ResamplingSpecTransportSource.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace
{
thread_local bool countingThisThread = false;
std::atomic<long> allocations { 0 };

void* allocate (std::size_t size)
{
    if (countingThisThread)
        ++allocations;
    if (auto* p = std::malloc (size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}
} // namespace

void* operator new (std::size_t size)
{
    return allocate (size);
}
void* operator new[] (std::size_t size)
{
    return allocate (size);
}
void* operator new (std::size_t size, const std::nothrow_t&) noexcept
{
    if (countingThisThread)
        ++allocations;
    return std::malloc (size == 0 ? 1 : size);
}
void* operator new[] (std::size_t size, const std::nothrow_t&) noexcept
{
    if (countingThisThread)
        ++allocations;
    return std::malloc (size == 0 ? 1 : size);
}
void operator delete (void* p) noexcept
{
    std::free (p);
}
void operator delete[] (void* p) noexcept
{
    std::free (p);
}
void operator delete (void* p, std::size_t) noexcept
{
    std::free (p);
}
void operator delete[] (void* p, std::size_t) noexcept
{
    std::free (p);
}

using namespace kalder;

TEST (AudioCallback, AllocatesNothingAfterWarmUp)
{
    test::TemporaryDirectory dir;
    const int rate = 44100;
    Mixer mixer;
    std::vector<AudioTrack::Ptr> tracks;
    for (int i = 0; i < 3; ++i)
    {
        auto t = test::makeTrack (dir.get().getChildFile (juce::String (i)), "t" + juce::String (i),
                                  test::makeNoise (2, rate * 3, i + 1), rate);
        ASSERT_NE (t, nullptr);
        auto* asig = t->getAsig();
        // Edited tracks: every block is resynthesised from masked frames.
        ASSERT_TRUE (
            asig->setMask (0, { 10, 300 }, { 0, asig->getNumFrames() }, MaskMatrix::Constant (290, asig->getNumFrames(), 0.3f)));
        if (i == 0)
            mixer.setMasterTrack (t);
        else
            mixer.addTrack (t);
        tracks.push_back (t);
    }
    mixer.setActiveTrack (tracks[1]);

    for (const double deviceRate : { 44100.0, 48000.0, 96000.0 })
    {
        for (const int blockSize : { 64, 441, 1000 })
        {
            SpecTransportSource transport (mixer);
            ResamplingSpecTransportSource resampled (transport, 2);
            transport.prepareToPlay (blockSize, deviceRate);
            resampled.prepareToPlay (blockSize, deviceRate);
            transport.setLoop ({ 0, mixer.getNumFrames() }, true); // play on for as long as we like
            transport.start();

            juce::AudioBuffer<float> device (2, blockSize);
            const juce::AudioSourceChannelInfo info (&device, 0, blockSize);
            auto callback = [&] (bool count) {
                mixer.waitForRing (transport.getPosition(), 10000);
                countingThisThread = count;
                resampled.getNextAudioBlock (info);
                countingThisThread = false;
            };

            for (int i = 0; i < 50; ++i)
                callback (false);

            allocations = 0;
            for (int i = 0; i < 400; ++i)
                callback (true);

            EXPECT_EQ (allocations.load(), 0) << "device rate " << deviceRate << ", block " << blockSize;
            EXPECT_GT (device.getMagnitude (0, blockSize), 0.0f);
            transport.stop();
        }
    }
}

TEST (AudioCallback, TheCounterSeesAllocations)
{
    // The guard of the test above: counting works at all.
    allocations = 0;
    countingThisThread = true;
    auto* v = new std::vector<int> (100);
    countingThisThread = false;
    delete v;
    EXPECT_GE (allocations.load(), 1);
}

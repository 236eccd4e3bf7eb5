#include "SyntheticSong.h"

#include <cmath>

namespace kalder::test
{
namespace
{
    constexpr double twoPi = 2.0 * juce::MathConstants<double>::pi;

    double midiToHz (double midi)
    {
        return 440.0 * std::pow (2.0, (midi - 69.0) / 12.0);
    }

    /** Gain of a vowel's formants at frequency hz: three resonances of an "ah". */
    double formantGain (double hz)
    {
        const double formants[] = { 730.0, 1090.0, 2440.0 };
        const double gains[] = { 1.0, 0.5, 0.25 };
        const double widths[] = { 90.0, 110.0, 170.0 };
        double g = 0.02; // the floor between formants
        for (int i = 0; i < 3; ++i)
        {
            const auto d = (hz - formants[i]) / widths[i];
            g += gains[i] / (1.0 + d * d);
        }
        return g;
    }

    /** Adds a harmonic tone (partials with amplitude 1/h^tilt) to both channels with gains. */
    void addTone (juce::AudioBuffer<float>& out, int start, int length, double hz, double amplitude, double tilt, int partials,
                  double decaySeconds, double sampleRate, float gainLeft, float gainRight)
    {
        for (int i = 0; i < length && start + i < out.getNumSamples(); ++i)
        {
            const auto t = i / sampleRate;
            const auto attack = std::min (1.0, t / 0.01);
            const auto release = std::min (1.0, (length - i) / (0.01 * sampleRate));
            const auto env = amplitude * attack * release * (decaySeconds > 0.0 ? std::exp (-t / decaySeconds) : 1.0);
            double v = 0.0;
            for (int h = 1; h <= partials && h * hz < sampleRate * 0.45; ++h)
                v += std::sin (twoPi * h * hz * t + h) / std::pow ((double) h, tilt);
            out.addSample (0, start + i, (float) (v * env * gainLeft));
            out.addSample (1, start + i, (float) (v * env * gainRight));
        }
    }
} // namespace

juce::AudioBuffer<float> SyntheticSong::other() const
{
    juce::AudioBuffer<float> o (leftChords);
    for (int c = 0; c < 2; ++c)
        o.addFrom (c, 0, rightChords, c, 0, o.getNumSamples());
    return o;
}

juce::AudioBuffer<float> SyntheticSong::mix() const
{
    auto m = other();
    for (const auto* b : { &vocals, &drums, &bass })
        for (int c = 0; c < 2; ++c)
            m.addFrom (c, 0, *b, c, 0, m.getNumSamples());
    return m;
}

SyntheticSong makeSong (const SongOptions& options)
{
    SyntheticSong song;
    const auto sr = options.sampleRate;
    song.sampleRate = sr;
    const auto n = (int) std::lround (options.seconds * sr);
    for (auto* b : { &song.vocals, &song.drums, &song.bass, &song.leftChords, &song.rightChords })
    {
        b->setSize (2, n);
        b->clear();
    }
    juce::Random random (options.seed);
    const auto bar = (int) sr; // one bar a second

    // Accompaniment, bar by bar.
    const int bassLine[] = { 36, 36, 43, 41 };                     // C2 C2 G2 F2, quarter-bar notes
    const int leftChord[][3] = { { 60, 64, 67 }, { 57, 60, 64 } }; // C major, A minor (alternating bars)
    const int rightChord[][3] = { { 72, 76, 79 }, { 69, 72, 76 } };
    for (int barStart = 0, index = 0; barStart < n; barStart += bar, ++index)
    {
        for (int q = 0; q < 4; ++q)
            addTone (song.bass, barStart + q * bar / 4, bar / 4, midiToHz (bassLine[q]), 0.12, 1.0, 8, 0.6, sr, 1.0f, 1.0f);
        for (const auto note : leftChord[index % 2])
            addTone (song.leftChords, barStart, bar, midiToHz (note), 0.07, 1.5, 6, 0.0, sr, 1.0f, 0.0f);
        for (int k = 0; k < 4; ++k) // a plucked part, four hits a bar
            for (const auto note : rightChord[index % 2])
                addTone (song.rightChords, barStart + k * bar / 4, bar / 4, midiToHz (note), 0.08, 1.2, 6, 0.15, sr, 0.0f, 1.0f);

        // Drums: kick on the beat, snare on the off-beat, hats every eighth of a bar.
        for (int i = 0; i < (int) (0.15 * sr) && barStart + i < n; ++i)
        {
            const auto t = i / sr;
            const auto v = (float) (0.5 * std::exp (-t / 0.05)
                                    * std::sin (twoPi * (50.0 * t + 70.0 * 0.03 * (1.0 - std::exp (-t / 0.03)))));
            song.drums.addSample (0, barStart + i, v);
            song.drums.addSample (1, barStart + i, v);
        }
        for (int i = 0; i < (int) (0.15 * sr) && barStart + bar / 2 + i < n; ++i)
        {
            const auto v = (float) (0.25 * std::exp (-(i / sr) / 0.04) * (2.0 * random.nextDouble() - 1.0));
            song.drums.addSample (0, barStart + bar / 2 + i, v);
            song.drums.addSample (1, barStart + bar / 2 + i, v);
        }
        for (int k = 0; k < 8; ++k)
        {
            float previous = 0.0f;
            for (int i = 0; i < (int) (0.04 * sr) && barStart + k * bar / 8 + i < n; ++i)
            {
                const auto white = (float) (2.0 * random.nextDouble() - 1.0);
                const auto v = (float) (0.06 * std::exp (-(i / sr) / 0.01)) * (white - previous); // differenced: high-passed
                previous = white;
                song.drums.addSample (0, barStart + k * bar / 8 + i, v);
                song.drums.addSample (1, barStart + k * bar / 8 + i, v);
            }
        }
    }

    // The voice: notes of 0.4 s on a random walk through a major scale.
    const int scale[] = { 60, 62, 64, 65, 67, 69, 71, 72, 74, 76 };
    const auto noteLength = (int) (0.4 * sr);
    const auto steps = (n + song.guideStepSamples - 1) / song.guideStepSamples;
    song.vocalMidi.assign ((size_t) steps, -1.0f);
    int degree = 4;
    double phase = 0.0, previousMidi = scale[degree] + options.vocalTranspose;
    std::vector<double> midiPerSample ((size_t) n, -1.0);
    for (int start = 0; start < n; start += noteLength)
    {
        degree = juce::jlimit (0, 9, degree + random.nextInt (5) - 2);
        const double target = scale[degree] + options.vocalTranspose;
        for (int i = 0; i < noteLength - (int) (0.03 * sr) && start + i < n; ++i)
        {
            const auto t = (start + i) / sr;
            if (t >= options.vocalRestFrom && t < options.vocalRestTo)
                continue;
            const auto glide = std::min (1.0, i / (0.05 * sr));
            const auto base = previousMidi + (target - previousMidi) * glide;
            const auto midi = base
                              + 0.4 * std::sin (twoPi * 5.5 * t)
                                    * std::min (1.0, i / (0.15 * sr)); // vibrato +-40 cents after onset
            midiPerSample[(size_t) (start + i)] = midi;
            const auto hz = midiToHz (midi);
            phase += twoPi * hz / sr;
            const auto env = 0.2 * std::min (1.0, i / (0.02 * sr))
                             * std::min (1.0, (noteLength - (int) (0.03 * sr) - i) / (0.02 * sr));
            double v = 0.0;
            for (int h = 1; h <= 30 && h * hz < 10000.0; ++h)
                v += formantGain (h * hz) * std::sin (h * phase) / std::sqrt ((double) h);
            song.vocals.setSample (0, start + i, (float) (v * env));
            song.vocals.setSample (1, start + i, (float) (v * env));
        }
        previousMidi = target;
    }
    for (int s = 0; s < steps; ++s)
    {
        const auto centre = std::min (n - 1, s * song.guideStepSamples + song.guideStepSamples / 2);
        song.vocalMidi[(size_t) s] = (float) midiPerSample[(size_t) centre];
    }
    return song;
}

double sdrDb (const juce::AudioBuffer<float>& reference, const juce::AudioBuffer<float>& estimate)
{
    double signal = 0.0, error = 0.0;
    const auto n = std::min (reference.getNumSamples(), estimate.getNumSamples());
    for (int c = 0; c < reference.getNumChannels(); ++c)
        for (int i = 0; i < reference.getNumSamples(); ++i)
        {
            const double s = reference.getSample (c, i);
            const double e = (i < n && c < estimate.getNumChannels()) ? estimate.getSample (c, i) : 0.0;
            signal += s * s;
            error += (s - e) * (s - e);
        }
    return 10.0 * std::log10 ((signal + 1.0e-30) / (error + 1.0e-30));
}

double energy (const juce::AudioBuffer<float>& audio, int start, int length)
{
    double e = 0.0;
    for (int c = 0; c < audio.getNumChannels(); ++c)
        for (int i = start; i < std::min (audio.getNumSamples(), start + length); ++i)
            e += (double) audio.getSample (c, i) * audio.getSample (c, i);
    return e;
}

} // namespace kalder::test

#include "BlockSeparator.h"

#include "signal/AsigUtilities.h"
#include "signal/FFTHelper.h"
#include "signal/OverlapAddSynthesiser.h"
#include "signal/RealFFT.h"

#include <cmath>
#include <cstring>
#include <memory>

namespace kalder::service
{
namespace
{
    // Inputs beyond these are not audio we can sensibly separate; they are refused
    // rather than allocated.
    constexpr int maxChannels = 16;
    constexpr double maxSampleRate = 768000.0;
    constexpr double minSampleRate = 4000.0;

    /** How the stems are stored: the integer depth (8, 16, 24) or 32-bit float. */
    struct OutputFormat
    {
        int bitsPerSample = 16;
        bool isFloat = false;
    };

    OutputFormat chooseOutputFormat (const juce::AudioFormatReader& reader)
    {
        if (reader.usesFloatingPointData || reader.bitsPerSample == 32)
            return { 32, true }; // WAV writes 32-bit as float
        if (reader.bitsPerSample == 8 || reader.bitsPerSample == 16 || reader.bitsPerSample == 24)
            return { (int) reader.bitsPerSample, false };
        return { 24, false }; // e.g. 20-bit FLAC: 24 bits hold it losslessly
    }

    /** A stem being written: its temporary file, its writer and its synthesisers. */
    struct StemOutput
    {
        juce::String name;
        juce::File temporaryFile, finalFile;
        std::unique_ptr<juce::AudioFormatWriter> writer;
        std::vector<std::unique_ptr<OverlapAddSynthesiser>> synthesisers; // one per channel
    };

    void deleteAll (std::vector<StemOutput>& outputs)
    {
        for (auto& o : outputs)
        {
            o.writer.reset();
            o.temporaryFile.deleteFile();
        }
    }
} // namespace

BlockSeparator::BlockSeparator (StemEngine& e, EngineProgress& p) : engine (e), progress (p) {}

juce::Result BlockSeparator::run (const juce::File& input, const juce::File& outputDirectory, std::vector<StemFile>& stems)
{
    stems.clear();
    progress.report (0.0f, "Reading the input");

    juce::AudioFormatManager formats;
    formats.registerBasicFormats();
    std::unique_ptr<juce::AudioFormatReader> reader (formats.createReaderFor (input));
    if (reader == nullptr)
        return juce::Result::fail ("The input audio cannot be read: " + input.getFileName());

    const auto numChannels = (int) reader->numChannels;
    const auto sampleRate = reader->sampleRate;
    const auto numSamples = reader->lengthInSamples;
    if (numChannels < 1 || numChannels > maxChannels)
        return juce::Result::fail ("The input audio has an unsupported channel count (" + juce::String (numChannels) + ")");
    if (! (sampleRate >= minSampleRate && sampleRate <= maxSampleRate))
        return juce::Result::fail ("The input audio has an unsupported sample rate");
    if (numSamples <= 0)
        return juce::Result::fail ("The input audio is empty");

    if (! outputDirectory.isDirectory() && ! outputDirectory.createDirectory())
        return juce::Result::fail ("Cannot create the output folder");

    const FrameGeometry geometry { FFTHelper::getNfftForSampleRate ((int) sampleRate) };
    const auto nfft = geometry.nfft;
    const auto hop = geometry.getHop();
    const auto nFreqs = geometry.getNumFreqs();
    const auto numFrames = (juce::int64) geometry.getNumFramesForSamples (numSamples);
    const auto coreFrames = (juce::int64) juce::jmax (16, juce::roundToInt (coreSeconds * sampleRate / hop));
    const auto contextFrames = (juce::int64) juce::jmax (0, engine.getContextFrames (geometry, sampleRate));
    const auto numSegments = (int) ((numFrames + coreFrames - 1) / coreFrames);
    const auto format = chooseOutputFormat (*reader);

    // The stems' writers, created before any work so that an unwritable folder fails early.
    const auto names = engine.getStemNames();
    const auto residual = engine.getResidualStem();
    std::vector<StemOutput> outputs ((size_t) names.size());
    juce::WavAudioFormat wav;
    for (int s = 0; s < names.size(); ++s)
    {
        auto& o = outputs[(size_t) s];
        o.name = names[s];
        o.finalFile = outputDirectory.getChildFile (names[s] + ".wav");
        o.temporaryFile = outputDirectory.getChildFile (names[s] + ".wav.partial");
        o.temporaryFile.deleteFile();
        auto stream = std::make_unique<juce::FileOutputStream> (o.temporaryFile);
        if (stream->failedToOpen())
        {
            deleteAll (outputs);
            return juce::Result::fail ("Cannot write the stem " + names[s]);
        }
        o.writer.reset (wav.createWriterFor (stream.get(), sampleRate, (unsigned int) numChannels, format.bitsPerSample, {}, 0));
        if (o.writer == nullptr)
        {
            deleteAll (outputs);
            return juce::Result::fail ("Cannot write the stem " + names[s] + " in the input's format");
        }
        stream.release(); // now owned by the writer
        if (s != residual)
            for (int c = 0; c < numChannels; ++c)
                o.synthesisers.push_back (std::make_unique<OverlapAddSynthesiser> (nfft));
    }

    const RealFFT fft (nfft);
    const auto window = AsigUtilities::getHanningWindow (nfft);
    RealFFT::Buffer timeBuffer ((size_t) nfft), ccsBuffer ((size_t) nfft + 2);

    const auto passes = engine.wantsAnalysisPass() ? 2 : 1;
    const auto totalSteps = (float) (passes * numSegments);
    int stepsDone = 0;

    // Per segment buffers, reused.
    SegmentSpectra segment;
    segment.sampleRate = sampleRate;
    segment.geometry = geometry;
    std::vector<std::vector<int>> rawInput ((size_t) numChannels);
    std::vector<std::vector<float>> floatInput ((size_t) numChannels);
    StemSpectra stemSpectra;

    const auto loadSegment = [&] (juce::int64 coreStart) -> bool {
        const auto coreEnd = juce::jmin (numFrames, coreStart + coreFrames);
        const auto first = juce::jmax ((juce::int64) 0, coreStart - contextFrames);
        const auto end = juce::jmin (numFrames, coreEnd + contextFrames);
        const auto cols = (int) (end - first);
        segment.firstFrame = first;
        segment.coreBegin = (int) (coreStart - first);
        segment.coreEnd = (int) (coreEnd - first);

        // Frame f analyses samples [(f - 3) hop, (f + 1) hop); the reader fills with
        // zeros before the first sample and after the last.
        const auto firstSample = geometry.getFirstSampleOfFrame (first);
        const auto length = (cols + FrameGeometry::overlap - 1) * hop;
        std::vector<int*> pointers ((size_t) numChannels);
        for (int c = 0; c < numChannels; ++c)
        {
            rawInput[(size_t) c].assign ((size_t) length, 0);
            pointers[(size_t) c] = rawInput[(size_t) c].data();
        }
        if (! reader->read (pointers.data(), numChannels, firstSample, length, false))
            return false;

        segment.channels.resize ((size_t) numChannels);
        segment.channelMagnitudes.resize ((size_t) numChannels);
        segment.magnitude = MaskMatrix::Zero (nFreqs, cols);
        for (int c = 0; c < numChannels; ++c)
        {
            auto& samples = floatInput[(size_t) c];
            samples.resize ((size_t) length);
            const auto* raw = rawInput[(size_t) c].data();
            if (reader->usesFloatingPointData)
                std::memcpy (samples.data(), raw, sizeof (float) * (size_t) length);
            else
                for (int i = 0; i < length; ++i)
                    samples[(size_t) i] = (float) raw[i] * (1.0f / 2147483648.0f); // left-justified int32

            auto& spectrum = segment.channels[(size_t) c];
            spectrum.resize (nFreqs, cols);
            for (int col = 0; col < cols; ++col)
            {
                std::memcpy (timeBuffer.data(), samples.data() + (size_t) col * (size_t) hop, sizeof (float) * (size_t) nfft);
                AsigUtilities::applywindow (timeBuffer.data(), window.data(), nfft);
                fft.forward (timeBuffer.data(), ccsBuffer.data());
                std::memcpy (static_cast<void*> (spectrum.col (col).data()), ccsBuffer.data(),
                             sizeof (float) * (size_t) (2 * nFreqs));
            }
            segment.channelMagnitudes[(size_t) c] = spectrum.cwiseAbs();
            segment.magnitude += segment.channelMagnitudes[(size_t) c];
        }
        segment.magnitude *= 1.0f / (float) numChannels;
        return true;
    };

    const auto fail = [&] (const juce::String& message) {
        deleteAll (outputs);
        return juce::Result::fail (message);
    };

    const auto segmentLabel = [&] (int index) {
        return " (segment " + juce::String (index + 1) + " of " + juce::String (numSegments) + ")";
    };

    if (engine.wantsAnalysisPass())
    {
        for (int seg = 0; seg < numSegments; ++seg)
        {
            if (progress.shouldStop())
                return fail ("The separation was cancelled");
            progress.report ((float) stepsDone++ / totalSteps, "Analysing the whole input" + segmentLabel (seg));
            if (! loadSegment (seg * coreFrames))
                return fail ("The input audio cannot be read");
            engine.analyseSegment (segment);
        }
        engine.finishAnalysis();
    }

    // Output, one hop at a time: quantised integer stems (or floats), residual last.
    const auto numStems = (int) outputs.size();
    const auto fullScale = std::ldexp (1.0, format.bitsPerSample - 1);
    const auto maxCode = (juce::int64) fullScale - 1;
    const auto shift = 32 - format.bitsPerSample;
    std::vector<std::vector<std::vector<float>>> blocks (
        (size_t) numStems, std::vector<std::vector<float>> ((size_t) numChannels, std::vector<float> ((size_t) hop)));
    std::vector<std::vector<int>> codes ((size_t) numChannels, std::vector<int> ((size_t) hop));
    std::vector<std::vector<int>> residualCodes ((size_t) numChannels, std::vector<int> ((size_t) hop));
    std::vector<const int*> writePointers ((size_t) numChannels + 1, nullptr); // null-terminated for the writer

    for (int seg = 0; seg < numSegments; ++seg)
    {
        if (progress.shouldStop())
            return fail ("The separation was cancelled");
        progress.report ((float) stepsDone++ / totalSteps, engine.getStageName() + segmentLabel (seg));
        if (! loadSegment (seg * coreFrames))
            return fail ("The input audio cannot be read");

        stemSpectra.assign ((size_t) numStems, {});
        engine.separate (segment, stemSpectra);

        for (int col = segment.coreBegin; col < segment.coreEnd; ++col)
        {
            const auto frame = segment.firstFrame + col;
            const auto blockStart = (frame - (FrameGeometry::overlap - 1)) * hop;
            for (int s = 0; s < numStems; ++s)
            {
                if (s == residual)
                    continue;
                const auto& spectra = stemSpectra[(size_t) s];
                jassert ((int) spectra.size() == numChannels);
                for (int c = 0; c < numChannels; ++c)
                    outputs[(size_t) s].synthesisers[(size_t) c]->pushFrame (
                        spectra[(size_t) c].col (col - segment.coreBegin).data(), blocks[(size_t) s][(size_t) c].data());
            }

            if (blockStart < 0)
                continue; // frames 0..2 only prime the overlap-add
            const auto n = (int) juce::jmin ((juce::int64) hop, numSamples - blockStart);
            if (n <= 0)
                continue;
            const auto inputOffset = (size_t) col * (size_t) hop;

            if (format.isFloat)
            {
                if (residual >= 0)
                    for (int c = 0; c < numChannels; ++c)
                    {
                        auto* r = blocks[(size_t) residual][(size_t) c].data();
                        std::memcpy (r, floatInput[(size_t) c].data() + inputOffset, sizeof (float) * (size_t) n);
                        for (int s = 0; s < numStems; ++s)
                            if (s != residual)
                                juce::FloatVectorOperations::subtract (r, blocks[(size_t) s][(size_t) c].data(), n);
                    }
                for (int s = 0; s < numStems; ++s)
                {
                    for (int c = 0; c < numChannels; ++c)
                        writePointers[(size_t) c] = reinterpret_cast<const int*> (blocks[(size_t) s][(size_t) c].data());
                    const auto ok = outputs[(size_t) s].writer->write (writePointers.data(), n);
                    if (! ok)
                        return fail ("Writing the stem " + outputs[(size_t) s].name + " failed");
                }
                continue;
            }

            // Integer output: quantise each stem to the output depth; the residual takes
            // the input's own codes minus the others', so the stems add up exactly.
            for (int c = 0; c < numChannels; ++c)
            {
                const auto* raw = rawInput[(size_t) c].data() + inputOffset;
                for (int i = 0; i < n; ++i)
                    residualCodes[(size_t) c][(size_t) i] = raw[i] >> shift;
            }
            for (int s = 0; s < numStems; ++s)
            {
                if (s == residual)
                    continue;
                for (int c = 0; c < numChannels; ++c)
                {
                    const auto* v = blocks[(size_t) s][(size_t) c].data();
                    auto* code = codes[(size_t) c].data();
                    auto* res = residualCodes[(size_t) c].data();
                    for (int i = 0; i < n; ++i)
                    {
                        const auto q = juce::jlimit (-maxCode - 1, maxCode,
                                                     (juce::int64) std::llround ((double) v[i] * fullScale));
                        res[i] -= (int) q;
                        code[i] = (int) ((juce::uint32) q << shift);
                        // left-justified, as the writer expects
                    }
                    writePointers[(size_t) c] = code;
                }
                const auto ok = outputs[(size_t) s].writer->write (writePointers.data(), n);
                if (! ok)
                    return fail ("Writing the stem " + outputs[(size_t) s].name + " failed");
            }
            if (residual >= 0)
            {
                for (int c = 0; c < numChannels; ++c)
                {
                    auto* res = residualCodes[(size_t) c].data();
                    for (int i = 0; i < n; ++i)
                        res[i] = (int) ((juce::uint32) juce::jlimit (-maxCode - 1, maxCode, (juce::int64) res[i]) << shift);
                    writePointers[(size_t) c] = res;
                }
                const auto ok = outputs[(size_t) residual].writer->write (writePointers.data(), n);
                if (! ok)
                    return fail ("Writing the stem " + outputs[(size_t) residual].name + " failed");
            }
        }
    }

    if (progress.shouldStop())
        return fail ("The separation was cancelled");
    progress.report (1.0f, "Writing the stems");

    for (auto& o : outputs)
    {
        const auto flushed = o.writer->flush();
        o.writer.reset(); // closes the file and completes its header
        if (! flushed)
            return fail ("Writing the stem " + o.name + " failed");
    }
    for (auto& o : outputs)
    {
        o.finalFile.deleteFile();
        if (! o.temporaryFile.moveFileTo (o.finalFile))
        {
            for (auto& done : outputs)
                done.finalFile.deleteFile();
            return fail ("Cannot store the stem " + o.name);
        }
    }
    for (auto& o : outputs)
        stems.push_back ({ o.name, o.finalFile });
    progress.report (1.0f, "Done");
    return juce::Result::ok();
}

} // namespace kalder::service

#include "BlockSeparator.h"

#include "signal/FFTHelper.h"
#include "signal/FrameTransformer.h"
#include "signal/OverlapAddSynthesiser.h"
#include "signal/ParsedAudio.h"
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

    /** A segment's samples, as the analysis transform reads audio: the frames of the
        segment come from the same code that analyses a track for playback. */
    class SegmentAudio final : public ParsedAudio
    {
    public:
        SegmentAudio (const std::vector<std::vector<float>>& s, juce::int64 total, int rate)
            : samples (s), totalSamples (total), sampleRate (rate)
        {}

        void setFirstSample (juce::int64 first) noexcept { firstSample = first; }

        int getNumChannels() const override { return (int) samples.size(); }
        juce::int64 getNumSamples() const override { return totalSamples; }
        int getSampleRate() const override { return sampleRate; }

        void readFrames (int channel, juce::int64 start, int numSamples, float* dest) const override
        {
            const auto& source = samples[(size_t) channel];
            for (int i = 0; i < numSamples; ++i)
            {
                const auto at = start + i - firstSample;
                dest[i] = at >= 0 && at < (juce::int64) source.size() ? source[(size_t) at] : 0.0f;
            }
        }

    private:
        const std::vector<std::vector<float>>& samples;
        const juce::int64 totalSamples;
        const int sampleRate;
        juce::int64 firstSample = 0;
    };

    /** One run of a separation through an engine, step by step: open the input, create
        the stems' writers, an analysis pass when the engine wants one, then each segment
        separated and its core written, and at last the stems stored under their names.
        Any failure deletes what was written. */
    class SeparationRun
    {
    public:
        SeparationRun (StemEngine& e, EngineProgress& p, double seconds) : engine (e), progress (p), coreSeconds (seconds) {}

        ~SeparationRun() { deleteAll (outputs); }

        juce::Result run (const juce::File& input, const juce::File& outputDirectory, std::vector<StemFile>& stems)
        {
            stems.clear();
            progress.report (0.0f, "Reading the input");
            if (auto r = openInput (input); r.failed())
                return r;
            if (! outputDirectory.isDirectory() && ! outputDirectory.createDirectory())
                return juce::Result::fail ("Cannot create the output folder");
            if (auto r = createOutputs (outputDirectory); r.failed())
                return r;
            if (auto r = analysisPass(); r.failed())
                return r;
            for (int seg = 0; seg < numSegments; ++seg)
                if (auto r = separateSegment (seg); r.failed())
                    return r;
            return storeStems (stems);
        }

    private:
        juce::Result openInput (const juce::File& input)
        {
            juce::AudioFormatManager formats;
            formats.registerBasicFormats();
            reader.reset (formats.createReaderFor (input));
            if (reader == nullptr)
                return juce::Result::fail ("The input audio cannot be read: " + input.getFileName());

            numChannels = (int) reader->numChannels;
            sampleRate = reader->sampleRate;
            numSamples = reader->lengthInSamples;
            if (numChannels < 1 || numChannels > maxChannels)
                return juce::Result::fail ("The input audio has an unsupported channel count (" + juce::String (numChannels)
                                           + ")");
            if (! (sampleRate >= minSampleRate && sampleRate <= maxSampleRate))
                return juce::Result::fail ("The input audio has an unsupported sample rate");
            if (numSamples <= 0)
                return juce::Result::fail ("The input audio is empty");

            geometry = FrameGeometry { FFTHelper::getNfftForSampleRate ((int) sampleRate) };
            hop = geometry.getHop();
            numFrames = (juce::int64) geometry.getNumFramesForSamples (numSamples);
            coreFrames = (juce::int64) juce::jmax (16, juce::roundToInt (coreSeconds * sampleRate / hop));
            contextFrames = (juce::int64) juce::jmax (0, engine.getContextFrames (geometry, sampleRate));
            numSegments = (int) ((numFrames + coreFrames - 1) / coreFrames);
            format = chooseOutputFormat (*reader);
            totalSteps = (float) ((engine.wantsAnalysisPass() ? 2 : 1) * numSegments);

            fft = std::make_unique<RealFFT> (geometry.nfft);
            transformer = std::make_unique<FrameTransformer> (geometry, *fft);
            rawInput.resize ((size_t) numChannels);
            floatInput.resize ((size_t) numChannels);
            segmentAudio = std::make_unique<SegmentAudio> (floatInput, numSamples, (int) sampleRate);
            segment.sampleRate = sampleRate;
            segment.geometry = geometry;
            return juce::Result::ok();
        }

        /** The stems' writers, created before any work so that an unwritable folder fails early. */
        juce::Result createOutputs (const juce::File& outputDirectory)
        {
            const auto names = engine.getStemNames();
            residual = engine.getResidualStem();
            outputs.resize ((size_t) names.size());
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
                    return juce::Result::fail ("Cannot write the stem " + names[s]);
                o.writer.reset (
                    wav.createWriterFor (stream.get(), sampleRate, (unsigned int) numChannels, format.bitsPerSample, {}, 0));
                if (o.writer == nullptr)
                    return juce::Result::fail ("Cannot write the stem " + names[s] + " in the input's format");
                stream.release(); // now owned by the writer
                if (s != residual)
                    for (int c = 0; c < numChannels; ++c)
                        o.synthesisers.push_back (std::make_unique<OverlapAddSynthesiser> (geometry.nfft));
            }

            const auto numStems = (int) outputs.size();
            blocks.assign ((size_t) numStems,
                           std::vector<std::vector<float>> ((size_t) numChannels, std::vector<float> ((size_t) hop)));
            codes.assign ((size_t) numChannels, std::vector<int> ((size_t) hop));
            residualCodes.assign ((size_t) numChannels, std::vector<int> ((size_t) hop));
            writePointers.assign ((size_t) numChannels + 1, nullptr); // null-terminated for the writer
            return juce::Result::ok();
        }

        juce::String segmentLabel (int index) const
        {
            return " (segment " + juce::String (index + 1) + " of " + juce::String (numSegments) + ")";
        }

        juce::Result analysisPass()
        {
            if (! engine.wantsAnalysisPass())
                return juce::Result::ok();
            for (int seg = 0; seg < numSegments; ++seg)
            {
                if (progress.shouldStop())
                    return juce::Result::fail ("The separation was cancelled");
                progress.report ((float) stepsDone++ / totalSteps, "Analysing the whole input" + segmentLabel (seg));
                if (! loadSegment (seg * coreFrames))
                    return juce::Result::fail ("The input audio cannot be read");
                engine.analyseSegment (segment);
            }
            engine.finishAnalysis();
            return juce::Result::ok();
        }

        /** Reads the segment whose core starts at frame coreStart, with the engine's
            context on both sides, and analyses it into frames. */
        bool loadSegment (juce::int64 coreStart)
        {
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
            segment.magnitude = MaskMatrix::Zero (geometry.getNumFreqs(), cols);
            segmentAudio->setFirstSample (firstSample);
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
                transformer->transform (*segmentAudio, c, { (int) first, (int) end }, spectrum);
                segment.channelMagnitudes[(size_t) c] = spectrum.cwiseAbs();
                segment.magnitude += segment.channelMagnitudes[(size_t) c];
            }
            segment.magnitude *= 1.0f / (float) numChannels;
            return true;
        }

        juce::Result separateSegment (int seg)
        {
            if (progress.shouldStop())
                return juce::Result::fail ("The separation was cancelled");
            progress.report ((float) stepsDone++ / totalSteps, engine.getStageName() + segmentLabel (seg));
            if (! loadSegment (seg * coreFrames))
                return juce::Result::fail ("The input audio cannot be read");

            stemSpectra.assign (outputs.size(), {});
            engine.separate (segment, stemSpectra);
            for (int col = segment.coreBegin; col < segment.coreEnd; ++col)
                if (auto r = writeColumn (col); r.failed())
                    return r;
            return juce::Result::ok();
        }

        /** Resynthesises the stems' frame at col of the segment, and writes the block of
            samples it completes. */
        juce::Result writeColumn (int col)
        {
            const auto numStems = (int) outputs.size();
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
                return juce::Result::ok(); // frames 0..2 only prime the overlap-add
            const auto n = (int) juce::jmin ((juce::int64) hop, numSamples - blockStart);
            if (n <= 0)
                return juce::Result::ok();
            const auto inputOffset = (size_t) col * (size_t) hop;
            return format.isFloat ? writeFloatBlock (inputOffset, n) : writeIntegerBlock (inputOffset, n);
        }

        juce::Result writeStem (int s, int n)
        {
            if (! outputs[(size_t) s].writer->write (writePointers.data(), n))
                return juce::Result::fail ("Writing the stem " + outputs[(size_t) s].name + " failed");
            return juce::Result::ok();
        }

        /** Float output: the residual is the input minus the other stems. */
        juce::Result writeFloatBlock (size_t inputOffset, int n)
        {
            const auto numStems = (int) outputs.size();
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
                if (auto r = writeStem (s, n); r.failed())
                    return r;
            }
            return juce::Result::ok();
        }

        /** Integer output: each stem quantised to the output depth; the residual takes the
            input's own codes minus the others', so the stems add up exactly. */
        juce::Result writeIntegerBlock (size_t inputOffset, int n)
        {
            const auto numStems = (int) outputs.size();
            const auto fullScale = std::ldexp (1.0, format.bitsPerSample - 1);
            const auto maxCode = (juce::int64) fullScale - 1;
            const auto shift = 32 - format.bitsPerSample;
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
                        code[i] = (int) ((juce::uint32) q << shift); // left-justified, as the writer expects
                    }
                    writePointers[(size_t) c] = code;
                }
                if (auto r = writeStem (s, n); r.failed())
                    return r;
            }
            if (residual < 0)
                return juce::Result::ok();
            for (int c = 0; c < numChannels; ++c)
            {
                auto* res = residualCodes[(size_t) c].data();
                for (int i = 0; i < n; ++i)
                    res[i] = (int) ((juce::uint32) juce::jlimit (-maxCode - 1, maxCode, (juce::int64) res[i]) << shift);
                writePointers[(size_t) c] = res;
            }
            return writeStem (residual, n);
        }

        /** Completes the files and gives them their names; no stem is reported unless all are. */
        juce::Result storeStems (std::vector<StemFile>& stems)
        {
            if (progress.shouldStop())
                return juce::Result::fail ("The separation was cancelled");
            progress.report (1.0f, "Writing the stems");

            for (auto& o : outputs)
            {
                const auto flushed = o.writer->flush();
                o.writer.reset(); // closes the file and completes its header
                if (! flushed)
                    return juce::Result::fail ("Writing the stem " + o.name + " failed");
            }
            for (auto& o : outputs)
            {
                o.finalFile.deleteFile();
                if (! o.temporaryFile.moveFileTo (o.finalFile))
                {
                    for (auto& done : outputs)
                        done.finalFile.deleteFile();
                    return juce::Result::fail ("Cannot store the stem " + o.name);
                }
            }
            for (auto& o : outputs)
                stems.push_back ({ o.name, o.finalFile });
            outputs.clear(); // stored: nothing left to delete
            progress.report (1.0f, "Done");
            return juce::Result::ok();
        }

        StemEngine& engine;
        EngineProgress& progress;
        const double coreSeconds;

        std::unique_ptr<juce::AudioFormatReader> reader;
        int numChannels = 0, numSegments = 0, residual = -1, hop = 0, stepsDone = 0;
        double sampleRate = 0.0;
        juce::int64 numSamples = 0, numFrames = 0, coreFrames = 0, contextFrames = 0;
        FrameGeometry geometry { 1024 };
        OutputFormat format;
        float totalSteps = 1.0f;

        std::unique_ptr<RealFFT> fft;
        std::unique_ptr<FrameTransformer> transformer;
        std::vector<std::vector<int>> rawInput;
        std::vector<std::vector<float>> floatInput;
        std::unique_ptr<SegmentAudio> segmentAudio;
        SegmentSpectra segment;
        StemSpectra stemSpectra;

        std::vector<StemOutput> outputs;
        std::vector<std::vector<std::vector<float>>> blocks; // [stem][channel], one hop
        std::vector<std::vector<int>> codes, residualCodes;
        std::vector<const int*> writePointers;
    };
} // namespace

BlockSeparator::BlockSeparator (StemEngine& e, EngineProgress& p) : engine (e), progress (p) {}

juce::Result BlockSeparator::run (const juce::File& input, const juce::File& outputDirectory, std::vector<StemFile>& stems)
{
    SeparationRun separation (engine, progress, coreSeconds);
    return separation.run (input, outputDirectory, stems);
}

} // namespace kalder::service

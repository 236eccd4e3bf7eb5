#include "AudioFileDecoder.h"

#include "AudioFormats.h"

#include <limits>

namespace kalder
{

namespace
{

    // Samples per channel decoded and written at a time: 8 channels of 32-bit samples
    // make 1 MB per block, and blocks are small enough for smooth progress.
    constexpr int blockSize = 32768;

    // The longest audio accepted, in samples per channel: positions and frame counts
    // downstream are 32-bit (13.5 hours at 44.1 kHz, 3.1 hours at 192 kHz).
    constexpr juce::int64 maxSamples = std::numeric_limits<int>::max();

    // For compressed formats whose header announces the length (FLAC, Ogg), the most
    // decoded values (samples times channels) one byte of file can plausibly yield.
    // FLAC's densest frame, a constant subframe over its largest block of 65535
    // samples, takes a few bytes per channel, about 2 x 10^4 values per byte; lossy
    // codecs stay below 300 even at their lowest rates.
    constexpr juce::int64 maxValuesPerCompressedByte = 32768;

    // Headroom asked on the target's volume beyond the WAV file itself.
    constexpr juce::int64 diskSpaceMargin = 1024 * 1024;

    juce::String quoted (const juce::File& file)
    {
        return "\"" + file.getFileName() + "\"";
    }

    juce::String describeTime (juce::int64 samples, double sampleRate)
    {
        const auto seconds = sampleRate > 0 ? (double) samples / sampleRate : 0.0;
        const auto minutes = (int) (seconds / 60.0);
        return juce::String (minutes) + ":" + juce::String (seconds - minutes * 60.0, 1).paddedLeft ('0', 4);
    }

    /** Four-character chunk id made printable for a message. */
    juce::String describeChunkId (const char* id)
    {
        juce::String s;
        for (int i = 0; i < 4; ++i)
            s << (id[i] >= ' ' && id[i] <= '~' ? juce::String::charToString ((juce::juce_wchar) id[i]) : juce::String ("?"));
        return "\"" + s.trimEnd() + "\"";
    }

    /** Walks the chunks of a RIFF/RF64 (WAV) or FORM (AIFF) file and reports the first
        one that claims more bytes than the file holds after it; JUCE's readers trust
        those sizes and would allocate or read them. Returns an empty string when all
        fit, or when the file is not one of these containers. */
    juce::String findOversizedChunk (const juce::File& file)
    {
        juce::FileInputStream in (file);
        if (in.failedToOpen())
            return {};

        const auto fileSize = in.getTotalLength();
        char id[4] = {};
        if (in.read (id, 4) != 4)
            return {};

        const auto isRiff = std::memcmp (id, "RIFF", 4) == 0;
        const auto isRf64 = std::memcmp (id, "RF64", 4) == 0;
        const auto isForm = std::memcmp (id, "FORM", 4) == 0;
        if (! (isRiff || isRf64 || isForm))
            return {};

        // Skip the container's own size (often wrong in files that play fine, so not
        // checked) and the form type ("WAVE", "AIFF", "AIFC").
        in.setPosition (12);

        // RF64 keeps the real size of the data chunk in its "ds64" chunk.
        juce::int64 rf64DataSize = -1;
        constexpr juce::int64 chunkHeaderSize = 8;
        constexpr juce::uint32 rf64SizeMarker = 0xffffffff;

        while (in.getPosition() + chunkHeaderSize <= fileSize)
        {
            if (in.read (id, 4) != 4)
                break;

            const auto size32 = (juce::uint32) (isForm ? in.readIntBigEndian() : in.readInt());
            auto size = (juce::int64) size32;
            const auto start = in.getPosition();

            if (isRf64 && std::memcmp (id, "ds64", 4) == 0 && size >= 16)
            {
                in.readInt64(); // RIFF size
                rf64DataSize = in.readInt64();
            }
            else if (isRf64 && std::memcmp (id, "data", 4) == 0 && size32 == rf64SizeMarker && rf64DataSize >= 0)
            {
                size = rf64DataSize;
            }

            if (size > fileSize - start)
                return "its " + describeChunkId (id) + " chunk announces " + juce::File::descriptionOfSizeInBytes (size)
                       + " but the file holds only " + juce::File::descriptionOfSizeInBytes (fileSize);

            // Chunks are padded to an even size.
            in.setPosition (start + size + (size & 1));
        }

        return {};
    }

    int outputBitsFor (const juce::AudioFormatReader& reader)
    {
        if (reader.usesFloatingPointData || reader.bitsPerSample > 24)
            return 32; // float: WAV's 32-bit samples are floats when JUCE writes them
        return reader.bitsPerSample > 16 ? 24 : 16;
    }

    /** Lets the WAV writer write to a stream this code keeps: the writer deletes its
        stream before anyone could ask it whether the last writes (the header) failed. */
    class ForwardingOutputStream final : public juce::OutputStream
    {
    public:
        explicit ForwardingOutputStream (juce::OutputStream& targetStream) : target (targetStream) {}

        void flush() override { target.flush(); }
        bool setPosition (juce::int64 pos) override { return note (target.setPosition (pos)); }
        juce::int64 getPosition() override { return target.getPosition(); }
        bool write (const void* data, size_t numBytes) override { return note (target.write (data, numBytes)); }

        bool hasFailed() const noexcept { return failed; }

    private:
        bool note (bool ok) noexcept
        {
            failed = failed || ! ok;
            return ok;
        }

        juce::OutputStream& target;
        bool failed = false;
    };

    juce::Result checkFormat (const juce::File& source, const juce::AudioFormatReader& reader, bool isCompressed)
    {
        const auto name = quoted (source);

        if (reader.numChannels == 0)
            return juce::Result::fail (name + " has no audio channels.");

        if ((int) reader.numChannels > AudioFileDecoder::maxChannels)
            return juce::Result::fail (name + " has " + juce::String (reader.numChannels) + " channels; at most "
                                       + juce::String (AudioFileDecoder::maxChannels) + " are supported.");

        if (! (reader.sampleRate >= AudioFileDecoder::minSampleRate && reader.sampleRate <= AudioFileDecoder::maxSampleRate))
            return juce::Result::fail (name + " has a sample rate of " + juce::String (reader.sampleRate, 0)
                                       + " Hz; rates from 8 kHz to 192 kHz are supported.");

        if (reader.lengthInSamples <= 0)
            return juce::Result::fail (name + " contains no audio.");

        const auto fileSize = source.getSize();
        const auto values = reader.lengthInSamples * (juce::int64) reader.numChannels;

        if (! isCompressed)
        {
            const auto bytesPerSample = (juce::int64) juce::jmax (1u, (reader.bitsPerSample + 7) / 8);
            if (values * bytesPerSample > fileSize)
                return juce::Result::fail (name + " is truncated or damaged: its header announces "
                                           + juce::File::descriptionOfSizeInBytes (values * bytesPerSample)
                                           + " of audio but the file holds only "
                                           + juce::File::descriptionOfSizeInBytes (fileSize) + ".");
        }
        else if (values / maxValuesPerCompressedByte > fileSize)
        {
            return juce::Result::fail (
                name + " is damaged: its header announces " + describeTime (reader.lengthInSamples, reader.sampleRate)
                + " of audio, far more than a file of " + juce::File::descriptionOfSizeInBytes (fileSize) + " can hold.");
        }

        if (reader.lengthInSamples > maxSamples)
            return juce::Result::fail (name + " is longer than the longest audio supported ("
                                       + describeTime (maxSamples, reader.sampleRate) + ").");

        return juce::Result::ok();
    }

    /** Why writing the WAV file stopped. */
    enum class Outcome
    {
        written,
        sourceFailed, // the reader could not deliver the audio: another format may
        otherFailure  // cancelled, or the target could not be written
    };

    /** Decodes everything reader announces into a temporary file beside target and
        renames it over target when complete. */
    Outcome writeWavFile (juce::AudioFormatReader& reader, const juce::File& source, const juce::File& target, Progress* progress,
                          DecodedAudioInfo& info, juce::Result& result)
    {
        const auto name = quoted (source);
        const auto targetName = quoted (target);
        const auto fail = [&result] (Outcome outcome, const juce::String& message) {
            result = juce::Result::fail (message);
            return outcome;
        };

        const auto numChannels = (int) reader.numChannels;
        const auto numSamples = reader.lengthInSamples;
        const auto sampleRate = juce::roundToInt (reader.sampleRate);
        const auto bits = outputBitsFor (reader);
        const auto writeFloats = bits == 32;

        // Refuse early rather than fill the disk: the WAV file's size is known.
        const auto folder = target.getParentDirectory();
        const auto dataBytes = numSamples * numChannels * (bits / 8);
        if (const auto freeBytes = folder.getBytesFreeOnVolume(); freeBytes > 0 && freeBytes < dataBytes + diskSpaceMargin)
            return fail (Outcome::otherFailure, "Not enough disk space to decode " + name + ": it needs "
                                                    + juce::File::descriptionOfSizeInBytes (dataBytes + diskSpaceMargin) + " and "
                                                    + juce::File::descriptionOfSizeInBytes (freeBytes) + " are free.");

        juce::TemporaryFile temporary (target, juce::TemporaryFile::useHiddenFile);
        auto fileStream = std::make_unique<juce::FileOutputStream> (temporary.getFile());
        if (fileStream->failedToOpen())
            return fail (Outcome::otherFailure, "Cannot write " + targetName + ": " + fileStream->getStatus().getErrorMessage());

        // The writer owns (and deletes) an outer forwarder; this one outlives it and
        // remembers whether any write, the header's included, failed.
        ForwardingOutputStream forwarder (*fileStream);
        std::unique_ptr<juce::AudioFormatWriter> writer (
            juce::WavAudioFormat().createWriterFor (new ForwardingOutputStream (static_cast<juce::OutputStream&> (forwarder)),
                                                    sampleRate, (unsigned int) numChannels, bits, {}, 0));
        if (writer == nullptr)
            return fail (Outcome::otherFailure, "Cannot write " + targetName + ": the WAV writer refused the format.");

        const auto writeFailure = [&] {
            const auto status = fileStream->getStatus();
            return fail (Outcome::otherFailure,
                         "Cannot write " + targetName + ": "
                             + (status.failed() ? status.getErrorMessage() : juce::String ("the disk may be full.")));
        };

        if (progress != nullptr)
            progress->setNumSteps ((int) ((numSamples + blockSize - 1) / blockSize));

        juce::HeapBlock<int> samples ((size_t) numChannels * blockSize);
        juce::HeapBlock<int*> channels ((size_t) numChannels);
        for (int c = 0; c < numChannels; ++c)
            channels[c] = samples + (size_t) c * blockSize;

        for (juce::int64 position = 0; position < numSamples; position += blockSize)
        {
            if (progress != nullptr && progress->isCancelled())
                return fail (Outcome::otherFailure, "Opening " + name + " was cancelled.");

            const auto n = (int) juce::jmin ((juce::int64) blockSize, numSamples - position);
            const auto readOk = writeFloats
                                    ? reader.read (reinterpret_cast<float* const*> (channels.get()), numChannels, position, n)
                                    : reader.read (channels.get(), numChannels, position, n, false);
            if (! readOk)
                return fail (Outcome::sourceFailed, name + " is truncated or damaged: decoding failed at "
                                                        + describeTime (position, sampleRate) + " of "
                                                        + describeTime (numSamples, sampleRate) + ".");

            const auto writeOk = writeFloats ? writer->writeFromFloatArrays (
                                     reinterpret_cast<const float* const*> (channels.get()), numChannels, n)
                                             : writer->write (const_cast<const int**> (channels.get()), n);
            if (! writeOk || forwarder.hasFailed())
                return writeFailure();

            if (progress != nullptr)
                progress->advance();
        }

        // Deleting the writer writes the final header through the forwarder.
        writer.reset();
        fileStream->flush();
        if (forwarder.hasFailed() || fileStream->getStatus().failed())
            return writeFailure();

        fileStream.reset();
        if (temporary.getFile().getSize() < dataBytes)
            return writeFailure();

        if (! temporary.overwriteTargetFileWithTemporary())
            return fail (Outcome::otherFailure, "Cannot write " + targetName + ": it could not be replaced.");

        info.sampleRate = sampleRate;
        info.numChannels = numChannels;
        info.bitsPerSample = bits;
        info.isFloatingPoint = writeFloats;
        info.numSamples = numSamples;
        info.formatName = reader.getFormatName();
        return Outcome::written;
    }

} // namespace

//==============================================================================
juce::Result AudioFileDecoder::decodeToWav (const juce::File& source, const juce::File& wavTarget, Progress::Ptr progress,
                                            DecodedAudioInfo& info)
{
    info = {};
    const auto name = quoted (source);

    if (source.isDirectory())
        return juce::Result::fail (name + " is a folder, not an audio file.");

    if (! source.existsAsFile())
        return juce::Result::fail (name + " does not exist.");

    if (source.getSize() == 0)
        return juce::Result::fail (name + " is empty.");

    if (wavTarget.isDirectory())
        return juce::Result::fail ("Cannot write " + quoted (wavTarget) + ": a folder of that name is in the way.");

    if (const auto folder = wavTarget.getParentDirectory(); ! folder.isDirectory())
        return juce::Result::fail ("Cannot write " + quoted (wavTarget) + ": its folder " + folder.getFullPathName()
                                   + " does not exist.");

    if (const auto oversized = findOversizedChunk (source); oversized.isNotEmpty())
        return juce::Result::fail (name + " is truncated or damaged: " + oversized + ".");

    // Every format that claims the file gets its turn, in registration order, until
    // one decodes it: JUCE's readers first, FFmpeg for whatever they fail on.
    auto formats = AudioFormats::createManager();
    auto result = juce::Result::fail (name + " is not an audio file in a format that can be read, or it is damaged.");
    auto firstSourceFailure = juce::Result::ok();
    auto attemptProgress = progress;

    for (auto* format : *formats)
    {
        if (! format->canHandleFile (source))
            continue;

        // JUCE's readers dereference the stream they are given without a check.
        auto stream = source.createInputStream();
        if (stream == nullptr)
            return juce::Result::fail (name + " cannot be read (no permission, or the file is locked).");

        std::unique_ptr<juce::AudioFormatReader> reader (format->createReaderFor (stream.release(), true));
        if (reader == nullptr)
            continue;

        // A header that is out of range or impossible is the file's fault, whoever reads it.
        if (auto checked = checkFormat (source, *reader, format->isCompressed()); checked.failed())
            return checked;

        const auto outcome = writeWavFile (*reader, source, wavTarget, attemptProgress.get(), info, result);
        if (outcome == Outcome::written)
        {
            if (progress != nullptr)
                progress->finish();
            return juce::Result::ok();
        }

        info = {};
        if (outcome == Outcome::otherFailure)
            return result;

        if (firstSourceFailure.wasOk())
            firstSourceFailure = result;

        // The next attempt reports over what is left of the range, so that the
        // progress keeps moving instead of waiting for the failed attempt's mark.
        if (progress != nullptr)
        {
            const auto range = progress->getRange();
            const auto done = range.isEmpty() ? 1.0f : (progress->getProgress() - range.getStart()) / range.getLength();
            attemptProgress = progress->addChild ({ done, 1.0f });
        }
    }

    return firstSourceFailure.failed() ? firstSourceFailure : result;
}

} // namespace kalder

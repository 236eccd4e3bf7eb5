#include "RequestFileReader.h"

#include "ParameterCodes.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <FLAC/stream_decoder.h>

namespace kalder::separation
{

namespace
{
    juce::Result fail (const juce::String& message)
    {
        return juce::Result::fail ("Invalid request file: " + message);
    }

    bool readExactly (juce::InputStream& in, void* dest, int numBytes)
    {
        return in.read (dest, numBytes) == numBytes;
    }

    juce::Result readRecords (juce::FileInputStream& in, int numRecords, const RequestFileReader::Limits& limits,
                              SeparationRequest& result)
    {
        juce::Array<int> seenCodes;

        for (int i = 0; i < numRecords; ++i)
        {
            if (in.getNumBytesRemaining() < SeparationRequest::recordHeaderSize)
                return fail ("the file ends inside parameter " + juce::String (i + 1));

            const auto code = in.readInt();
            const auto type = static_cast<unsigned char> (in.readByte());
            in.skipNextBytes (3);
            const auto size = static_cast<juce::uint32> (in.readInt());

            if (static_cast<juce::int64> (size) > in.getNumBytesRemaining())
                return fail ("parameter " + juce::String (i + 1) + " claims more bytes than the file holds");
            if (seenCodes.contains (code))
                return fail ("the parameter code " + juce::String (code) + " appears twice");
            seenCodes.add (code);

            if (code == ParameterCodes::pitchGuideCode)
            {
                if (result.module != static_cast<int> (ModuleNumber::vocals))
                    return fail ("only the vocal module takes a pitch guide");
                if (type != static_cast<int> (SeparationRequest::RecordType::pitchGuide) || size < 8)
                    return fail ("the pitch guide record is malformed");

                const auto step = in.readInt();
                const auto count = static_cast<juce::uint32> (in.readInt());
                if (step <= 0)
                    return fail ("the pitch guide's step must be at least one sample");
                if (count > static_cast<juce::uint32> (limits.maxGuideSteps) || size != 8 + 4 * static_cast<juce::int64> (count))
                    return fail ("the pitch guide's length does not match its record");

                result.guideStepSamples = step;
                result.pitchGuide.resize (count);
                for (auto& p : result.pitchGuide)
                {
                    p = in.readFloat();
                    if (! std::isfinite (p) || (p != -1.0f && (p < 0.0f || p >= 128.0f)))
                        return fail ("the pitch guide holds a pitch outside -1 and 0 to 128");
                }
                continue;
            }

            const auto info = ParameterCodes::findByCode (result.module, code);
            if (! info.has_value())
                return fail ("the module " + juce::String (result.module) + " has no parameter with code " + juce::String (code));

            juce::var value;
            if (type == static_cast<int> (SeparationRequest::RecordType::integer))
            {
                if (size != 4)
                    return fail ("the integer parameter \"" + info->name + "\" is not 4 bytes long");
                value = in.readInt();
            }
            else if (type == static_cast<int> (SeparationRequest::RecordType::text))
            {
                if (size > static_cast<juce::uint32> (limits.maxTextBytes))
                    return fail ("the value of \"" + info->name + "\" is too long");
                juce::HeapBlock<char> text (size + 1, true);
                if (! readExactly (in, text.get(), static_cast<int> (size)))
                    return fail ("the file ends inside \"" + info->name + "\"");
                if (! juce::CharPointer_UTF8::isValidString (text.get(), static_cast<int> (size)))
                    return fail ("the value of \"" + info->name + "\" is not UTF-8 text");
                value = juce::String::fromUTF8 (text.get(), static_cast<int> (size));
            }
            else
            {
                return fail ("parameter \"" + info->name + "\" has the unknown record type " + juce::String (type));
            }

            const auto normalised = ParameterCodes::normaliseValue (*info, value);
            if (! normalised.has_value())
                return fail ("the value \"" + value.toString() + "\" is not accepted for \"" + info->name + "\"");
            result.parameters.set (info->name, *normalised);
        }
        return juce::Result::ok();
    }

    /** Decodes a whole FLAC stream and checks it against the MD5 signature its header
        carries. JUCE's reader skips damaged frames silently (they read as silence), so a
        stream corrupted in the middle would otherwise be separated as if it were whole. */
    juce::Result verifyFlacStream (const juce::File& file, juce::int64 expectedFrames)
    {
        struct Decoding
        {
            juce::int64 frames = 0;
            bool damaged = false;
        } decoding;

        const auto write = [] (const FLAC__StreamDecoder*, const FLAC__Frame* frame, const FLAC__int32* const*, void* data) {
            static_cast<Decoding*> (data)->frames += frame->header.blocksize;
            return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
        };
        const auto error = [] (const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void* data) {
            static_cast<Decoding*> (data)->damaged = true;
        };

        std::unique_ptr<FLAC__StreamDecoder, void (*) (FLAC__StreamDecoder*)> decoder (FLAC__stream_decoder_new(),
                                                                                       &FLAC__stream_decoder_delete);
        if (decoder == nullptr)
            return juce::Result::fail ("Cannot check the FLAC stream");

        FLAC__stream_decoder_set_md5_checking (decoder.get(), true);
        if (FLAC__stream_decoder_init_file (decoder.get(), file.getFullPathName().toRawUTF8(), write, nullptr, error, &decoding)
            != FLAC__STREAM_DECODER_INIT_STATUS_OK)
            return juce::Result::fail ("Cannot check the FLAC stream");

        const auto processed = FLAC__stream_decoder_process_until_end_of_stream (decoder.get());
        const auto signatureMatches = FLAC__stream_decoder_finish (decoder.get());

        if (! processed || decoding.damaged || ! signatureMatches)
            return fail ("the FLAC stream is damaged");
        if (decoding.frames != expectedFrames)
            return fail ("the FLAC stream holds " + juce::String (decoding.frames) + " frames, not the "
                         + juce::String (expectedFrames) + " its header announces");
        return juce::Result::ok();
    }

    juce::Result checkAudio (const SeparationRequest& request)
    {
        std::unique_ptr<juce::AudioFormat> format;
        if (request.encoding == SeparationRequest::AudioEncoding::flac)
            format = std::make_unique<juce::FlacAudioFormat>();
        else
            format = std::make_unique<juce::WavAudioFormat>();

        auto stream = request.audioFile.createInputStream();
        if (stream == nullptr)
            return juce::Result::fail ("Cannot read the extracted audio");

        std::unique_ptr<juce::AudioFormatReader> reader (format->createReaderFor (stream.release(), true));
        if (reader == nullptr)
            return fail ("the audio is not a readable " + format->getFormatName() + " stream");

        if (reader->sampleRate != request.sampleRate || static_cast<int> (reader->numChannels) != request.numChannels
            || static_cast<int> (reader->bitsPerSample) != request.bitsPerSample || reader->lengthInSamples != request.numFrames)
            return fail ("the audio stream does not match the sample rate, channels, bit depth or length its header announces");

        if (request.encoding == SeparationRequest::AudioEncoding::flac)

            return verifyFlacStream (request.audioFile, request.numFrames);

        return juce::Result::ok();
    }
} // namespace

juce::Result RequestFileReader::read (const juce::File& requestFile, const juce::File& audioDirectory, SeparationRequest& result)
{
    return read (requestFile, audioDirectory, result, Limits());
}

juce::Result RequestFileReader::read (const juce::File& requestFile, const juce::File& audioDirectory, SeparationRequest& result,
                                      const Limits& limits)
{
    result = SeparationRequest();

    juce::FileInputStream in (requestFile);
    if (in.failedToOpen())
        return juce::Result::fail ("Cannot open the request file");

    char magic[4] {};
    if (in.getTotalLength() < SeparationRequest::headerSize || ! readExactly (in, magic, 4)
        || std::memcmp (magic, SeparationRequest::magic, 4) != 0)
        return fail ("it does not start with \"KSRQ\"");

    const auto version = static_cast<unsigned short> (in.readShort());
    const auto headerSize = static_cast<unsigned short> (in.readShort());
    if (version != SeparationRequest::formatVersion)
        return fail ("version " + juce::String (version) + " is not supported (this service reads version "
                     + juce::String (SeparationRequest::formatVersion) + ")");
    if (headerSize < SeparationRequest::headerSize || headerSize > in.getTotalLength())
        return fail ("the header size " + juce::String (headerSize) + " is wrong");

    result.module = in.readInt();
    result.algorithm = in.readInt();
    const auto numRecords = static_cast<juce::uint32> (in.readInt());
    in.skipNextBytes (4 + headerSize - SeparationRequest::headerSize); // flags and any newer header fields

    if (! ParameterCodes::isKnownModule (result.module))
        return fail ("the module " + juce::String (result.module) + " is unknown");
    if (numRecords > static_cast<juce::uint32> (limits.maxRecords))
        return fail ("it holds " + juce::String (numRecords) + " parameters, more than " + juce::String (limits.maxRecords));

    if (auto r = readRecords (in, static_cast<int> (numRecords), limits, result); r.failed())
        return r;

    char tag[4] {};
    if (in.getNumBytesRemaining() < SeparationRequest::audioHeaderSize || ! readExactly (in, tag, 4)
        || std::memcmp (tag, SeparationRequest::audioTag, 4) != 0)
        return fail ("the audio section is missing");

    const auto encoding = static_cast<unsigned char> (in.readByte());
    in.skipNextBytes (3);
    const auto sampleRate = in.readInt();
    const auto numChannels = static_cast<unsigned short> (in.readShort());
    const auto bits = static_cast<unsigned short> (in.readShort());
    const auto numFrames = in.readInt64();
    const auto numBytes = in.readInt64();

    if (encoding == static_cast<int> (SeparationRequest::AudioEncoding::flac))
    {
        result.encoding = SeparationRequest::AudioEncoding::flac;
        if (bits != 16 && bits != 24)
            return fail ("FLAC audio must have 16 or 24 bits");
    }
    else if (encoding == static_cast<int> (SeparationRequest::AudioEncoding::wav))
    {
        result.encoding = SeparationRequest::AudioEncoding::wav;
        if (bits != 16 && bits != 24 && bits != 32)
            return fail ("WAV audio must have 16, 24 or 32 bits");
    }
    else
    {
        return fail ("the audio encoding " + juce::String (encoding) + " is unknown");
    }

    if (sampleRate < 8000 || sampleRate > 384000)
        return fail ("the sample rate " + juce::String (sampleRate) + " Hz is outside 8000 to 384000");
    if (numChannels < 1 || numChannels > limits.maxChannels)
        return fail ("the audio has " + juce::String (numChannels) + " channels");
    if (numFrames < 1)
        return fail ("the audio is empty");
    if (numBytes < 0 || numBytes > limits.maxAudioBytes || numBytes != in.getNumBytesRemaining())
        return fail ("the audio section's length does not match the file");

    result.sampleRate = sampleRate;
    result.numChannels = numChannels;
    result.bitsPerSample = bits;
    result.numFrames = numFrames;

    if (! result.pitchGuide.empty()
        && static_cast<juce::int64> (result.pitchGuide.size() - 1) * result.guideStepSamples >= numFrames)
        return fail ("the pitch guide is longer than the audio");

    if (! audioDirectory.createDirectory())
        return juce::Result::fail ("Cannot create " + audioDirectory.getFullPathName());

    result.audioFile = audioDirectory.getChildFile ("input" + SeparationRequest::getExtension (result.encoding));
    {
        result.audioFile.deleteFile();
        juce::FileOutputStream out (result.audioFile);
        if (out.failedToOpen() || out.writeFromInputStream (in, numBytes) != numBytes)
        {
            result.audioFile.deleteFile();
            return juce::Result::fail ("Cannot extract the audio from the request file");
        }
        out.flush();
        if (out.getStatus().failed())
        {
            result.audioFile.deleteFile();
            return juce::Result::fail ("Cannot extract the audio from the request file: " + out.getStatus().getErrorMessage());
        }
    }

    if (auto r = checkAudio (result); r.failed())
    {
        result.audioFile.deleteFile();
        return r;
    }
    return juce::Result::ok();
}

} // namespace kalder::separation

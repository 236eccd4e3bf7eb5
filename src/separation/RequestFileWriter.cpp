#include "RequestFileWriter.h"

#include "ParameterCodes.h"

#include <juce_audio_formats/juce_audio_formats.h>

namespace kalder::separation
{

namespace
{
    std::unique_ptr<juce::AudioFormat> makeFormat (SeparationRequest::AudioEncoding encoding)
    {
        if (encoding == SeparationRequest::AudioEncoding::flac)
            return std::make_unique<juce::FlacAudioFormat>();
        return std::make_unique<juce::WavAudioFormat>();
    }

    /** Opens an existing file as FLAC or WAV, whichever its content is. */
    std::unique_ptr<juce::AudioFormatReader> openLossless (const juce::File& file, SeparationRequest::AudioEncoding& encoding)
    {
        for (auto candidate : { SeparationRequest::AudioEncoding::flac, SeparationRequest::AudioEncoding::wav })
        {
            auto format = makeFormat (candidate);
            if (auto stream = file.createInputStream())
            {
                if (auto* reader = format->createReaderFor (stream.release(), true))
                {
                    encoding = candidate;
                    return std::unique_ptr<juce::AudioFormatReader> (reader);
                }
            }
        }
        return nullptr;
    }
} // namespace

RequestFileWriter::RequestFileWriter (int moduleNumber, int algorithmNumber) : module (moduleNumber), algorithm (algorithmNumber)
{}

juce::Result RequestFileWriter::addParameter (const juce::String& name, const juce::var& value)
{
    const auto info = ParameterCodes::findByName (module, name);
    if (! info.has_value())
        return juce::Result::fail ("The module " + juce::String (module) + " has no parameter \"" + name + "\"");

    for (const auto& r : records)
        if (r.code == info->code)
            return juce::Result::fail ("The parameter \"" + name + "\" was already added");

    const auto normalised = ParameterCodes::normaliseValue (*info, value);
    if (! normalised.has_value())
        return juce::Result::fail ("The value \"" + value.toString() + "\" is not accepted for \"" + name + "\"");

    Record record { info->code, SeparationRequest::RecordType::text, {} };
    if (info->kind == ParameterInfo::Kind::integer)
    {
        record.type = SeparationRequest::RecordType::integer;
        juce::MemoryOutputStream out (record.payload, false);
        out.writeInt (static_cast<int> (*normalised));
    }
    else
    {
        const auto text = normalised->toString().toStdString();
        record.payload.append (text.data(), text.size());
    }
    records.push_back (std::move (record));
    return juce::Result::ok();
}

juce::Result RequestFileWriter::addParameters (const juce::NamedValueSet& parameters)
{
    for (const auto& p : parameters)
    {
        const auto result = addParameter (p.name.toString(), p.value);
        if (result.failed())
            return result;
    }
    return juce::Result::ok();
}

juce::Result RequestFileWriter::setPitchGuide (std::vector<float> pitches, int stepSamples)
{
    if (module != static_cast<int> (ModuleNumber::vocals))
        return juce::Result::fail ("Only the vocal module takes a pitch guide");
    if (stepSamples <= 0)
        return juce::Result::fail ("The pitch guide's step must be at least one sample");
    for (auto p : pitches)
        if (! std::isfinite (p) || (p != -1.0f && (p < 0.0f || p >= 128.0f)))
            return juce::Result::fail ("The pitch guide holds a pitch outside -1 and 0 to 128");

    Record record { ParameterCodes::pitchGuideCode, SeparationRequest::RecordType::pitchGuide, {} };
    {
        juce::MemoryOutputStream out (record.payload, false);
        out.writeInt (stepSamples);
        out.writeInt (static_cast<int> (pitches.size()));
        for (auto p : pitches)
            out.writeFloat (p);
    }

    records.erase (std::remove_if (records.begin(), records.end(),
                                   [] (const Record& r) { return r.code == ParameterCodes::pitchGuideCode; }),
                   records.end());
    records.push_back (std::move (record));
    return juce::Result::ok();
}

juce::Result RequestFileWriter::writeWithAudio (const juce::File& target, const juce::AudioBuffer<float>& audio, int sampleRate,
                                                int bitsPerSample, SeparationRequest::AudioEncoding encoding) const
{
    if (audio.getNumChannels() < 1 || audio.getNumSamples() < 1)
        return juce::Result::fail ("There is no audio to send");

    juce::TemporaryFile encoded (target.withFileExtension (SeparationRequest::getExtension (encoding)));
    {
        auto format = makeFormat (encoding);
        if (! format->getPossibleBitDepths().contains (bitsPerSample))
            return juce::Result::fail ("The encoding does not take " + juce::String (bitsPerSample) + " bits");

        auto stream = encoded.getFile().createOutputStream();
        if (stream == nullptr)
            return juce::Result::fail ("Cannot write " + encoded.getFile().getFullPathName());

        std::unique_ptr<juce::AudioFormatWriter> writer (format->createWriterFor (
            stream.get(), sampleRate, static_cast<unsigned int> (audio.getNumChannels()), bitsPerSample, {}, 0));
        if (writer == nullptr)
            return juce::Result::fail ("The audio cannot be encoded with this sample rate, bit depth and channel count");
        stream.release(); // the writer owns it now

        if (! writer->writeFromAudioSampleBuffer (audio, 0, audio.getNumSamples()))
            return juce::Result::fail ("Writing the encoded audio failed");
    }

    return writeFile (target, encoded.getFile(), encoding, sampleRate, audio.getNumChannels(), bitsPerSample,
                      audio.getNumSamples());
}

juce::Result RequestFileWriter::writeWithAudioFile (const juce::File& target, const juce::File& audioFile) const
{
    auto encoding = SeparationRequest::AudioEncoding::flac;
    auto reader = openLossless (audioFile, encoding);
    if (reader == nullptr)
        return juce::Result::fail ("Only FLAC and WAV audio can be sent: " + audioFile.getFileName());

    const auto rate = reader->sampleRate;
    if (rate != std::floor (rate))
        return juce::Result::fail ("The sample rate must be a whole number of Hz");

    return writeFile (target, audioFile, encoding, static_cast<int> (rate), static_cast<int> (reader->numChannels),
                      static_cast<int> (reader->bitsPerSample), reader->lengthInSamples);
}

juce::Result RequestFileWriter::writeFile (const juce::File& target, const juce::File& encodedAudio,
                                           SeparationRequest::AudioEncoding encoding, int sampleRate, int numChannels,
                                           int bitsPerSample, juce::int64 numFrames) const
{
    juce::TemporaryFile temporary (target);
    {
        juce::FileOutputStream out (temporary.getFile());
        if (out.failedToOpen())
            return juce::Result::fail ("Cannot write " + temporary.getFile().getFullPathName());

        out.write (SeparationRequest::magic, 4);
        out.writeShort (static_cast<short> (SeparationRequest::formatVersion));
        out.writeShort (static_cast<short> (SeparationRequest::headerSize));
        out.writeInt (module);
        out.writeInt (algorithm);
        out.writeInt (static_cast<int> (records.size()));
        out.writeInt (0); // flags, none defined yet

        for (const auto& r : records)
        {
            out.writeInt (r.code);
            out.writeByte (static_cast<char> (r.type));
            out.writeByte (0);
            out.writeByte (0);
            out.writeByte (0);
            out.writeInt (static_cast<int> (r.payload.getSize()));
            out.write (r.payload.getData(), r.payload.getSize());
        }

        juce::FileInputStream audio (encodedAudio);
        if (audio.failedToOpen())
            return juce::Result::fail ("Cannot read " + encodedAudio.getFullPathName());

        out.write (SeparationRequest::audioTag, 4);
        out.writeByte (static_cast<char> (encoding));
        out.writeByte (0);
        out.writeByte (0);
        out.writeByte (0);
        out.writeInt (sampleRate);
        out.writeShort (static_cast<short> (numChannels));
        out.writeShort (static_cast<short> (bitsPerSample));
        out.writeInt64 (numFrames);
        out.writeInt64 (audio.getTotalLength());

        if (out.writeFromInputStream (audio, -1) != audio.getTotalLength())
            return juce::Result::fail ("Copying the audio into the request file failed");

        out.flush();
        if (out.getStatus().failed())
            return juce::Result::fail ("Writing the request file failed: " + out.getStatus().getErrorMessage());
    }

    if (! temporary.overwriteTargetFileWithTemporary())
        return juce::Result::fail ("Cannot replace " + target.getFullPathName());
    return juce::Result::ok();
}

} // namespace kalder::separation

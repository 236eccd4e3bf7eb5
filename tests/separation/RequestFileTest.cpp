#include "ServiceTestHelpers.h"

#include "separation/ParameterCodes.h"
#include "separation/RequestFileReader.h"
#include "support/AudioTestFiles.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <gtest/gtest.h>

using namespace kalder;
using separation::RequestFileReader;
using separation::RequestFileWriter;
using separation::SeparationRequest;

namespace
{
juce::MemoryBlock load (const juce::File& f)
{
    juce::MemoryBlock block;
    f.loadFileAsData (block);
    return block;
}

juce::File save (const juce::File& dir, const juce::MemoryBlock& bytes)
{
    const auto f = dir.getNonexistentChildFile ("edited", ".ksrq");
    f.replaceWithData (bytes.getData(), bytes.getSize());
    return f;
}

void putInt (juce::MemoryBlock& b, size_t offset, juce::int32 v)
{
    const auto le = juce::ByteOrder::swapIfBigEndian (static_cast<juce::uint32> (v));
    std::memcpy (static_cast<char*> (b.getData()) + offset, &le, 4);
}

juce::String readError (const juce::File& requestFile, const juce::File& audioDir)
{
    SeparationRequest request;
    const auto r = RequestFileReader::read (requestFile, audioDir, request);
    return r.failed() ? r.getErrorMessage() : juce::String();
}

/** A vocal request with one integer, one text parameter and a guide: header 24 bytes,
    records at 24 (sourcePosition, 12 + 4), 40 (mode, 12 + 6 "Guided"), 58 (guide). */
struct VocalFile
{
    juce::File file;
    juce::AudioBuffer<float> audio;
};

VocalFile writeVocalFile (const juce::File& dir, SeparationRequest::AudioEncoding encoding, int bits)
{
    RequestFileWriter writer (1, 1);
    EXPECT_TRUE (writer.addParameter ("sourcePosition", 2).wasOk());
    EXPECT_TRUE (writer.addParameter ("mode", "Guided").wasOk());
    EXPECT_TRUE (writer.setPitchGuide ({ -1.0f, 57.0f, 57.5f, -1.0f }, 2000).wasOk());

    VocalFile v { dir.getNonexistentChildFile ("vocal", ".ksrq"), test::makeMixture (16000, 0.5) };
    const auto r = writer.writeWithAudio (v.file, v.audio, 16000, bits, encoding);
    EXPECT_TRUE (r.wasOk()) << r.getErrorMessage();
    return v;
}
} // namespace

TEST (RequestFile, RoundTripKeepsModuleParametersGuideAndAudio)
{
    test::TemporaryDirectory dir;

    for (auto [encoding, bits] :
         { std::pair { SeparationRequest::AudioEncoding::flac, 24 }, std::pair { SeparationRequest::AudioEncoding::wav, 16 },
           std::pair { SeparationRequest::AudioEncoding::wav, 32 } })
    {
        const auto v = writeVocalFile (dir.get(), encoding, bits);

        SeparationRequest request;
        const auto audioDir = dir.get().getChildFile ("out" + juce::String (bits));
        const auto r = RequestFileReader::read (v.file, audioDir, request);
        ASSERT_TRUE (r.wasOk()) << r.getErrorMessage();

        EXPECT_EQ (request.module, 1);
        EXPECT_EQ (request.algorithm, 1);
        EXPECT_EQ (static_cast<int> (request.parameters["sourcePosition"]), 2);
        EXPECT_EQ (request.parameters["mode"].toString(), "Guided");
        EXPECT_EQ (request.parameters.size(), 2);
        EXPECT_EQ (request.pitchGuide, (std::vector<float> { -1.0f, 57.0f, 57.5f, -1.0f }));
        EXPECT_EQ (request.guideStepSamples, 2000);
        EXPECT_EQ (request.encoding, encoding);
        EXPECT_EQ (request.sampleRate, 16000);
        EXPECT_EQ (request.numChannels, 2);
        EXPECT_EQ (request.bitsPerSample, bits);
        EXPECT_EQ (request.numFrames, 8000);
        EXPECT_TRUE (request.audioFile.isAChildOf (audioDir));

        // The audio decodes to what was written, to within the bit depth's quantisation.
        juce::AudioFormatManager formats;
        formats.registerBasicFormats();
        std::unique_ptr<juce::AudioFormatReader> reader (formats.createReaderFor (request.audioFile));
        ASSERT_NE (reader, nullptr);
        juce::AudioBuffer<float> decoded (2, 8000);
        reader->read (&decoded, 0, 8000, 0, true, true);
        for (int ch = 0; ch < 2; ++ch)
            EXPECT_GT (test::signalToErrorDb (v.audio.getReadPointer (ch), decoded.getReadPointer (ch), 8000),
                       bits == 16 ? 70.0 : 120.0);
    }
}

TEST (RequestFile, AudioFilesAreSentUnchanged)
{
    test::TemporaryDirectory dir;
    const auto wav = dir.get().getChildFile ("range.wav");
    ASSERT_TRUE (test::writeAudioFile (wav, test::makeSine (1, 4410, 44100, 440), 44100, 24));

    RequestFileWriter writer (5, 5);
    const auto file = dir.get().getChildFile ("bass.ksrq");
    ASSERT_TRUE (writer.writeWithAudioFile (file, wav).wasOk());

    SeparationRequest request;
    ASSERT_TRUE (RequestFileReader::read (file, dir.get().getChildFile ("x"), request).wasOk());
    EXPECT_EQ (request.encoding, SeparationRequest::AudioEncoding::wav);
    EXPECT_EQ (request.bitsPerSample, 24);
    EXPECT_EQ (request.numFrames, 4410);
    EXPECT_EQ (load (request.audioFile), load (wav));

    EXPECT_TRUE (writer.writeWithAudioFile (file, file).failed()); // not audio
}

TEST (RequestFile, WriterRefusesWhatTheServiceWouldRefuse)
{
    RequestFileWriter vocal (1, 1);
    EXPECT_TRUE (vocal.addParameter ("nSources", 3).failed());       // a pan parameter
    EXPECT_TRUE (vocal.addParameter ("mode", "Sometimes").failed()); // not offered
    EXPECT_TRUE (vocal.addParameter ("mode", "Automatic").wasOk());
    EXPECT_TRUE (vocal.addParameter ("mode", "Guided").failed()); // twice
    EXPECT_TRUE (vocal.setPitchGuide ({ 200.0f }, 100).failed());
    EXPECT_TRUE (vocal.setPitchGuide ({ 60.0f }, 0).failed());

    RequestFileWriter pan (2, 2);
    EXPECT_TRUE (pan.setPitchGuide ({ 60.0f }, 100).failed());
}

TEST (RequestFile, EveryTruncationIsRefusedAndLeavesNoAudio)
{
    test::TemporaryDirectory dir;
    const auto v = writeVocalFile (dir.get(), SeparationRequest::AudioEncoding::flac, 16);
    const auto bytes = load (v.file);
    const auto audioDir = dir.get().getChildFile ("audio");

    // Every cut inside the header, the records and the audio header, and a few inside the audio.
    std::vector<size_t> cuts;
    for (size_t n = 0; n < 140; ++n)
        cuts.push_back (n);
    for (size_t n = 140; n < bytes.getSize(); n += bytes.getSize() / 7)
        cuts.push_back (n);
    cuts.push_back (bytes.getSize() - 1);

    for (auto n : cuts)
    {
        juce::MemoryBlock cut (bytes.getData(), n);
        EXPECT_NE (readError (save (dir.get(), cut), audioDir), "") << "cut at " << n;
    }
    EXPECT_EQ (audioDir.findChildFiles (juce::File::findFiles, true).size(), 0);

    auto longer = bytes;
    longer.append ("x", 1);
    EXPECT_TRUE (readError (save (dir.get(), longer), audioDir).contains ("length"));
    EXPECT_EQ (readError (save (dir.get(), bytes), audioDir), "");
}

TEST (RequestFile, CorruptFieldsAreRefusedWithTheirReason)
{
    test::TemporaryDirectory dir;
    const auto v = writeVocalFile (dir.get(), SeparationRequest::AudioEncoding::flac, 16);
    const auto bytes = load (v.file);
    const auto audioDir = dir.get().getChildFile ("audio");

    const auto errorWith = [&] (std::function<void (juce::MemoryBlock&)> edit) {
        auto edited = bytes;
        edit (edited);
        return readError (save (dir.get(), edited), audioDir);
    };

    EXPECT_TRUE (errorWith ([] (auto& b) { b[0] = 'X'; }).contains ("KSRQ"));
    EXPECT_TRUE (errorWith ([] (auto& b) { b[4] = 2; }).contains ("version 2"));
    EXPECT_TRUE (errorWith ([] (auto& b) { putInt (b, 8, 4); }).contains ("module 4"));
    EXPECT_TRUE (errorWith ([] (auto& b) { putInt (b, 16, 1000000); }).contains ("parameters"));
    // record 1 (sourcePosition, code 17): an unknown code, a value out of range, a size beyond the file
    EXPECT_TRUE (errorWith ([] (auto& b) { putInt (b, 24, 99); }).contains ("code 99"));
    EXPECT_TRUE (errorWith ([] (auto& b) { putInt (b, 36, 9); }).contains ("not accepted"));
    EXPECT_TRUE (errorWith ([] (auto& b) { putInt (b, 32, 0x7fffffff); }).contains ("more bytes"));
    // record 2 (mode, code 20) made a second sourcePosition
    EXPECT_TRUE (errorWith ([] (auto& b) { putInt (b, 40, 17); }).contains ("twice"));
    // record 2's text "Guided" changed to "Guidex", and to invalid UTF-8
    EXPECT_TRUE (errorWith ([] (auto& b) { b[57] = 'x'; }).contains ("not accepted"));
    EXPECT_TRUE (errorWith ([] (auto& b) { b[52] = static_cast<char> (0xff); }).contains ("UTF-8"));
    // the guide (at 58): its count, a pitch, its step
    EXPECT_TRUE (errorWith ([] (auto& b) { putInt (b, 74, 5); }).contains ("pitch guide"));
    EXPECT_TRUE (errorWith ([] (auto& b) { putInt (b, 70, 0); }).contains ("step"));
    EXPECT_TRUE (errorWith ([] (auto& b) { putInt (b, 82, 0x7fc00000); }).contains ("pitch")); // NaN
    EXPECT_TRUE (errorWith ([] (auto& b) { putInt (b, 70, 1 << 20); }).contains ("longer than the audio"));

    const size_t audio = 94; // the audio section
    EXPECT_TRUE (errorWith ([&] (auto& b) { b[audio] = 'X'; }).contains ("audio section"));
    EXPECT_TRUE (errorWith ([&] (auto& b) { b[audio + 4] = 9; }).contains ("encoding 9"));
    EXPECT_TRUE (errorWith ([&] (auto& b) { putInt (b, audio + 8, 1000); }).contains ("sample rate"));
    EXPECT_TRUE (errorWith ([&] (auto& b) { putInt (b, audio + 12, 2 | (8 << 16)); }).contains ("16 or 24"));
    EXPECT_TRUE (errorWith ([&] (auto& b) { putInt (b, audio + 12, 9 | (16 << 16)); }).contains ("channels"));
    EXPECT_TRUE (errorWith ([&] (auto& b) { putInt (b, audio + 16, 8001); }).contains ("does not match"));
    EXPECT_TRUE (errorWith ([&] (auto& b) { putInt (b, audio + 8, 44100); }).contains ("does not match"));
    // the stream itself: FLAC's "fLaC" marker damaged, and a byte in the middle of its frames
    EXPECT_TRUE (errorWith ([&] (auto& b) { b[audio + 32] = 'X'; }).contains ("not a readable"));
    EXPECT_TRUE (errorWith ([&] (auto& b) { b[(audio + 32 + b.getSize()) / 2] ^= 0x55; }).contains ("damaged"));

    EXPECT_EQ (audioDir.findChildFiles (juce::File::findFiles, true).size(), 0);
    EXPECT_EQ (errorWith ([] (auto&) {}), "");
}

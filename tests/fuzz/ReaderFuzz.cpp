// libFuzzer targets for the readers of files a user may be handed: a project file (with
// its binary and text pitch-edit files) and a frame store's properties. Built by
// ./kalder test --fuzz with AddressSanitizer and UndefinedBehaviorSanitizer; the seeds
// are written by the project writer itself when the corpus folder is empty.

#include "melody/Pgram.h"
#include "project/ProjectWriter.h"
#include "signal/Asig.h"

#include <cstdint>

using namespace kalder;

namespace
{
const juce::File& scratch()
{
    // In memory where the system has a tmpfs: every input is written as a file, and on a
    // disk the write-back, not the reader, would set the pace.
    static const juce::File dir = [] {
        const juce::File shm ("/dev/shm");
        auto d = (shm.isDirectory() ? shm : juce::File::getSpecialLocation (juce::File::tempDirectory))
                     .getChildFile ("kalder-fuzz-" + juce::Uuid().toString());
        d.getChildFile ("trackdata").createDirectory();
        return d;
    }();
    return dir;
}

void fuzzProject (const uint8_t* data, size_t size)
{
    const auto file = scratch().getChildFile ("p.orv");
    file.replaceWithData (data, size);
    LoadedProject project;
    const auto work = scratch().getChildFile ("work");
    work.deleteRecursively();
    ProjectLoader::open (file, work, project);
    // the same bytes as a pitch-edit file, of both kinds
    const auto guide = scratch().getChildFile ("trackdata").getChildFile (Pgram::getSaveFileName ("t"));
    guide.replaceWithData (data, size);
    Pgram::Lines lines;
    Pgram::readPitchLines (guide, lines);
}

void fuzzStore (const uint8_t* data, size_t size)
{
    const auto dir = scratch().getChildFile ("store");
    dir.createDirectory();
    dir.getChildFile ("t.asig").replaceWithData (data, size);
    // One store for every input: a store's pool starts and stops its threads, which
    // would otherwise take most of each run.
    static Asig store;
    if (store.openAsig (dir, "t").wasOk())
        store.readFrames (0, { 0, 4 }, Asig::MaskUse::mask, Asig::SelectionGain::none);
}
} // namespace

extern "C" int LLVMFuzzerInitialize (int*, char***)
{
    // Seeds: a project of three records as the writer writes it, when asked for.
    if (const auto* seeds = std::getenv ("KALDER_FUZZ_WRITE_SEEDS"))
    {
        ProjectWriter::Content c;
        for (int i = 0; i < 3; ++i)
        {
            TrackRecord r;
            r.name = "track " + juce::String (i);
            r.dataName = "t" + juce::String (i);
            r.colourIndex = i == 1 ? 6 : 2;
            r.parent = i - 1;
            c.records.push_back (r);
        }
        juce::MemoryOutputStream out;
        ProjectWriter::writeStream (out, c);
        juce::File (seeds).getChildFile ("project.orv").replaceWithData (out.getData(), out.getDataSize());
        juce::File (seeds).getChildFile ("guide.melody").replaceWithText ("[\n[\n0.1 0.5\n0.2 0.4\n]\n]\n");
        juce::File (seeds)
            .getChildFile ("store.asig")
            .replaceWithText (R"({"formatVersion": 1, "numChannels": 2, "sampleRate": 44100, "numSamples": 4096, "nfft": 4096,)"
                              R"( "nFreqs": 2049, "nFrames": 4, "framesPerChunk": 1024, "averageLogSpectrum": []})");
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
#if KALDER_FUZZ_STORE
    fuzzStore (data, size);
#else
    fuzzProject (data, size);
#endif
    return 0;
}

// kalder-cli: the engine of Kalder Pro on the command line.
//
//   kalder-cli info IN
//   kalder-cli bounce IN OUT [--gain G] [--pan P] [--start S --end E]
//   kalder-cli edit IN OUT STEP... [--tracks-out DIR]
//   kalder-cli separate IN MODULE OUTDIR [--param NAME=VALUE...] [--service URL --token T]
//   kalder-cli melody IN OUT [--from S --to E] [--low M --high M] [--steps FILE --step N]
//
// A bounce opens IN as the master track, through the same decoding, analysis, masked
// resynthesis and bounce as the application, and writes the mix to OUT in IN's format.
#include "melody/PitchEditManager.h"
#include "project/ProjectWriter.h"
#include "separation/NetworkManager.h"
#include "separation/SeparationLauncher.h"
#include "tracks/AudioFileDecoder.h"
#include "tracks/EditScript.h"
#include "tracks/MixerBounce.h"
#include "tracks/TrackLoader.h"

#include <juce_events/juce_events.h>

#include <iostream>
#include <optional>
#include <unistd.h>

using namespace kalder;

namespace
{
constexpr const char* usage = R"(usage:
  kalder-cli info IN
      the format, channels, sample rate, length, FFT length, hop and frames of IN; for
      a project (.orv), its tracks
  kalder-cli bounce IN OUT [--gain G] [--pan P] [--start S --end E]
      opens IN as the master track (or IN, a saved project, with its tracks) and
      writes the mix to OUT (format by extension:
      .wav, .aif, .aiff, .flac, .ogg; .wav when there is none), at IN's sample rate,
      bit depth and channel count
        --gain G     master gain, linear (default 1)
        --pan P      pan of the first channel, 0 = left .. 1 = right (stereo files)
        --start S    first second to write (default 0)
        --end E      last second to write (default: the end)
  kalder-cli edit IN OUT STEP... [--tracks-out DIR] [--save PROJECT.orv]
      opens IN as the master track, runs the spectral edit steps on it in order and
      writes the mix to OUT as bounce does; with --tracks-out, also every track as it
      sounds (edits included, before volume and pan) into DIR as WAV files in the
      track's format. Times are in seconds, frequencies in Hz. A bad step is reported
      and nothing is written. OUT is the mix as the window plays it: the master alone
      while it is the active track, a selection left at the end at the selection
      volume (end with deselect to hear the edits alone); after a freeze the frozen
      track is active and the mix plays it with its complement. With --save, the
      edited project is saved as the window saves it. The steps:
      kalder-cli edit --help
  kalder-cli separate IN MODULE OUTDIR [--param NAME=VALUE...] [--service URL --token T]
      opens IN as the master track, separates it with MODULE (vocals, all-vocals,
      bass, drums, other, four-stems, pan) through the separation service and writes
      each result as OUTDIR/<stem>.wav at IN's sample rate and bit depth. Without
      --service it starts the separation service that comes with Kalder Pro
      (KALDER_SEPARATION_URL and KALDER_SEPARATION_TOKEN also name one).
        --param NAME=VALUE   a module parameter by its internal name (repeatable),
                             e.g. --param reverbProcess=SeparateTrack --param nSources=4
  kalder-cli melody IN OUT [--from S --to E] [--low M --high M] [--steps FILE --step N]
      opens IN as the master track, tracks its melody as the melody editor's
      "Pitch Tracker" does in a rectangle (from S to E seconds, MIDI M to M; default
      the whole track and the whole axis, 33 to 112) and writes the lines to OUT as a
      melody guide file. With --steps,
      also the guide a guided vocal separation sends: the step in samples (N, default
      256) on the first line, then the MIDI pitch of each step, -1 where no line is
  kalder-cli --help
)";

/** A progress bar on the terminal (only when it is one). */
class TerminalProgress : public Progress::Listener
{
public:
    explicit TerminalProgress (juce::String what) : label (std::move (what)), enabled (::isatty (STDERR_FILENO) != 0) {}
    ~TerminalProgress() override
    {
        if (enabled && shown >= 0)
            std::cerr << "\n";
    }

    void progressChanged (float value, Progress::Ptr) override
    {
        constexpr int width = 40;
        const auto filled = juce::jlimit (0, width, (int) (value * width));
        if (! enabled || filled == shown)
            return;
        shown = filled;
        std::cerr << "\r" << label << " [" << std::string ((size_t) filled, '#') << std::string ((size_t) (width - filled), ' ')
                  << "] " << (int) (value * 100.0f) << "%" << std::flush;
    }

private:
    juce::String label;
    bool enabled;
    int shown = -1;
};

int fail (const juce::String& message)
{
    std::cerr << "kalder-cli: " << message << std::endl;
    return 1;
}

/** A working folder for one run, removed afterwards. */
struct WorkFolder
{
    // A unique name, not the first free one: two runs started at the same moment would
    // otherwise share one folder, and the first to finish would delete it under the other.
    WorkFolder()
        : dir (juce::File::getSpecialLocation (juce::File::tempDirectory).getChildFile ("kalder-cli-" + juce::Uuid().toString()))
    {}
    ~WorkFolder() { dir.deleteRecursively(); }
    juce::File dir;
};

AudioTrack::Ptr open (const juce::File& in, WorkFolder& work, juce::Result& result, DecodedAudioInfo& info)
{
    result = juce::Result::ok();
    Progress::Ptr progress = new Progress();
    TerminalProgress bar ("Opening " + in.getFileName());
    progress->addListener (&bar);
    // The track's folder sits inside the work folder: tracks made from it (a freeze, a
    // move) get folders beside it, inside the work folder too, and go with it.
    auto track = TrackLoader::openTrack (in, work.dir.getChildFile ("master"), "master", AudioTrack::OriginId::master, progress,
                                         result, &info);
    progress->removeListener (&bar);
    return track;
}

bool isProject (const juce::File& file)
{
    return file.hasFileExtension (".orv");
}

/** Opens a saved project into the mixer as the window would: its master, its tracks
    with their parents, their settings, the mixer's gain. */
juce::Result openProject (const juce::File& in, WorkFolder& work, Mixer& mixer, LoadedProject& project)
{
    Progress::Ptr progress = new Progress();
    TerminalProgress bar ("Opening " + in.getFileName());
    progress->addListener (&bar);
    auto result = ProjectLoader::open (in, work.dir.getChildFile ("project"), project, progress);
    progress->removeListener (&bar);
    if (result.failed())
        return result;
    mixer.setMasterTrack (project.tracks[0]);
    ProjectLoader::addToMixer (mixer, project);
    for (const auto& warning : project.warnings)
        std::cerr << "kalder-cli: " << warning << std::endl;
    return juce::Result::ok();
}

/** Bounces the samples range of the mix to out with a progress bar; prints the file written. */
int bounceMix (Mixer& mixer, const juce::File& out, juce::Range<juce::int64> range)
{
    Progress::Ptr progress = new Progress();
    TerminalProgress bar ("Bouncing " + out.getFileName());
    progress->addListener (&bar);
    const auto result = MixerBounce::bounceMix (mixer, out, progress, {}, range);
    progress->removeListener (&bar);
    if (result.failed())
        return fail (result.getErrorMessage());
    std::cout << MixerBounce::getOutputFile (out).getFullPathName() << std::endl;
    return 0;
}

int info (const juce::StringArray& args)
{
    if (args.size() != 1)
        return fail ("info takes one file\n" + juce::String (usage));

    const auto in = juce::File::getCurrentWorkingDirectory().getChildFile (args[0]);
    WorkFolder work;
    auto result = juce::Result::ok();
    if (isProject (in))
    {
        Mixer mixer;
        LoadedProject project;
        if (const auto r = openProject (in, work, mixer, project); r.failed())
            return fail (r.getErrorMessage());
        std::cout << "project:     " << in.getFullPathName() << "\n"
                  << "format:      " << project.header.format << "\n"
                  << "master gain: " << mixer.getMasterGain() << "\n"
                  << "tracks:      " << project.tracks.size() << "\n";
        for (int i = 0; i < project.tracks.size(); ++i)
        {
            const auto& r = project.records[(size_t) i];
            const auto& t = *project.tracks[i];
            std::cout << "  " << (i + 1) << ". \"" << t.getName() << "\""
                      << (r.parent >= 0 ? ", from " + juce::String (r.parent + 1) : ", master") << ", " << t.getNumChannels()
                      << " ch, " << t.getSampleRate() << " Hz, " << juce::String (t.getLengthInSeconds(), 3) << " s, volume "
                      << t.getVolume() << (t.isSoloed() ? ", solo" : "") << (t.isMuted() ? ", muted" : "")
                      << (t.hasEdits() ? ", spectral edits" : "") << (t.hasPitchEdits() ? ", melody" : "") << "\n";
        }
        return 0;
    }
    DecodedAudioInfo decoded;
    const auto track = open (in, work, result, decoded);
    if (track == nullptr)
        return fail (result.getErrorMessage());

    const auto& g = track->getGeometry();
    std::cout << "file:        " << in.getFullPathName() << "\n"
              << "format:      " << decoded.formatName << "\n"
              << "channels:    " << track->getNumChannels() << "\n"
              << "sample rate: " << track->getSampleRate() << " Hz\n"
              << "bit depth:   " << track->getBitsPerSample() << (decoded.isFloatingPoint ? " (float)" : "") << "\n"
              << "length:      " << track->getNumSamples() << " samples (" << juce::String (track->getLengthInSeconds(), 3)
              << " s)\n"
              << "FFT length:  " << g.nfft << "\n"
              << "hop:         " << g.getHop() << "\n"
              << "frames:      " << track->getnFrames() << "\n";
    return 0;
}

int bounce (const juce::StringArray& args)
{
    if (args.size() < 2)
        return fail ("bounce takes IN and OUT\n" + juce::String (usage));

    const auto cwd = juce::File::getCurrentWorkingDirectory();
    const auto in = cwd.getChildFile (args[0]);
    const auto out = cwd.getChildFile (args[1]);
    float gain = 1.0f, pan = -1.0f;
    bool gainGiven = false;
    double start = 0.0, end = -1.0;

    for (int i = 2; i < args.size(); i += 2)
    {
        const auto& name = args[i];
        if (i + 1 >= args.size())
            return fail (name + " needs a value");
        const auto& text = args[i + 1];
        if (! text.containsOnly ("0123456789.-+eE") || text.isEmpty())
            return fail (name + " needs a number, not \"" + text + "\"");
        const auto value = text.getDoubleValue();
        if (name == "--gain" && value >= 0.0)
            gain = (float) value, gainGiven = true;
        else if (name == "--pan" && value >= 0.0 && value <= 1.0)
            pan = (float) value;
        else if (name == "--start" && value >= 0.0)
            start = value;
        else if (name == "--end" && value >= 0.0)
            end = value;
        else
            return fail ("unknown option or value out of range: " + name + " " + text);
    }
    if (end >= 0.0 && end <= start)
        return fail ("--end must come after --start");

    WorkFolder work;
    auto result = juce::Result::ok();
    Mixer mixer;
    AudioTrack::Ptr track;
    LoadedProject project;
    if (isProject (in))
    {
        if (const auto r = openProject (in, work, mixer, project); r.failed())
            return fail (r.getErrorMessage());
        track = mixer.getMasterTrack();
        if (gainGiven)
            mixer.setMasterGain (gain);
    }
    else
    {
        DecodedAudioInfo decoded;
        track = open (in, work, result, decoded);
        if (track == nullptr)
            return fail (result.getErrorMessage());
        mixer.setMasterTrack (track);
        mixer.setMasterGain (gain);
    }
    if (pan >= 0.0f)
        track->setPan (0, pan);

    const auto rate = (double) track->getSampleRate();
    const juce::Range<juce::int64> range ((juce::int64) std::llround (start * rate),
                                          end >= 0.0 ? (juce::int64) std::llround (end * rate) : track->getNumSamples());
    return bounceMix (mixer, out, range);
}
int edit (const juce::StringArray& arguments)
{
    if (arguments.contains ("--help") || arguments.contains ("-h"))
    {
        std::cout << "usage: kalder-cli edit IN OUT STEP... [--tracks-out DIR] [--save PROJECT.orv]\n\nsteps:\n"
                  << EditScript::describeSteps()
                  << "\nA selection step replaces the selection; written +step it adds to it, -step subtracts.\n"
                  << "OUT is the mix as the window plays it: a selection left at the end plays at the\n"
                  << "selection volume (end with deselect to hear the edits alone).\n";
        return 0;
    }
    auto args = arguments;
    juce::String tracksOut, saveTo;
    if (const auto i = args.indexOf ("--tracks-out"); i >= 0)
    {
        if (i + 1 >= args.size())
            return fail ("--tracks-out needs a folder");
        tracksOut = args[i + 1];
        args.removeRange (i, 2);
    }
    if (const auto i = args.indexOf ("--save"); i >= 0)
    {
        if (i + 1 >= args.size() || ! args[i + 1].endsWithIgnoreCase (".orv"))
            return fail ("--save needs a project file (.orv)");
        saveTo = args[i + 1];
        args.removeRange (i, 2);
    }
    if (args.size() < 3)
        return fail ("edit takes IN, OUT and at least one step (kalder-cli edit --help lists them)");

    // Every step is checked before the song is even opened: a bad one writes nothing.
    juce::StringArray words (args);
    words.removeRange (0, 2);
    std::vector<EditScript::Step> steps;
    if (const auto parsed = EditScript::parse (words, steps); parsed.failed())
        return fail (parsed.getErrorMessage());

    const auto cwd = juce::File::getCurrentWorkingDirectory();
    const auto in = cwd.getChildFile (args[0]);
    const auto out = cwd.getChildFile (args[1]);
    const auto folder = tracksOut.isNotEmpty() ? cwd.getChildFile (tracksOut) : juce::File();
    if (folder != juce::File() && folder.existsAsFile())
        return fail (folder.getFullPathName() + " is a file, not a folder");

    WorkFolder work;
    auto result = juce::Result::ok();
    DecodedAudioInfo decoded;
    auto track = open (in, work, result, decoded);
    if (track == nullptr)
        return fail (result.getErrorMessage());

    Mixer mixer;
    mixer.setMasterTrack (track);
    result = EditScript::run (mixer, steps, [] (const juce::String& note) { std::cerr << "kalder-cli: " << note << std::endl; });
    if (result.failed())
        return fail (result.getErrorMessage() + " (nothing was written)");

    if (const auto bounced = bounceMix (mixer, out, { 0, track->getNumSamples() }); bounced != 0)
        return bounced;

    if (folder != juce::File())
    {
        if (! folder.createDirectory())
            return fail ("Cannot make the folder " + folder.getFullPathName());
        const auto tracks = mixer.getAllTracks();
        const auto files = MixerBounce::getExportFiles (tracks, folder);
        for (int i = 0; i < tracks.size(); ++i)
        {
            const auto t = tracks[i];
            result = MixerBounce::exportTrack (t, files[i], { 0, t->getNumBlocks() }, t->getBitsPerSample());
            if (result.failed())
            {
                // All of the tracks or none: the ones written so far go.
                for (int k = 0; k <= i; ++k)
                    files[k].deleteFile();
                return fail (result.getErrorMessage());
            }
        }
        for (const auto& f : files)
            std::cout << f.getFullPathName() << std::endl;
    }
    if (saveTo.isNotEmpty())
    {
        const auto project = juce::File::getCurrentWorkingDirectory().getChildFile (saveTo);
        if (! project.getParentDirectory().isDirectory() && project.getParentDirectory().createDirectory().failed())
            return fail ("Cannot make the folder " + project.getParentDirectory().getFullPathName());
        auto content = ProjectWriter::fromMixer (mixer);
        if (const auto saved = ProjectWriter::save (project, content); saved.failed())
            return fail (saved.getErrorMessage());
        std::cout << project.getFullPathName() << std::endl;
    }
    return 0;
}
std::optional<separation::Module> moduleNamed (const juce::String& name)
{
    using separation::Module;
    static const std::pair<const char*, Module> names[] = { { "vocals", Module::vocals }, { "all-vocals", Module::allVocals },
                                                            { "bass", Module::bass },     { "drums", Module::drums },
                                                            { "other", Module::other },   { "four-stems", Module::fourStems },
                                                            { "pan", Module::pan } };
    for (const auto& [text, module] : names)
        if (name == text)
            return module;
    return std::nullopt;
}

int separate (const juce::StringArray& arguments)
{
    using namespace separation;
    juce::StringArray args (arguments);
    juce::StringArray params;
    juce::String serviceUrl, token;
    for (int i = 0; i < args.size();)
    {
        const auto option = args[i];
        if (option == "--param" || option == "--service" || option == "--token")
        {
            if (i + 1 >= args.size())
                return fail (option + " needs a value");
            const auto value = args[i + 1];
            if (option == "--param")
                params.add (value);
            else
                (option == "--service" ? serviceUrl : token) = value;
            args.removeRange (i, 2);
            continue;
        }
        if (option.startsWith ("--"))
            return fail ("unknown option " + option + "\n" + juce::String (usage));
        ++i;
    }
    if (args.size() != 3)
        return fail ("separate takes IN, MODULE and OUTDIR\n" + juce::String (usage));
    const auto module = moduleNamed (args[1]);
    if (! module.has_value())
        return fail ("unknown module \"" + args[1] + "\" (vocals, all-vocals, bass, drums, other, four-stems, pan)");

    auto settings = SeparatorSettings::getDefaultFor (*module);
    for (const auto& p : params)
    {
        const auto name = p.upToFirstOccurrenceOf ("=", false, false).trim();
        const auto value = p.fromFirstOccurrenceOf ("=", false, false).trim();
        if (settings == nullptr || ! p.containsChar ('=') || ! settings->setValue (name, value))
            return fail ("the module " + args[1] + " has no parameter " + name + " that takes \"" + value + "\"");
    }

    const auto cwd = juce::File::getCurrentWorkingDirectory();
    const auto in = cwd.getChildFile (args[0]);
    const auto outDir = cwd.getChildFile (args[2]);
    if (outDir.existsAsFile())
        return fail (outDir.getFullPathName() + " is a file, not a folder");

    WorkFolder work;
    auto result = juce::Result::ok();
    DecodedAudioInfo decoded;
    auto track = open (in, work, result, decoded);
    if (track == nullptr)
        return fail (result.getErrorMessage());

    Mixer mixer;
    mixer.setMasterTrack (track);
    NetworkManager network;
    if (serviceUrl.isNotEmpty())
        if (auto r = network.useRemoteService ({ serviceUrl, token }); r.failed())
            return fail (r.getErrorMessage());

    SeparationLauncher launcher (mixer, network);
    launcher.setWorkFolder (work.dir);
    launcher.setAnalyseChildren (false); // only their files are wanted
    SeparationLauncher::Request request;
    request.track = track;
    request.module = *module;
    request.settings = settings;

    std::optional<SeparationLauncher::Outcome> outcome;
    juce::String failure;
    const auto refusal = launcher.start (
        request, [&outcome] (const SeparationLauncher::Outcome& o) { outcome = o; }, &failure);
    if (refusal != SeparationLauncher::Refusal::none)
        return fail (juce::String (SeparationLauncher::failurePrefix)
                     + (failure.isNotEmpty()
                            ? failure
                            : juce::String ("the track cannot be separated (") + juce::String ((int) refusal) + ")"));

    auto tracker = network.getSeparations().getFirst();
    juce::String shown;
    while (! outcome.has_value())
    {
        juce::MessageManager::getInstance()->runDispatchLoopUntil (100);
        if (tracker != nullptr)
            if (const auto label = tracker->getLabel(); label != shown)
                std::cerr << "kalder-cli: " << (shown = label) << std::endl;
    }
    if (outcome->result.failed())
        return fail (outcome->getMessage());

    if (! outDir.createDirectory())
        return fail ("Cannot make the folder " + outDir.getFullPathName());
    juce::StringArray stems;
    for (const auto& name : outcome->tracker->getOutputOrder())
        if (name.endsWithIgnoreCase (".wav"))
            stems.add (name);
    for (int i = 0; i < outcome->children.size() && i < stems.size(); ++i)
    {
        const auto target = outDir.getChildFile (stems[i]);
        // The child's own file: the separated audio at the source's rate and bit depth.
        if (! outcome->children[i]->getAudioFile().copyFileTo (target))
            return fail ("Cannot write " + target.getFullPathName() + " (is the disk full?)");
        std::cout << target.getFullPathName() << std::endl;
    }
    return 0;
}
int melody (const juce::StringArray& args)
{
    if (args.size() < 2)
        return fail ("melody takes IN and OUT\n" + juce::String (usage));
    const auto cwd = juce::File::getCurrentWorkingDirectory();
    const auto in = cwd.getChildFile (args[0]);
    const auto out = cwd.getChildFile (args[1]);
    double from = 0.0, to = -1.0;
    juce::File steps;
    int step = 256;
    float low = 33.0f, high = 112.0f;
    for (int i = 2; i < args.size(); ++i)
    {
        const auto option = args[i];
        if (i + 1 >= args.size())
            return fail (option + " needs a value\n" + juce::String (usage));
        const auto value = args[++i];
        if (option == "--from")
            from = value.getDoubleValue();
        else if (option == "--to")
            to = value.getDoubleValue();
        else if (option == "--steps")
            steps = cwd.getChildFile (value);
        else if (option == "--step")
            step = value.getIntValue();
        else if (option == "--low")
            low = value.getFloatValue();
        else if (option == "--high")
            high = value.getFloatValue();
        else
            return fail ("unknown option " + option + "\n" + juce::String (usage));
    }
    if (step <= 0 || (to >= 0.0 && to <= from) || from < 0.0)
        return fail ("the step must be above 0 and --from before --to");
    if (! (low >= 33.0f && high <= 112.0f && low < high))
        return fail ("the pitch range must lie inside MIDI 33 to 112, --low below --high");

    WorkFolder work;
    auto result = juce::Result::ok();
    DecodedAudioInfo decoded;
    const auto track = open (in, work, result, decoded);
    if (track == nullptr)
        return fail (result.getErrorMessage());
    {
        Progress::Ptr progress = new Progress();
        TerminalProgress bar ("Pitch of " + in.getFileName());
        progress->addListener (&bar);
        track->generatePitchogram (progress);
        progress->removeListener (&bar);
    }
    if (track->getPgram().getView() == nullptr)
        return fail ("The pitch of " + in.getFileName() + " could not be analysed");

    const auto length = track->getLengthInSeconds();
    const auto frames = track->getnFrames();
    const auto& g = track->getGeometry();
    const auto xAt = [&] (double seconds) {
        // the frame whose window is centred on the time
        return PitchLine::frameToX ((double) g.getFrameCentredAt (juce::jlimit (0.0, length, seconds) * track->getSampleRate()),
                                    frames);
    };
    CustomUndoManager history (30000, 30);
    PitchEditManager edits (track->getPgram(), history);
    if (! edits.findMelodyWithinRectangle ({ xAt (from), to < 0.0 ? 1.0f : xAt (to) },
                                           { PitchLine::midiToY (high), PitchLine::midiToY (low) }))
        std::cerr << "kalder-cli: no melody found in " << in.getFileName() << std::endl;
    if (const auto r = track->getPgram().savePgram (out); r.failed())
        return fail (r.getErrorMessage());
    std::cout << out.getFullPathName() << std::endl;

    if (steps != juce::File())
    {
        const auto count = (int) ((track->getNumSamples() + step - 1) / step);
        const auto guide = track->getPgram().makeGuide (0, count, step, g.getHop(), frames);
        juce::String text;
        text << step << "\n";
        for (const auto midi : guide)
            text << juce::String (midi, 3) << "\n";
        juce::TemporaryFile temporary (steps);
        {
            juce::FileOutputStream stream (temporary.getFile());
            const auto written = stream.openedOk() && stream.writeText (text, false, false, nullptr);
            stream.flush();
            if (! written || stream.getStatus().failed())
                return fail ("Cannot write " + steps.getFullPathName() + " (is the disk full?)");
        }
        if (! temporary.overwriteTargetFileWithTemporary())
            return fail ("Cannot write " + steps.getFullPathName());
        std::cout << steps.getFullPathName() << std::endl;
    }
    return 0;
}
} // namespace

int main (int argc, char** argv)
{
    const juce::ScopedJuceInitialiser_GUI juce;
    juce::StringArray args;
    for (int i = 1; i < argc; ++i)
        args.add (juce::String::fromUTF8 (argv[i]));

    if (args.isEmpty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help")
    {
        std::cout << usage;
        return args.isEmpty() ? 2 : 0;
    }

    const auto command = args[0];
    args.remove (0);
    if (command == "info")
        return info (args);
    if (command == "bounce")
        return bounce (args);
    if (command == "edit")
        return edit (args);
    if (command == "separate")
        return separate (args);
    if (command == "melody")
        return melody (args);
    return fail ("unknown command \"" + command + "\"\n" + juce::String (usage));
}

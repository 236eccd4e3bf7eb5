#include "ProjectLoader.h"

#include <unistd.h>

#include "melody/Pgram.h"
#include "tracks/Mixer.h"
#include "tracks/WavParsedAudio.h"

namespace kalder
{

namespace
{
    juce::String describe (const juce::File& file, const juce::String& problem)
    {
        return "The project \"" + file.getFullPathName() + "\" cannot be opened: " + problem + ".";
    }

    /** The smallest number of bytes a record of any format takes: two empty strings and
        a colour index. A count beyond what the rest of the file could hold is damage. */
    constexpr int smallestRecordBytes = 6;
} // namespace

//==============================================================================
/** Format 1: name, data name, colour. */
class ProjectLoaderV1 : public ProjectLoader
{
protected:
    int getFormat() const override { return 1; }
    void readRecord (ProjectStreamReader& in, TrackRecord& r) override
    {
        r.name = in.readString (1024);
        r.dataName = in.readString (255);
        r.colourIndex = in.readInt();
        if (r.colourIndex == 6)
        {
            r.red = in.readByte();
            r.green = in.readByte();
            r.blue = in.readByte();
        }
    }
};

/** Format 2: the mixer settings of each track. */
class ProjectLoaderV2 : public ProjectLoaderV1
{
protected:
    int getFormat() const override { return 2; }
    void readRecord (ProjectStreamReader& in, TrackRecord& r) override
    {
        ProjectLoaderV1::readRecord (in, r);
        r.volume = in.readFloat();
        r.solo = in.readBool();
        r.mute = in.readBool();
    }
};

/** Format 3: pitch edits, in a binary file beside the track's data. */
class ProjectLoaderV3 : public ProjectLoaderV2
{
protected:
    int getFormat() const override { return 3; }

    bool openPgram (Pgram& pgram, const juce::File& directory, const juce::String& dataName, juce::String& problem) override
    {
        const auto file = directory.getChildFile (Pgram::getSaveFileName (dataName));
        if (dataName.isEmpty() || ! file.existsAsFile())
            return true; // no pitch edits
        juce::FileInputStream stream (file);
        if (! stream.openedOk())
        {
            problem = "its pitch edits cannot be read";
            return false;
        }
        ProjectStreamReader in (stream);
        if (in.readString (16) != "[")
            return true; // no lines
        Pgram::Lines lines;
        while (in.ok() && ! in.isExhausted())
        {
            if (auto line = openPitchLine (in))
                lines.push_back (std::move (line));
            if (in.readString (16) == "]")
                break;
        }
        if (! in.ok())
        {
            problem = "its pitch edits are damaged (" + in.getFailure() + ")";
            return false;
        }
        pgram.setLines (std::move (lines));
        return true;
    }

    /** "[", the node count, the nodes, "]"; null for a record that holds no valid line. */
    PitchLine::Ptr openPitchLine (ProjectStreamReader& in)
    {
        if (in.readString (16) != "[")
        {
            in.fail ("a pitch line does not start with \"[\"");
            return nullptr;
        }
        const auto count = in.readInt();
        if (count < 0 || (juce::int64) count * 8 > in.getRemaining())
        {
            in.fail ("a pitch line claims more nodes than the file holds");
            return nullptr;
        }
        std::vector<PitchLine::Node> nodes;
        for (int i = 0; i < count && in.ok(); ++i)
            nodes.push_back (openPitchNode (in));
        if (in.readString (16) != "]")
            in.fail ("a pitch line does not end with \"]\"");
        if (! in.ok() || ! PitchLine::isValidChain (nodes) || nodes.size() < 2)
            return nullptr;
        return std::make_shared<const PitchLine> (std::move (nodes));
    }

    PitchLine::Node openPitchNode (ProjectStreamReader& in)
    {
        PitchLine::Node n;
        n.x = in.readFloat();
        n.y = in.readFloat();
        return n;
    }
};

/** Format 4: the frame range; pitch edits open in the melody editor. */
class ProjectLoaderV4 : public ProjectLoaderV3
{
protected:
    int getFormat() const override { return 4; }
    void readRecord (ProjectStreamReader& in, TrackRecord& r) override
    {
        ProjectLoaderV3::readRecord (in, r);
        r.frameStart = in.readInt();
        r.frameEnd = std::max (r.frameStart, in.readInt()); // an end before the start: empty
    }
    bool showsPitchEditsInMelodyEditor() const override { return true; }
};

/** Format 5: what the format-4 record could not hold (pan, editor, the track tree, flip,
    selection volume) and the mixer's gain and loop. */
class ProjectLoaderV5 : public ProjectLoaderV4
{
protected:
    int getFormat() const override { return 5; }
    void readProjectValues (ProjectStreamReader& in, ProjectHeader& h) override
    {
        h.masterGain = in.readFloat();
        h.loopStart = in.readInt();
        h.loopEnd = std::max (h.loopStart, in.readInt());
        h.loopEnabled = in.readBool();
    }
    void readRecord (ProjectStreamReader& in, TrackRecord& r) override
    {
        ProjectLoaderV4::readRecord (in, r);
        r.panL = in.readFloat();
        r.panR = in.readFloat();
        r.editor = in.readInt();
        r.parent = in.readInt();
        r.origin = in.readInt();
        r.flip = in.readBool();
        r.selectionVolume = in.readFloat();
    }
};

/** Format 6: the pitch-edit file is a melody guide file, checked whole before use. */
class ProjectLoaderV6 : public ProjectLoaderV5
{
protected:
    int getFormat() const override { return 6; }
    void readProjectValues (ProjectStreamReader& in, ProjectHeader& h) override
    {
        ProjectLoaderV5::readProjectValues (in, h);
        h.activeTrack = in.readInt();
    }
    bool openPgram (Pgram& pgram, const juce::File& directory, const juce::String& dataName, juce::String& problem) override
    {
        const auto file = directory.getChildFile (Pgram::getSaveFileName (dataName));
        if (dataName.isEmpty() || ! file.existsAsFile())
            return true;
        Pgram::Lines lines;
        if (const auto r = Pgram::readPitchLines (file, lines); r.failed())
        {
            problem = r.getErrorMessage();
            return false;
        }
        pgram.setLines (std::move (lines));
        return true;
    }
};

//==============================================================================
std::unique_ptr<ProjectLoader> ProjectLoader::forFormat (int format)
{
    switch (format)
    {
        case 1:
            return std::make_unique<ProjectLoaderV1>();
        case 2:
            return std::make_unique<ProjectLoaderV2>();
        case 3:
            return std::make_unique<ProjectLoaderV3>();
        case 4:
            return std::make_unique<ProjectLoaderV4>();
        case 5:
            return std::make_unique<ProjectLoaderV5>();
        case 6:
            return std::make_unique<ProjectLoaderV6>();
        default:
            return nullptr;
    }
}

bool ProjectLoader::isSafeDataName (const juce::String& name)
{
    return name.isNotEmpty() && name.length() <= 200 && name == juce::File::createLegalFileName (name) && ! name.startsWith (".")
           && ! name.contains ("..") && ! name.containsAnyOf ("/\\");
}

juce::Array<juce::File> ProjectLoader::getTrackDataFiles (const juce::File& folder, const juce::String& dataName)
{
    juce::Array<juce::File> files;
    for (const auto& entry : juce::RangedDirectoryIterator (folder, false, "*", juce::File::findFiles))
    {
        const auto name = entry.getFile().getFileName();
        const auto rest = name.startsWith (dataName) ? name.substring (dataName.length()) : juce::String();
        const auto isChunk = [&rest] {
            // -<index>.frames, .mask or .selection
            if (! rest.startsWith ("-"))
                return false;
            const auto index = rest.substring (1).upToFirstOccurrenceOf (".", false, false);
            const auto kind = rest.fromFirstOccurrenceOf (".", false, false);
            return index.isNotEmpty() && index.containsOnly ("0123456789")
                   && (kind == "frames" || kind == "mask" || kind == "selection");
        };
        if (rest == AudioTrack::renderedFileSuffix || rest == ".asig" || isChunk() || name == Pgram::getSaveFileName (dataName))
            files.add (entry.getFile());
    }
    return files;
}

std::unique_ptr<ProjectLoader> ProjectLoader::readProjectFile (const juce::File& projectFile, LoadedProject& project,
                                                               juce::Result& result)
{
    const auto failure = [&] (const juce::String& why) {
        result = juce::Result::fail (describe (projectFile, why));
        return nullptr;
    };
    juce::FileInputStream stream (projectFile);
    if (! stream.openedOk())
        return failure ("it cannot be read");
    ProjectStreamReader in (stream);
    if (in.readString (64) != magic || ! in.ok())
        return failure ("it is not a Kalder Pro project");
    const auto format = in.readInt();
    if (! in.ok())
        return failure ("it ends before its format");
    if (format > currentFormat)
        return failure ("it was saved in project format " + juce::String (format)
                        + ", newer than this version of Kalder Pro reads (up to " + juce::String (currentFormat)
                        + "). Please update Kalder Pro");
    auto loader = forFormat (format);
    if (loader == nullptr)
        return failure ("its format number " + juce::String (format) + " is unknown");
    project = {};
    project.header.format = format;
    loader->readRecordsFrom (in, project);
    if (! in.ok())
        return failure (in.getFailure());
    result = juce::Result::ok();
    return loader;
}

juce::Result ProjectLoader::readRecords (const juce::File& projectFile, LoadedProject& project)
{
    auto result = juce::Result::ok();
    readProjectFile (projectFile, project, result);
    return result;
}

juce::Result ProjectLoader::open (const juce::File& projectFile, const juce::File& workFolder, LoadedProject& project,
                                  Progress::Ptr progress)
{
    if (progress == nullptr)
        progress = new Progress();
    auto result = juce::Result::ok();
    auto loader = readProjectFile (projectFile, project, result);
    return loader == nullptr ? result : loader->openTracks (projectFile, workFolder, project, progress);
}

void ProjectLoader::readRecordsFrom (ProjectStreamReader& in, LoadedProject& project)
{
    const auto count = in.readInt();
    if (in.ok() && (count < 1 || count > maxTracks || (juce::int64) count * smallestRecordBytes > in.getRemaining()))
        in.fail ("its track count " + juce::String (count) + " cannot be right");
    readProjectValues (in, project.header);
    if (in.ok() && (project.header.activeTrack < 0 || project.header.activeTrack >= count))
        in.fail ("its active track " + juce::String ((juce::int64) project.header.activeTrack + 1) + " is not one of its tracks");
    for (int i = 0; i < count && in.ok(); ++i)
    {
        TrackRecord record;
        readRecord (in, record);
        if (! in.ok())
            break;
        if (! isSafeDataName (record.dataName))
            in.fail ("the data name of track " + juce::String (i + 1) + " would leave the project's folder");
        else if (record.parent < -1 || record.parent >= i)
            in.fail ("track " + juce::String (i + 1) + " names a parent that is not an earlier track");
        else if (std::any_of (project.records.begin(), project.records.end(),
                              [&record] (const TrackRecord& r) { return r.dataName == record.dataName; }))
            in.fail ("two tracks share the data name \"" + record.dataName + "\"");
        project.records.push_back (record);
    }
}

juce::Result ProjectLoader::openTracks (const juce::File& projectFile, const juce::File& workFolder, LoadedProject& project,
                                        Progress::Ptr progress)
{
    // Every record is sound: only now are files copied.
    const auto dataFolder = projectFile.getParentDirectory().getChildFile (dataFolderName);
    if (! dataFolder.isDirectory())
        return juce::Result::fail (describe (projectFile, "its folder \"" + juce::String (dataFolderName) + "\" is missing"));
    if (workFolder.exists() || ! workFolder.createDirectory())
        return juce::Result::fail (
            describe (projectFile, "the working folder " + workFolder.getFullPathName() + " cannot be made"));
    // A load that stops half way leaves nothing behind.
    const auto abandon = [&] (juce::Result why) {
        project.tracks.clear();
        workFolder.deleteRecursively();
        return why;
    };
    const auto share = 1.0f / (float) project.records.size();
    for (size_t i = 0; i < project.records.size(); ++i)
    {
        auto result = juce::Result::ok();
        auto part = progress->addChild ({ share * (float) i, share * (float) (i + 1) });
        auto track = openAudioTrack (project.records[i], dataFolder, workFolder, part, project, result);
        if (track == nullptr)
            return abandon (juce::Result::fail (describe (projectFile, result.getErrorMessage())));
        project.tracks.add (track);
        if (progress->isCancelled())
            return abandon (juce::Result::fail ("Cancelled"));
    }
    progress->finish();
    return juce::Result::ok();
}

AudioTrack::Ptr ProjectLoader::openAudioTrack (TrackRecord& record, const juce::File& dataFolder, const juce::File& workFolder,
                                               Progress::Ptr progress, LoadedProject& project, juce::Result& result)
{
    const auto files = getTrackDataFiles (dataFolder, record.dataName);
    progress->setNumSteps (files.size() + 1);
    const auto copy = [&] (const juce::File& file) {
        if (file.isSymbolicLink())
        {
            result = juce::Result::fail ("the data file " + file.getFileName() + " is a link, which a project does not hold");
            return false;
        }
        // Linked where the folders share a disk (no copy, no space: an edit copies a file
        // before its first write, see TrackDataFile), copied where they do not.
        const auto target = workFolder.getChildFile (file.getFileName());
        if (::link (file.getFullPathName().toRawUTF8(), target.getFullPathName().toRawUTF8()) != 0 && ! file.copyFileTo (target))
        {
            result = juce::Result::fail ("the data file " + file.getFileName() + " cannot be copied (is the disk full?)");
            return false;
        }
        progress->advance();
        return true;
    };
    const auto isAudio = [&record] (const juce::File& f) {
        return f.getFileName() == record.dataName + AudioTrack::renderedFileSuffix;
    };
    // The audio first: binding it to the track makes a new, empty store of the data name,
    // so the store's own files come after.
    for (const auto& file : files)
        if (isAudio (file) && ! copy (file))
            return nullptr;
    const auto rendered = workFolder.getChildFile (record.dataName + AudioTrack::renderedFileSuffix);
    juce::String error;
    auto audio = rendered.existsAsFile() ? WavParsedAudio::open (rendered, error) : nullptr;
    if (audio == nullptr)
    {
        result = juce::Result::fail ("the audio of track \"" + record.name + "\" is missing or damaged"
                                     + (error.isNotEmpty() ? " (" + error + ")" : juce::String()));
        return nullptr;
    }
    const auto bits = audio->getBitsPerSample();
    const auto origin = juce::jlimit (0, (int) AudioTrack::OriginId::selection, record.origin);
    AudioTrack::Ptr track = new AudioTrack (record.name.isNotEmpty() ? record.name : record.dataName,
                                            (AudioTrack::OriginId) origin);
    result = track->setAudio (std::move (audio), workFolder, record.dataName, bits, rendered);
    if (result.failed())
        return nullptr;
    for (const auto& file : files)
        if (! isAudio (file) && ! copy (file))
            return nullptr;

    // The saved store when it is whole and of this audio; else the audio is analysed again.
    auto store = std::make_unique<Asig>();
    if (store->openAsig (workFolder, record.dataName).wasOk() && store->isReady() && store->hasAllFrames())
        result = track->setAsig (std::move (store));
    else
        result = juce::Result::fail ("");
    if (result.failed())
    {
        project.warnings.add ("The spectral data of \"" + record.name + "\" was analysed again from its audio.");
        result = track->generateAsig (progress);
        if (result.failed())
            return nullptr;
    }

    juce::String problem;
    if (! openPgram (track->getPgram(), workFolder, record.dataName, problem))
        project.warnings.add ("The melody of \"" + record.name + "\" was not opened: " + problem);
    // Before the editor was stored, a track with pitch edits opened in the melody editor.
    if (getFormat() < 5 && showsPitchEditsInMelodyEditor() && track->hasPitchEdits())
        record.editor = (int) Editor::Type::melody;
    progress->finish();
    result = juce::Result::ok();
    return track;
}

void ProjectLoader::addToMixer (Mixer& mixer, const LoadedProject& project)
{
    jassert (! project.tracks.isEmpty() && mixer.getMasterTrack() == project.tracks[0]);
    for (int i = 1; i < project.tracks.size(); ++i)
    {
        const auto parent = project.records[(size_t) i].parent;
        project.tracks[i]->setParentTrack (parent >= 0 ? project.tracks[parent].get() : nullptr);
        mixer.addTrack (project.tracks[i]);
    }
    for (int i = 0; i < project.tracks.size(); ++i)
        applyRecord (*project.tracks[i], project.records[(size_t) i]);
    const auto& h = project.header;
    if (std::isfinite (h.masterGain))
        mixer.setMasterGain (juce::jlimit (0.0f, 4.0f, h.masterGain));
    mixer.setActiveTrack (project.tracks[juce::jlimit (0, project.tracks.size() - 1, h.activeTrack)]);
}

void ProjectLoader::applyRecord (AudioTrack& track, const TrackRecord& r)
{
    const auto finite = [] (float v, float fallback, float low, float high) {
        return std::isfinite (v) ? juce::jlimit (low, high, v) : fallback;
    };
    track.setVolume (finite (r.volume, 1.0f, 0.0f, 4.0f));
    track.setSolo (r.solo);
    track.setMute (r.mute);
    track.setPan (0, finite (r.panL, 0.0f, 0.0f, 1.0f));
    track.setPan (1, finite (r.panR, 1.0f, 0.0f, 1.0f));
    if (r.colourIndex == 6)
        track.setCustomColour (0xff000000u | ((juce::uint32) r.red << 16) | ((juce::uint32) r.green << 8) | r.blue);
    if (auto* asig = track.getAsig())
    {
        asig->setFlip (r.flip);
        asig->setSelectionVolume (finite (r.selectionVolume, 0.0f, 0.0f, 1.0f));
    }
    track.setEditor (Editor::toType (r.editor));
}

} // namespace kalder

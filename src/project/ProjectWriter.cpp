#include "ProjectWriter.h"

#include "base/DurableFile.h"
#include "melody/Pgram.h"
#include "tracks/Mixer.h"

#include <set>
#include <unistd.h>

namespace kalder
{

TrackRecord ProjectWriter::recordOf (const AudioTrack& track, int parent)
{
    TrackRecord r;
    r.name = track.getName();
    r.dataName = track.getDataName();
    const auto argb = track.getCustomColour();
    r.colourIndex = 6; // the colour itself, whatever it is
    r.red = (juce::uint8) (argb >> 16);
    r.green = (juce::uint8) (argb >> 8);
    r.blue = (juce::uint8) argb;
    r.volume = track.getVolume();
    r.solo = track.isSoloed();
    r.mute = track.isMuted();
    r.frameStart = 0;
    r.frameEnd = track.getnFrames();
    auto& tree = const_cast<AudioTrack&> (track).getTree();
    r.panL = (float) tree[TrackIds::panL];
    r.panR = (float) tree[TrackIds::panR];
    r.editor = (int) track.getEditor();
    r.parent = parent;
    r.origin = (int) track.getOrigin();
    if (const auto* asig = track.getAsig())
    {
        r.flip = asig->isFlipped();
        r.selectionVolume = asig->getSelectionVolume();
    }
    return r;
}

ProjectWriter::Content ProjectWriter::fromMixer (const Mixer& mixer)
{
    JUCE_ASSERT_MESSAGE_THREAD
    Content c;
    c.header.format = ProjectLoader::currentFormat;
    c.header.masterGain = mixer.getMasterGain();
    c.header.loopStart = mixer.getLoop().getStart();
    c.header.loopEnd = mixer.getLoop().getEnd();
    c.header.loopEnabled = mixer.isLoopEnabled();
    auto all = mixer.getAllTracks();
    // Parents before children: the master, then any track whose parent is already listed.
    while (! all.isEmpty())
    {
        bool moved = false;
        for (int i = 0; i < all.size(); ++i)
        {
            auto* t = all.getUnchecked (i).get();
            const auto parent = t->getParentTrack() != nullptr ? c.tracks.indexOf (t->getParentTrack()) : -1;
            if (t->getParentTrack() != nullptr && parent < 0 && all.contains (t->getParentTrack()))
                continue;
            c.tracks.add (t);
            c.records.push_back (recordOf (*t, parent));
            all.remove (i--);
            moved = true;
        }
        if (! moved)
            break;
    }
    c.header.activeTrack = juce::jmax (0, c.tracks.indexOf (mixer.getActiveTrack()));
    return c;
}

void ProjectWriter::writeRecord (ProjectStreamWriter& out, const TrackRecord& r)
{
    out.writeString (r.name);
    out.writeString (r.dataName);
    out.writeInt (r.colourIndex);
    if (r.colourIndex == 6)
    {
        out.writeByte (r.red);
        out.writeByte (r.green);
        out.writeByte (r.blue);
    }
    out.writeFloat (r.volume);
    out.writeBool (r.solo);
    out.writeBool (r.mute);
    out.writeInt (r.frameStart);
    out.writeInt (r.frameEnd);
    out.writeFloat (r.panL);
    out.writeFloat (r.panR);
    out.writeInt (r.editor);
    out.writeInt (r.parent);
    out.writeInt (r.origin);
    out.writeBool (r.flip);
    out.writeFloat (r.selectionVolume);
}

void ProjectWriter::writeStream (juce::OutputStream& stream, const Content& c)
{
    ProjectStreamWriter out (stream);
    out.writeString (ProjectLoader::magic);
    out.writeInt (ProjectLoader::currentFormat);
    out.writeInt ((int) c.records.size());
    out.writeFloat (c.header.masterGain);
    out.writeInt (c.header.loopStart);
    out.writeInt (c.header.loopEnd);
    out.writeBool (c.header.loopEnabled);
    out.writeInt (juce::jlimit (0, juce::jmax (0, (int) c.records.size() - 1), c.header.activeTrack));
    for (const auto& r : c.records)
        writeRecord (out, r);
}

namespace
{
    /** Whether target already holds source's content (the same size, written since). */
    bool isCurrent (const juce::File& source, const juce::File& target)
    {
        return target.existsAsFile() && target.getSize() == source.getSize()
               && target.getLastModificationTime() >= source.getLastModificationTime();
    }
} // namespace

juce::Result ProjectWriter::save (const juce::File& projectFile, Content& c, Progress::Ptr progress)
{
    if (progress == nullptr)
        progress = new Progress();
    const auto fail = [&projectFile] (const juce::String& why) {
        return juce::Result::fail ("The project \"" + projectFile.getFullPathName() + "\" was not saved: " + why
                                   + " The project as it was saved before is unchanged.");
    };
    if (c.tracks.isEmpty() || c.records.size() != (size_t) c.tracks.size())
        return fail ("there is no track to save.");
    c.storedNames.resize (c.records.size());
    std::set<juce::String> names;
    for (const auto& r : c.records)
        if (! ProjectLoader::isSafeDataName (r.dataName) || ! names.insert (r.dataName).second)
            return fail ("the data name \"" + r.dataName + "\" is not one a project can hold.");

    const auto dataFolder = projectFile.getParentDirectory().getChildFile (ProjectLoader::dataFolderName);
    if (! dataFolder.isDirectory() && dataFolder.createDirectory().failed())
        return fail ("the folder " + dataFolder.getFullPathName() + " cannot be made.");

    // The files a save may remove are those of the project it replaces: another
    // project's that shares the folder are never touched.
    std::set<juce::String> replacedNames;
    if (LoadedProject replaced; projectFile.existsAsFile() && ProjectLoader::readRecords (projectFile, replaced).wasOk())
        for (const auto& r : replaced.records)
            replacedNames.insert (r.dataName);
    for (const auto& name : c.storedNames)
        if (name.isNotEmpty())
            replacedNames.insert (name);

    // 1. Each track's files: kept where current, else in beside the old ones under a new name.
    std::set<juce::String> kept;
    std::vector<juce::File> created; // removed again if the save fails
    const auto failAndClean = [&] (const juce::String& why) {
        for (const auto& f : created)
            f.deleteFile();
        return fail (why);
    };
    auto records = c.records;
    auto stored = c.storedNames;
    progress->setNumSteps (c.tracks.size() + 1);
    // An edit that lands while the files are copied would leave a copy half old, half
    // new: each store's edit count is taken before and compared once all are copied.
    // A store not analysed yet (or whose analysis failed) holds no edit: the track goes
    // in with its audio alone, and opening the project analyses it again.
    std::vector<juce::uint64> generations;
    for (auto* track : c.tracks)
        generations.push_back (track->getAsig() != nullptr ? track->getAsig()->getEditGeneration() : 0);
    for (int i = 0; i < c.tracks.size(); ++i)
    {
        if (progress->isCancelled())
            return failAndClean ("the save was cancelled.");
        auto* track = c.tracks.getUnchecked (i).get();
        const auto& dataName = c.records[(size_t) i].dataName;
        // the track's files, as (source, name without the data name)
        std::vector<std::pair<juce::File, juce::String>> files;
        if (auto* asig = track->getAsig(); asig != nullptr && track->isStoreReady())
        {
            if (! asig->getPropertiesFile().existsAsFile())
                if (const auto r = asig->saveProperties (asig->getPropertiesFile()); r.failed())
                    return failAndClean (r.getErrorMessage());
            for (const auto& f : asig->getDataFiles())
                if (f.getFileName().startsWith (track->getDataName()))
                    files.emplace_back (f, f.getFileName().substring (track->getDataName().length()));
        }
        files.emplace_back (track->getAudioFile(), AudioTrack::renderedFileSuffix);

        const auto guideText = track->hasPitchEdits() ? track->getPgram().toGuideText() : juce::String();
        const auto unchangedUnder = [&] (const juce::String& name) {
            if (name.isEmpty())
                return false;
            for (const auto& [source, suffix] : files)
                if (! isCurrent (source, dataFolder.getChildFile (name + suffix)))
                    return false;
            const auto guide = dataFolder.getChildFile (Pgram::getSaveFileName (name));
            if (guide.existsAsFile() != guideText.isNotEmpty() || (guide.existsAsFile() && guide.loadFileAsString() != guideText))
                return false;
            return ProjectLoader::getTrackDataFiles (dataFolder, name).size() >= (int) files.size(); // nothing of it missing
        };
        auto name = stored[(size_t) i];
        if (! unchangedUnder (name))
        {
            // A name no file of the folder has yet.
            // the stem without an earlier save's version: "song-v2" goes on as "song-v3"
            auto stem = dataName;
            if (const auto at = stem.lastIndexOf ("-v");
                at > 0 && stem.substring (at + 2).containsOnly ("0123456789") && stem.length() > at + 2)
                stem = stem.substring (0, at);
            int version = 1;
            do
                name = stem + "-v" + juce::String (version++);
            while (! ProjectLoader::getTrackDataFiles (dataFolder, name).isEmpty() || names.count (name) > 0);
            for (const auto& [source, suffix] : files)
            {
                const auto target = dataFolder.getChildFile (name + suffix);
                const auto previous = stored[(size_t) i].isNotEmpty() ? dataFolder.getChildFile (stored[(size_t) i] + suffix)
                                                                      : juce::File();
                // an unchanged file is linked, not copied: the old name keeps its file
                if (previous != juce::File() && isCurrent (source, previous)
                    && ::link (previous.getFullPathName().toRawUTF8(), target.getFullPathName().toRawUTF8()) == 0)
                {
                    created.push_back (target);
                    continue;
                }
                if (const auto r = DurableFile::copyFile (source, target); r.failed())
                    return failAndClean (r.getErrorMessage());
                created.push_back (target);
            }
        }
        for (const auto& [source, suffix] : files)
            kept.insert (name + suffix);
        names.insert (name);
        if (guideText.isNotEmpty())
        {
            // under a new name it is new; under the kept one it is the same text
            const auto guide = dataFolder.getChildFile (Pgram::getSaveFileName (name));
            if (! guide.existsAsFile())
            {
                if (const auto r = DurableFile::replaceWithText (guide, guideText); r.failed())
                    return failAndClean (r.getErrorMessage());
                created.push_back (guide);
            }
            kept.insert (guide.getFileName());
        }
        records[(size_t) i].dataName = name;
        stored[(size_t) i] = name;
        progress->advance();
    }

    for (int i = 0; i < c.tracks.size(); ++i)
        if (auto* asig = c.tracks.getUnchecked (i)->getAsig();
            asig != nullptr && asig->getEditGeneration() != generations[(size_t) i])
            return failAndClean ("the track \"" + c.tracks.getUnchecked (i)->getName()
                                 + "\" was edited while it was saved: save again.");

    // 2. The project file, swapped in whole.
    Content written { c.header, c.tracks, records, stored };
    juce::MemoryOutputStream stream;
    writeStream (stream, written);
    if (const auto r = DurableFile::replaceWithData (projectFile, stream.getData(), stream.getDataSize()); r.failed())
        return failAndClean (r.getErrorMessage());
    c.storedNames = stored;

    // 3. Only now: the replaced project's files that no track of the saved one names.
    for (const auto& name : replacedNames)
        for (const auto& f : ProjectLoader::getTrackDataFiles (dataFolder, name))
            if (kept.count (f.getFileName()) == 0)
                f.deleteFile();
    progress->finish();
    return juce::Result::ok();
}

} // namespace kalder

#pragma once

#include "ProjectLoader.h"

namespace kalder
{

class Mixer;

/**
    Writes a project in the newest format: the project file, and the tracks' data files
    in the "trackdata" folder beside it.

    A save never loses the project it replaces. A track whose files in "trackdata" are
    current keeps them and their name; a track that changed gets a new name there (its
    data name with "-v" and a number), under which its files go in beside the old ones,
    the unchanged ones as hard links (no copy, no space), the others copied through a
    new file, synced and renamed. Then the project file is replaced the same way, and
    only then are the files of the replaced project that the new one no longer names
    removed (another project's files in the same folder are never touched). A failure at
    any point (a full disk, no permission, a vanished folder, a kill, progress cancelled)
    leaves the previous project whole, file for file, and says what failed. Saving an unchanged project
    writes only the project file.

    A track whose store is edited while its files are copied makes the save fail as
    above (the copy could be half old, half new): the caller saves again. A track whose
    store is not analysed yet (it holds no edit then) is saved with its audio alone;
    opening the project analyses it again.

    Threading: Content is taken on the message thread (fromMixer); save() runs on any
    thread.
*/
struct ProjectWriter
{
    struct Content
    {
        ProjectHeader header;
        /** The master first; each parent before its children. */
        juce::ReferenceCountedArray<AudioTrack> tracks;
        std::vector<TrackRecord> records;
        /** Per track, the name its files had in "trackdata" at the last save or open of
            this project (empty: none); save() sets them to the names it wrote. */
        std::vector<juce::String> storedNames;
    };

    /** The mixer's tracks and settings as they stand. Message thread. */
    static Content fromMixer (const Mixer& mixer);

    /** The record of one track (parent: its index in the project, -1 for none). */
    static TrackRecord recordOf (const AudioTrack& track, int parent);

    static juce::Result save (const juce::File& projectFile, Content& content, Progress::Ptr progress = nullptr);

    /** The project stream of content, newest format. */
    static void writeStream (juce::OutputStream& out, const Content& content);
    static void writeRecord (ProjectStreamWriter& out, const TrackRecord& record);
};

} // namespace kalder

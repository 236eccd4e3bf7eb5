#pragma once

#include "ProjectStream.h"

#include "base/Progress.h"
#include "tracks/AudioTrack.h"

namespace kalder
{

class Mixer;

/** One track as a project file stores it (every field of every format; a format that
    lacks a field leaves its default). */
struct TrackRecord
{
    juce::String name, dataName;
    int colourIndex = 0;
    juce::uint8 red = 0, green = 0, blue = 0; // with colour index 6
    float volume = 1.0f;
    bool solo = false, mute = false;
    int frameStart = 0, frameEnd = 0;
    // format 5 on
    float panL = 0.0f, panR = 1.0f;
    int editor = 0;  // Editor::Type
    int parent = -1; // index of an earlier record, -1 for none
    int origin = 0;  // AudioTrack::OriginId
    bool flip = false;
    float selectionVolume = 0.0f;
};

/** The project-level values (format 5 on; the defaults before). */
struct ProjectHeader
{
    int format = 0;
    float masterGain = 1.0f;
    int loopStart = 0, loopEnd = 0;
    bool loopEnabled = false;
    int activeTrack = 0; // format 6 on: the track the editors showed (the mix plays it alone)
};

/** What a load gives: the tracks in file order (the first is the master), their records
    and pitch lines, and what was read with a problem that did not stop the load. */
struct LoadedProject
{
    ProjectHeader header;
    std::vector<TrackRecord> records;
    juce::ReferenceCountedArray<AudioTrack> tracks;
    juce::StringArray warnings;
};

/**
    Reads a project file (".orv" with its "trackdata" folder beside it) of any format.
    Each format has its reader; each derives from the one before and overrides only what
    its format changed:

        format 1  name, data name, colour (three bytes more for colour 6)
        format 2  + volume, solo, mute
        format 3  + the pitch-edit file (binary), the track keeping its editor
        format 4  + the frame range; a track with pitch edits opens in the melody editor
        format 5  + pan, editor, parent, origin, flip, selection volume; the mixer's gain
                    and loop
        format 6  the pitch-edit file is the melody guide file; the active track

    The stream is checked as it is read and nothing of it is trusted: a project fails
    whole (a message naming the file and the problem) when it is truncated, holds counts
    beyond what its bytes could hold, strings without an end, a data name that would
    leave the "trackdata" folder, a parent that is not an earlier track, or a format
    newer than this program's. The data files come into workFolder as hard links
    where both folders are on one disk (a data file writes to a name of its own before
    its first change, so the project's files stay as saved), else as copies; data files
    given as symbolic links are refused. A track whose store cannot be opened is
    analysed again from its audio.

    Threading: a load runs on one thread, any but the message thread for real projects;
    its tracks are not shared until it returns (apply the records' settings on the
    message thread: applyRecord()).
*/
class ProjectLoader
{
public:
    static constexpr const char* magic = "Kalder Pro project";
    static constexpr int currentFormat = 6;
    static constexpr int maxTracks = 1000;
    static constexpr const char* dataFolderName = "trackdata";

    virtual ~ProjectLoader() = default;

    /** Opens projectFile; the tracks' files are linked or copied into workFolder, a folder of the
        load's own that must not exist yet and is removed again when the load fails. */
    static juce::Result open (const juce::File& projectFile, const juce::File& workFolder, LoadedProject& project,
                              Progress::Ptr progress = nullptr);

    /** Reads only the project file, header and records, as open() checks them; nothing
        of "trackdata" is read. */
    static juce::Result readRecords (const juce::File& projectFile, LoadedProject& project);

    /** The reader of a format, or null for one this program does not know. */
    static std::unique_ptr<ProjectLoader> forFormat (int format);

    /** Gives a loaded track the settings of its record. Message thread. */
    static void applyRecord (AudioTrack& track, const TrackRecord& record);

    /** After the project's master became the mixer's master: adds the other tracks with
        their parents, gives every track its record's settings, and sets the mixer's gain
        and active track. Message thread. */
    static void addToMixer (Mixer& mixer, const LoadedProject& project);

    /** Whether a data name may name files inside the data folder. */
    static bool isSafeDataName (const juce::String& dataName);

    /** The files of the data folder that belong to the track of dataName. */
    static juce::Array<juce::File> getTrackDataFiles (const juce::File& dataFolder, const juce::String& dataName);

protected:
    virtual int getFormat() const = 0;
    /** Reads the project-level values after the track count. */
    virtual void readProjectValues (ProjectStreamReader&, ProjectHeader&) {}
    /** Reads one track record's fields. */
    virtual void readRecord (ProjectStreamReader& in, TrackRecord& record) = 0;
    /** Reads a track's pitch-edit file, if its format has one (false: it is damaged). */
    virtual bool openPgram (Pgram&, const juce::File& /*directory*/, const juce::String& /*dataName*/, juce::String& /*problem*/)
    {
        return true;
    }
    /** Whether a track with pitch edits opens in the melody editor. */
    virtual bool showsPitchEditsInMelodyEditor() const { return false; }

    /** The project file up to its records, and the reader of its format (null: failed). */
    static std::unique_ptr<ProjectLoader> readProjectFile (const juce::File& projectFile, LoadedProject& project,
                                                           juce::Result& result);
    /** The track count, the project values and the records, checked (a failure stays in in). */
    void readRecordsFrom (ProjectStreamReader& in, LoadedProject& project);
    /** Copies the records' files into workFolder and opens their tracks. */
    juce::Result openTracks (const juce::File& projectFile, const juce::File& workFolder, LoadedProject& project,
                             Progress::Ptr progress);
    AudioTrack::Ptr openAudioTrack (TrackRecord& record, const juce::File& dataFolder, const juce::File& workFolder,
                                    Progress::Ptr progress, LoadedProject& project, juce::Result& result);
};

} // namespace kalder

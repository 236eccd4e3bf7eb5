// Projects on disk: the newest format round trip, every earlier format through a writer of
// its own, saving without losing the old project, and damaged files refused whole.

#include "base/DurableFile.h"
#include "editing/ManualEditManager.h"
#include "melody/PitchEditManager.h"
#include "project/ProjectWriter.h"
#include "support/TestSignals.h"
#include "support/TestTracks.h"

#include <gtest/gtest.h>

using namespace kalder;

namespace
{
constexpr int rate = 22050;

/** A master, a child of it and a grandchild, each with something of its own. */
struct SessionProject
{
    explicit SessionProject (const juce::File& folder)
    {
        master = test::makeTrack (folder.getChildFile ("work"), "song", test::makeNoise (2, rate, 2, 0.3f), rate);
        child = test::makeTrack (folder.getChildFile ("work"), "vocals", test::makeNoise (2, rate, 3, 0.3f), rate);
        grandchild = test::makeTrack (folder.getChildFile ("work"), "lead", test::makeSine (2, rate, rate, 440.0, 0.3f), rate);
        child->setParentTrack (master.get());
        grandchild->setParentTrack (child.get());
        child->setVolume (0.5f);
        child->setPan (0, 0.25f);
        child->setMute (true);
        child->setCustomColour (0xff112233);
        EXPECT_TRUE (child->getManualEditManager().erase (0, 20, 10, 200, 3.0, 1.0).wasChanged());
        grandchild->setSolo (true);
        grandchild->getPgram().addLine (
            std::make_shared<const PitchLine> (std::vector<PitchLine::Node> { { 0.1f, 0.5f }, { 0.6f, 0.4f } }));
        grandchild->setEditor (Editor::Type::melody);
    }

    ProjectWriter::Content content() const
    {
        ProjectWriter::Content c;
        c.header.format = ProjectLoader::currentFormat;
        c.header.masterGain = 0.8f;
        c.header.loopStart = 3;
        c.header.loopEnd = 9;
        c.header.loopEnabled = true;
        c.tracks.add (master);
        c.tracks.add (child);
        c.tracks.add (grandchild);
        c.records = { ProjectWriter::recordOf (*master, -1), ProjectWriter::recordOf (*child, 0),
                      ProjectWriter::recordOf (*grandchild, 1) };
        return c;
    }

    AudioTrack::Ptr master, child, grandchild;
};

/** Every file under a folder, by relative path, with its bytes. */
std::map<juce::String, juce::MemoryBlock> snapshot (const juce::File& folder)
{
    std::map<juce::String, juce::MemoryBlock> files;
    for (const auto& e : juce::RangedDirectoryIterator (folder, true, "*", juce::File::findFiles))
        e.getFile().loadFileAsData (files[e.getFile().getRelativePathFrom (folder)]);
    return files;
}

/** The gain the track's mask gives a bin (-1 when the store cannot say). */
float maskAt (AudioTrack& t, int frame, int bin)
{
    auto* asig = t.getAsig();
    const auto masked = asig->readFrames (0, { frame, frame + 1 }, Asig::MaskUse::mask, Asig::SelectionGain::none);
    const auto plain = asig->readFrames (0, { frame, frame + 1 }, Asig::MaskUse::none, Asig::SelectionGain::none);
    if (masked.rows() <= bin || plain.rows() <= bin || masked.cols() < 1 || std::abs (plain (bin, 0)) == 0.0f)
        return -1.0f;
    return std::abs (masked (bin, 0)) / std::abs (plain (bin, 0));
}
} // namespace

TEST (ProjectFile, ASavedProjectOpensWithEveryTrackSettingMaskAndMelody)
{
    test::TemporaryDirectory dir;
    SessionProject session (dir.get());
    auto content = session.content();
    const auto file = dir.get().getChildFile ("saved/song.orv");
    ASSERT_TRUE (file.getParentDirectory().createDirectory().wasOk());
    ASSERT_TRUE (ProjectWriter::save (file, content).wasOk());

    LoadedProject loaded;
    ASSERT_TRUE (ProjectLoader::open (file, dir.get().getChildFile ("opened"), loaded).wasOk());
    ASSERT_EQ (loaded.tracks.size(), 3);
    EXPECT_TRUE (loaded.warnings.isEmpty()) << loaded.warnings.joinIntoString ("; ");
    for (int i = 0; i < 3; ++i)
        ProjectLoader::applyRecord (*loaded.tracks[i], loaded.records[(size_t) i]);
    EXPECT_EQ (loaded.header.masterGain, 0.8f);
    EXPECT_EQ (loaded.header.loopEnd, 9);
    EXPECT_TRUE (loaded.header.loopEnabled);
    EXPECT_EQ (loaded.records[1].parent, 0);
    EXPECT_EQ (loaded.records[2].parent, 1);

    auto& child = *loaded.tracks[1];
    EXPECT_EQ (child.getName(), "vocals");
    EXPECT_EQ (child.getVolume(), 0.5f);
    EXPECT_EQ ((float) child.getTree()[TrackIds::panL], 0.25f);
    EXPECT_TRUE (child.isMuted());
    EXPECT_EQ (child.getCustomColour(), 0xff112233u);
    // the eraser ran from (frame 0, bin 20) to (10, 200): frame 5 lost bin 110
    EXPECT_EQ (maskAt (child, 5, 110), maskAt (*session.child, 5, 110));
    EXPECT_GE (maskAt (child, 5, 110), 0.0f);
    EXPECT_LT (maskAt (child, 5, 110), 0.5f) << "the erase came back";
    EXPECT_NEAR (maskAt (child, 30, 100), 1.0f, 1e-6f);
    auto& lead = *loaded.tracks[2];
    EXPECT_TRUE (lead.isSoloed());
    EXPECT_EQ (lead.getEditor(), Editor::Type::melody);
    EXPECT_EQ (lead.getPgram().getMidiPitchAt (0.3f), session.grandchild->getPgram().getMidiPitchAt (0.3f));
    // the opened project's files are its own: editing every track (and silencing the
    // frames of one) leaves the saved project as it was, byte for byte
    EXPECT_FALSE (child.getAudioFile().isAChildOf (file.getParentDirectory()));
    const auto saved = snapshot (file.getParentDirectory());
    for (auto* t : loaded.tracks)
        ASSERT_TRUE (t->getManualEditManager().erase (0, 5, 40, 900, 3.0, 1.0).wasChanged());
    ASSERT_TRUE (child.silenceFrames ({ 2, 6 }).wasOk());
    EXPECT_EQ (snapshot (file.getParentDirectory()), saved);
    EXPECT_LT (maskAt (child, 20, 452), 0.5f); // on the stroke from (0, 5) to (40, 900)

    // a track not analysed yet (a child just imported, an analysis that failed) goes in
    // with its audio, and is analysed again when the project opens
    auto late = session.content();
    auto pending = test::makeTrack (dir.get().getChildFile ("late"), "pending", test::makeNoise (2, rate, 4, 0.3f), rate, false);
    late.tracks.add (pending);
    late.records.push_back (ProjectWriter::recordOf (*pending, 0));
    const auto lateFile = dir.get().getChildFile ("late-project/song.orv");
    ASSERT_TRUE (lateFile.getParentDirectory().createDirectory().wasOk());
    ASSERT_TRUE (ProjectWriter::save (lateFile, late).wasOk());
    LoadedProject reopened;
    ASSERT_TRUE (ProjectLoader::open (lateFile, dir.get().getChildFile ("late-opened"), reopened).wasOk());
    ASSERT_EQ (reopened.tracks.size(), 4);
    EXPECT_TRUE (reopened.tracks[3]->isStoreReady());
    EXPECT_TRUE (reopened.warnings.joinIntoString (" ").contains ("analysed again"));
}

TEST (ProjectFile, ASaveKeepsTheOldProjectUntilTheNewOneIsWholeAndWritesOnlyWhatChanged)
{
    test::TemporaryDirectory dir;
    SessionProject session (dir.get());
    auto content = session.content();
    const auto file = dir.get().getChildFile ("p/song.orv");
    ASSERT_TRUE (file.getParentDirectory().createDirectory().wasOk());
    ASSERT_TRUE (ProjectWriter::save (file, content).wasOk());
    const auto first = snapshot (file.getParentDirectory());
    const auto names = content.storedNames;

    // unchanged: the data files stay as they are, byte for byte and by name
    ASSERT_TRUE (ProjectWriter::save (file, content).wasOk());
    EXPECT_EQ (snapshot (file.getParentDirectory()), first);

    // an edit that lands while the files are copied (after the first track): refused, the
    // first save whole; the edit itself is kept for the next save
    struct EditWhileSaving : Progress::Listener
    {
        explicit EditWhileSaving (AudioTrack& t) : track (t) {}
        void progressChanged (float value, Progress::Ptr) override
        {
            if (value > 0.0f && ! edited)
                edited = track.getManualEditManager().erase (0, 10, 5, 100, 3.0, 1.0).wasChanged();
        }
        AudioTrack& track;
        bool edited = false;
    } editor (*session.master);
    Progress::Ptr progress (new Progress());
    progress->addListener (&editor);
    auto attempt = content;
    const auto refused = ProjectWriter::save (file, attempt, progress);
    progress->removeListener (&editor);
    ASSERT_TRUE (editor.edited);
    EXPECT_TRUE (refused.getErrorMessage().contains ("edited while it was saved")) << refused.getErrorMessage();
    EXPECT_EQ (snapshot (file.getParentDirectory()), first) << "a save torn by an edit changed the saved project";

    // the edit of one track: a full disk at 20 places leaves the first save whole, file for file
    const auto total = 4 << 20;
    for (int i = 0; i < 20; ++i)
    {
        const auto limit = (size_t) (i * (total / 20));
        DurableFile::setSpaceCheckForTesting (
            [limit, used = size_t (0), last = size_t (0)] (size_t written, size_t wanted) mutable {
                if (written < last)
                    used += last; // a new file
                last = written;
                return used + written >= limit ? 0 : std::min (wanted, limit - used - written);
            });
        auto attempt = content;
        const auto r = ProjectWriter::save (file, attempt);
        DurableFile::setSpaceCheckForTesting (nullptr);
        if (r.wasOk())
        {
            content = attempt; // enough room for the whole save
            break;
        }
        EXPECT_TRUE (r.getErrorMessage().contains ("unchanged")) << r.getErrorMessage();
        EXPECT_EQ (snapshot (file.getParentDirectory()), first) << "a failed save changed the saved project";
    }
    ASSERT_NE (content.storedNames[0], names[0]) << "no save succeeded";
    LoadedProject loaded;
    ASSERT_TRUE (ProjectLoader::open (file, dir.get().getChildFile ("o"), loaded).wasOk());
    EXPECT_GE (maskAt (*loaded.tracks[0], 3, 64), 0.0f);
    EXPECT_LT (maskAt (*loaded.tracks[0], 3, 64), 0.5f) << "the new save holds the edit";
    // the edited track has new files; the old ones went once the new project was in place
    const auto trackdata = file.getParentDirectory().getChildFile ("trackdata");
    EXPECT_NE (content.storedNames[0], names[0]);
    EXPECT_TRUE (ProjectLoader::getTrackDataFiles (trackdata, names[0]).isEmpty());
    EXPECT_EQ (content.storedNames[1], names[1]) << "an unchanged track keeps its files";

    // another project saved (twice) into the same folder shares "trackdata" and leaves
    // every file of the first as it was
    const auto before = snapshot (file.getParentDirectory());
    auto other = session.content();
    const auto otherFile = file.getSiblingFile ("other.orv");
    ASSERT_TRUE (ProjectWriter::save (otherFile, other).wasOk());
    ASSERT_TRUE (session.child->getManualEditManager().erase (0, 30, 5, 100, 3.0, 1.0).wasChanged());
    ASSERT_TRUE (ProjectWriter::save (otherFile, other).wasOk());
    auto after = snapshot (file.getParentDirectory());
    for (const auto& [path, bytes] : before)
        EXPECT_TRUE (after.count (path) > 0 && after[path] == bytes) << path;
}

namespace
{
/** Writes a project of an earlier format over the data of a saved one: the fields that
    format has, in its order; formats 3 to 5 with their binary pitch-edit files. */
void writeEarlierFormat (const juce::File& file, int format, const std::vector<TrackRecord>& records,
                         const std::vector<Pgram::Lines>& lines)
{
    juce::MemoryOutputStream bytes;
    ProjectStreamWriter out (bytes);
    out.writeString (ProjectLoader::magic);
    out.writeInt (format);
    out.writeInt ((int) records.size());
    if (format >= 5)
    {
        out.writeFloat (0.7f);
        out.writeInt (2);
        out.writeInt (4);
        out.writeBool (true);
    }
    for (const auto& r : records)
    {
        out.writeString (r.name);
        out.writeString (r.dataName);
        out.writeInt (r.colourIndex);
        if (r.colourIndex == 6)
            for (auto c : { r.red, r.green, r.blue })
                out.writeByte (c);
        if (format >= 2)
        {
            out.writeFloat (r.volume);
            out.writeBool (r.solo);
            out.writeBool (r.mute);
        }
        if (format >= 4)
        {
            out.writeInt (r.frameStart);
            out.writeInt (r.frameEnd);
        }
        if (format >= 5)
        {
            out.writeFloat (r.panL);
            out.writeFloat (r.panR);
            out.writeInt (r.editor);
            out.writeInt (r.parent);
            out.writeInt (r.origin);
            out.writeBool (r.flip);
            out.writeFloat (r.selectionVolume);
        }
    }
    ASSERT_TRUE (file.replaceWithData (bytes.getData(), bytes.getDataSize()));

    for (size_t i = 0; i < records.size() && format >= 3 && format <= 5; ++i)
    {
        const auto guide =
            file.getParentDirectory().getChildFile ("trackdata").getChildFile (Pgram::getSaveFileName (records[i].dataName));
        guide.deleteFile();
        if (lines[i].empty())
            continue;
        juce::MemoryOutputStream g;
        ProjectStreamWriter w (g);
        w.writeString ("[");
        for (size_t k = 0; k < lines[i].size(); ++k)
        {
            w.writeString ("[");
            w.writeInt ((int) lines[i][k]->getNodePositions().size());
            for (const auto& n : lines[i][k]->getNodePositions())
            {
                w.writeFloat (n.x);
                w.writeFloat (n.y);
            }
            w.writeString ("]");
            w.writeString (k + 1 < lines[i].size() ? "," : "]");
        }
        ASSERT_TRUE (guide.replaceWithData (g.getData(), g.getDataSize()));
    }
}
} // namespace

TEST (ProjectFile, EveryEarlierFormatReadsBackWhatItsWriterPutIn)
{
    test::TemporaryDirectory dir;
    SessionProject session (dir.get());
    auto content = session.content();
    const auto file = dir.get().getChildFile ("old/song.orv");
    ASSERT_TRUE (file.getParentDirectory().createDirectory().wasOk());
    ASSERT_TRUE (ProjectWriter::save (file, content).wasOk());
    auto records = content.records;
    for (size_t i = 0; i < records.size(); ++i)
        records[i].dataName = content.storedNames[i];
    records[0].colourIndex = 2; // not 6: no colour bytes follow
    records[1].frameStart = 100;
    records[1].frameEnd = 50; // an end before its start
    const std::vector<Pgram::Lines> lines { {}, {}, session.grandchild->getPgram().getPitchLines() };

    for (int format = 1; format <= 5; ++format)
    {
        SCOPED_TRACE ("format " + std::to_string (format));
        writeEarlierFormat (file, format, records, lines);
        LoadedProject loaded;
        const auto r = ProjectLoader::open (file, dir.get().getChildFile ("w" + juce::String (format)), loaded);
        ASSERT_TRUE (r.wasOk()) << r.getErrorMessage();
        ASSERT_EQ (loaded.records.size(), 3u);
        EXPECT_EQ (loaded.header.format, format);
        EXPECT_EQ (loaded.records[1].name, "vocals");
        EXPECT_EQ (loaded.records[1].colourIndex, 6);
        EXPECT_EQ (loaded.records[1].green, 0x22);
        EXPECT_EQ (loaded.records[0].colourIndex, 2);
        EXPECT_EQ (loaded.records[1].volume, format >= 2 ? 0.5f : 1.0f);
        EXPECT_EQ (loaded.records[2].solo, format >= 2);
        EXPECT_EQ (loaded.records[1].frameStart, format >= 4 ? 100 : 0);
        EXPECT_EQ (loaded.records[1].frameEnd, format >= 4 ? 100 : 0) << "an end before the start reads as the start";
        EXPECT_EQ (loaded.records[1].panL, format >= 5 ? 0.25f : 0.0f);
        EXPECT_EQ (loaded.records[2].parent, format >= 5 ? 1 : -1);
        EXPECT_EQ (loaded.header.masterGain, format >= 5 ? 0.7f : 1.0f);
        const auto pitch = loaded.tracks[2]->getPgram().getMidiPitchAt (0.3f);
        EXPECT_EQ (pitch, format >= 3 ? session.grandchild->getPgram().getMidiPitchAt (0.3f) : -1.0f);
        EXPECT_EQ (loaded.records[2].editor, format >= 4 ? (int) Editor::Type::melody : 0)
            << "format 3 keeps the editor, format 4 opens the melody editor";
    }
}

TEST (ProjectFile, DamagedProjectsAreRefusedWholeAndNameTheirProblem)
{
    test::TemporaryDirectory dir;
    SessionProject session (dir.get());
    auto content = session.content();
    const auto file = dir.get().getChildFile ("bad/song.orv");
    ASSERT_TRUE (file.getParentDirectory().createDirectory().wasOk());
    ASSERT_TRUE (ProjectWriter::save (file, content).wasOk());
    juce::MemoryBlock good;
    ASSERT_TRUE (file.loadFileAsData (good));
    const auto work = dir.get().getChildFile ("w");

    const auto refused = [&] (const juce::MemoryBlock& bytes) {
        EXPECT_TRUE (file.replaceWithData (bytes.getData(), bytes.getSize()));
        LoadedProject loaded;
        work.deleteRecursively();
        const auto r = ProjectLoader::open (file, work, loaded);
        EXPECT_TRUE (loaded.tracks.isEmpty());
        EXPECT_FALSE (work.exists() && work.getNumberOfChildFiles (juce::File::findFiles) > 0)
            << "files copied for a refused project";
        return r.failed() ? r.getErrorMessage() : juce::String();
    };
    // truncated at every byte
    for (size_t n = 0; n < good.getSize(); ++n)
    {
        const auto message = refused (juce::MemoryBlock (good.getData(), n));
        ASSERT_TRUE (message.contains (file.getFullPathName())) << n << ": " << message;
    }

    // the stream as written, with one value changed
    const auto with = [&content] (std::function<void (ProjectWriter::Content&)> change, SessionProject&) {
        auto c = content;
        for (size_t i = 0; i < c.records.size(); ++i)
            c.records[i].dataName = c.storedNames[i];
        change (c);
        juce::MemoryOutputStream out;
        ProjectWriter::writeStream (out, c);
        return out.getMemoryBlock();
    };
    const struct
    {
        const char* what;
        std::function<void (ProjectWriter::Content&)> change;
        const char* problem;
    } cases[] = {
        { "a data name up a folder", [] (auto& c) { c.records[1].dataName = "../elsewhere"; }, "leave the project" },
        { "an absolute data name", [] (auto& c) { c.records[1].dataName = "/etc/passwd"; }, "leave the project" },
        { "a parent after its child", [] (auto& c) { c.records[1].parent = 2; }, "parent" },
        { "two tracks on one name", [] (auto& c) { c.records[2].dataName = c.records[1].dataName; }, "share" },
    };
    for (const auto& c : cases)
        EXPECT_TRUE (refused (with (c.change, session)).contains (c.problem)) << c.what;

    auto patched = [&good] (size_t at, juce::int32 value) {
        juce::MemoryBlock b (good);
        std::memcpy (static_cast<char*> (b.getData()) + at, &value, 4);
        return b;
    };
    const auto formatAt = juce::String (ProjectLoader::magic).length() + 1;
    EXPECT_TRUE (refused (patched (formatAt, 7)).contains ("format 7")) << "a newer format says which";
    // after format and count: gain, loop start and end (4 bytes each), loop on (1), active track
    EXPECT_TRUE (refused (patched (formatAt + 21, std::numeric_limits<juce::int32>::max())).contains ("active track 2147483648"))
        << "the largest active track (found by fuzzing: its message overflowed)";
    EXPECT_TRUE (refused (patched (formatAt + 4, 1 << 30)).contains ("track count"));
    EXPECT_TRUE (refused (patched (formatAt + 4, -3)).contains ("track count"));
    juce::MemoryBlock unterminated (good.getData(), formatAt + 25); // where the first name starts
    unterminated.append (std::string (100000, 'x').data(), 100000);
    EXPECT_TRUE (refused (unterminated).contains ("longer than"));
    EXPECT_TRUE (refused (juce::MemoryBlock ("not a project", 13)).contains ("not a Kalder Pro project"));

    // a data file that is a link, and a missing audio file
    ASSERT_TRUE (file.replaceWithData (good.getData(), good.getSize()));
    const auto trackdata = file.getParentDirectory().getChildFile ("trackdata");
    const auto rendered = trackdata.getChildFile (content.storedNames[1] + AudioTrack::renderedFileSuffix);
    const auto moved = dir.get().getChildFile ("outside.wav");
    ASSERT_TRUE (rendered.moveFileTo (moved));
    ASSERT_TRUE (moved.createSymbolicLink (rendered, true));
    EXPECT_TRUE (refused (good).contains ("link"));
    rendered.deleteFile();
    EXPECT_TRUE (refused (good).contains ("missing"));
}

#include "editing/ManualEditManager.h"
#include "support/TestSignals.h"
#include "support/TestTracks.h"
#include "tracks/Mixer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

using namespace kalder;

namespace
{
// 8 kHz gives N = 1024: 513 bins, hops of 256 samples, so a few seconds cross chunks.
constexpr int rate = 8000;

struct Snapshot
{
    std::vector<MaskMatrix> masks;
    MaskMatrix selection;
};

Snapshot snapshot (Asig& asig)
{
    Snapshot s;
    const juce::Range<int> all (0, asig.getNumFrames());
    for (int c = 0; c < asig.getNumChannels(); ++c)
        s.masks.push_back (asig.getMemoryManager()->getMaskFrames (c, all, AsigMemoryManager::Source::files));
    s.selection = asig.getSelection (all);
    return s;
}

bool sameBits (const MaskMatrix& a, const MaskMatrix& b)
{
    return a.rows() == b.rows() && a.cols() == b.cols()
           && std::memcmp (a.data(), b.data(), (size_t) a.size() * sizeof (float)) == 0;
}

bool sameBits (const Snapshot& a, const Snapshot& b)
{
    if (a.masks.size() != b.masks.size() || ! sameBits (a.selection, b.selection))
        return false;
    for (size_t c = 0; c < a.masks.size(); ++c)
        if (! sameBits (a.masks[c], b.masks[c]))
            return false;
    return true;
}

MaskMatrix softValues (int rows, int cols, int seed, float low = 0.05f)
{
    juce::Random r (seed);
    MaskMatrix m (rows, cols);
    for (Eigen::Index i = 0; i < m.size(); ++i)
        m.data()[i] = low + (1.0f - low) * r.nextFloat();
    return m;
}

SelectionUpdate softUpdate (int x, int y, int rows, int cols, int seed, SelectionMode mode)
{
    SelectionUpdate u;
    u.x1 = x;
    u.y1 = y;
    u.x2 = x + cols - 1;
    u.y2 = y + rows - 1;
    u.values = softValues (rows, cols, seed);
    SelectionHelper::setSelectionMode (mode, u);
    return u;
}

AudioTrack::Ptr noiseTrack (const test::TemporaryDirectory& dir, const juce::String& name, int channels, double seconds)
{
    return test::makeTrack (dir.get().getChildFile (name), name, test::makeNoise (channels, (int) (seconds * rate), 7), rate);
}

struct Recorder : EditManagerBase::Listener
{
    struct Call
    {
        int b0, b1, f0, f1;
        bool selection, mask;
    };

    Recorder (std::vector<int>& o, int i) : order (o), id (i) {}

    void blockChanged (int b0, int b1, int f0, int f1, bool selection, bool mask) override
    {
        calls.push_back ({ b0, b1, f0, f1, selection, mask });
        order.push_back (id);
    }

    std::vector<Call> calls;
    std::vector<int>& order;
    int id;
};

ManualEditManager::Settings spilling()
{
    ManualEditManager::Settings s;
    s.blockLimits.memoryBudgetBytes = 16 * 1024;
    s.blockLimits.spillBytes = 4 * 1024;
    return s;
}
} // namespace

TEST (ManualEditManager, UndoAndRedoGiveMasksAndSelectionsBackBitForBit)
{
    struct Config
    {
        const char* name;
        ManualEditManager::Settings settings;
    };
    ManualEditManager::Settings trimmed;
    trimmed.maxUnits = 64; // kilobytes: only the newest few steps fit
    trimmed.minimumTransactions = 3;

    for (const auto& config : { Config { "in memory", {} }, Config { "spilled", spilling() }, Config { "trimmed", trimmed } })
    {
        SCOPED_TRACE (config.name);
        test::TemporaryDirectory dir;
        auto track = noiseTrack (dir, "t", 2, 40.0); // 1253 frames: two chunks
        ASSERT_NE (track, nullptr);
        auto asig = track->getContent()->asig;
        // An edited mask before the history starts, across the chunk boundary.
        ASSERT_TRUE (asig->setMask (0, { 100, 300 }, { 900, 1200 }, softValues (200, 300, 1)));

        ManualEditManager edits (asig, config.settings);
        std::vector<Snapshot> states { snapshot (*asig) };
        const auto step = [&] (EditResult r) {
            EXPECT_TRUE (r.wasChanged()) << states.size() << ": " << r.getMessage();
            states.push_back (snapshot (*asig));
        };

        step (edits.rectangleSelect (950, 50, 1100, 200, SelectionMode::replace));
        step (edits.applySelectionUpdate (softUpdate (1080, 180, 40, 30, 2, SelectionMode::addPoint), "Wand selection"));
        step (edits.applySelectionUpdate (softUpdate (1010, 60, 20, 50, 3, SelectionMode::subtract), "Wand selection"));
        step (edits.setConstant (0.0f));
        step (edits.multiplySelection (0.5f));
        step (edits.growSelection (2, 3));
        step (edits.shrinkSelection (1, 1));
        step (edits.erase (200, 300, 260, 350, 6.0, 0.8));
        // The brush's preview is what the next segment writes, and writes nothing itself.
        const auto preview = edits.previewErase (260, 350, 270, 250);
        EXPECT_TRUE (sameBits (snapshot (*asig), states.back()));
        EXPECT_TRUE (edits.erase (260, 350, 270, 250, 6.0, 0.8, ManualEditManager::Stroke::extend).wasChanged());
        ASSERT_FALSE (preview.isEmpty());
        EXPECT_TRUE (sameBits (asig->getMemoryManager()
                                   ->getMaskFrames (0, preview.frames, AsigMemoryManager::Source::files)
                                   .middleRows (preview.bins.getStart(), preview.bins.getLength()),
                               preview.values));
        states.back() = snapshot (*asig); // the stroke's two segments are one step
        step (edits.spotRemover());
        step (edits.rectangleSelect (-100, -100, 5000, 5000, SelectionMode::replace));
        step (edits.setConstant (0.25f));
        step (edits.clearSelection());
        step (edits.resetEdits());

        auto& history = edits.getUndoManager();
        const auto steps = (int) states.size() - 1;
        if (config.settings.maxUnits > 1000)
            ASSERT_EQ (history.getNumUndos(), steps);
        else
            ASSERT_TRUE (history.getNumUndos() >= config.settings.minimumTransactions && history.getNumUndos() < steps);
        const auto undoable = history.getNumUndos();
        EXPECT_EQ (history.getUndoDescription (0), "Reset spectral edits");

        for (int round = 0; round < 2; ++round)
        {
            for (int k = steps; k > steps - undoable; --k)
            {
                ASSERT_TRUE (edits.undo().wasChanged());
                EXPECT_TRUE (sameBits (snapshot (*asig), states[(size_t) k - 1])) << "undo to " << k - 1;
            }
            EXPECT_FALSE (history.canUndo());
            for (int k = steps - undoable + 1; k <= steps; ++k)
            {
                ASSERT_TRUE (edits.redo().wasChanged());
                EXPECT_TRUE (sameBits (snapshot (*asig), states[(size_t) k])) << "redo to " << k;
            }
        }
        if (config.settings.blockLimits.spillBytes < 1024 * 1024)
        {
            EXPECT_LE (edits.getHistoryUsage().memoryBytes, config.settings.blockLimits.memoryBudgetBytes);
            EXPECT_GT (edits.getHistoryUsage().scratchBytes, 0);
        }
    }
}

TEST (ManualEditManager, EraseBlendsTheSelectionIntoEveryChannelAsOneStepAndUndoNotifiesTheBlock)
{
    test::TemporaryDirectory dir;
    auto track = noiseTrack (dir, "t", 2, 2.0);
    ASSERT_NE (track, nullptr);
    auto asig = track->getContent()->asig;
    const auto frames = asig->getNumFrames();
    const MaskMatrix before0 = softValues (asig->getNumFreqs(), frames, 4, 0.0f);
    ASSERT_TRUE (asig->setMask (0, { 0, asig->getNumFreqs() }, { 0, frames }, before0));

    ManualEditManager edits (asig);
    std::vector<int> order;
    Recorder first (order, 1), second (order, 2);
    edits.addListener (&first);
    edits.addListener (&second);

    // A soft selection of bins 10..40 over frames 5..30, fully selected in one column.
    auto selection = softUpdate (5, 10, 31, 26, 5, SelectionMode::replace);
    selection.values.col (3).setOnes();
    ASSERT_TRUE (edits.applySelectionUpdate (selection, "Wand selection").wasChanged());
    const auto beforeErase = snapshot (*asig);

    ASSERT_TRUE (edits.setConstant (0.0f).wasChanged());
    const auto* set = edits.getUndoManager().getCurrentSet();
    ASSERT_NE (set, nullptr);
    EXPECT_EQ (set->name, "Selection erase");
    EXPECT_EQ (set->actions.size(), 2);

    const auto after = snapshot (*asig);
    for (int f = 0; f < frames; ++f)
    {
        for (int b = 0; b < asig->getNumFreqs(); ++b)
        {
            const bool inside = f >= 5 && f <= 30 && b >= 10 && b <= 40;
            const auto s = inside ? selection.values (b - 10, f - 5) : 0.0f;
            for (int c = 0; c < 2; ++c)
            {
                const auto m = c == 0 ? before0 (b, f) : 1.0f;
                if (! inside)
                    ASSERT_EQ (after.masks[(size_t) c](b, f), m) << b << " " << f;
                else
                    ASSERT_NEAR (after.masks[(size_t) c](b, f), m * (1.0f - s), 1.0e-6f) << b << " " << f;
            }
        }
    }
    EXPECT_EQ (after.masks[1](20, 8), 0.0f); // fully selected: erased exactly

    first.calls.clear();
    second.calls.clear();
    order.clear();
    ASSERT_TRUE (edits.undo().wasChanged());
    EXPECT_TRUE (sameBits (snapshot (*asig), beforeErase));
    ASSERT_EQ (first.calls.size(), 2u); // one per channel
    for (const auto& call : first.calls)
    {
        EXPECT_EQ (std::make_tuple (call.b0, call.b1, call.f0, call.f1), std::make_tuple (10, 41, 5, 31));
        EXPECT_FALSE (call.selection);
        EXPECT_TRUE (call.mask);
    }
    EXPECT_EQ (order, (std::vector<int> { 2, 1, 2, 1 })); // last registered first

    // Undoing the selection notifies the selection's block.
    first.calls.clear();
    ASSERT_TRUE (edits.undo().wasChanged());
    ASSERT_EQ (first.calls.size(), 1u);
    EXPECT_EQ (std::make_tuple (first.calls[0].b0, first.calls[0].b1, first.calls[0].f0, first.calls[0].f1),
               std::make_tuple (10, 41, 5, 31));
    EXPECT_TRUE (first.calls[0].selection);
    EXPECT_FALSE (asig->hasSelection());

    edits.removeListener (&second);
    edits.removeListener (&first);
}

TEST (ManualEditManager, RefusalsAndEmptyResultsLeaveTheHistoryUnchanged)
{
    test::TemporaryDirectory dir;
    auto track = noiseTrack (dir, "t", 2, 2.0);
    ASSERT_NE (track, nullptr);
    auto& edits = track->getManualEditManager();
    auto& history = edits.getUndoManager();
    const auto nan = std::numeric_limits<float>::quiet_NaN();
    using Outcome = EditResult::Outcome;

    struct Case
    {
        const char* what;
        std::function<EditResult()> run;
        Outcome outcome;
        juce::String title;
    };
    const std::vector<Case> cases {
        { "erase without selection", [&] { return edits.setConstant (0.0f); }, Outcome::refused, "No selection" },
        { "dim without selection", [&] { return edits.multiplySelection (0.5f); }, Outcome::refused, "No selection" },
        { "strengthen without selection", [&] { return edits.multiplySelection (2.0f); }, Outcome::refused, "No selection" },
        { "expand without selection", [&] { return edits.growSelection (1, 1); }, Outcome::refused, "No selection" },
        { "shrink without selection", [&] { return edits.shrinkSelection (1, 1); }, Outcome::refused, "No selection" },
        { "foreground without selection", [&] { return edits.spotRemover(); }, Outcome::refused, "No selection" },
        { "percussive without selection", [&] { return edits.removePercussiveHarmonic (false); }, Outcome::refused,
          "No selection" },
        { "NaN level", [&] { return edits.thresholdSelect (0, 0, 10, 10, nan, true, SelectionMode::replace); }, Outcome::refused,
          "Invalid value" },
        { "NaN wand", [&] { return edits.wandSelect (5, 5, nan, 2, false, 1, 8.0f, 0.5f, 1.0f, SelectionMode::replace); },
          Outcome::refused, "Invalid value" },
        { "infinite brush", [&] { return edits.erase (5, 5, 6, 6, HUGE_VAL, 1.0); }, Outcome::refused, "Invalid value" },
        { "negative factor", [&] { return edits.multiplySelection (-1.0f); }, Outcome::refused, "Invalid value" },
        { "bad mode", [&] { return edits.rectangleSelect (0, 0, 5, 5, (SelectionMode) 7); }, Outcome::refused, "Invalid value" },
        { "rectangle outside", [&] { return edits.rectangleSelect (-20, -20, -1, -1, SelectionMode::replace); },
          Outcome::unchanged, "" },
        { "rectangle beyond the end", [&] { return edits.rectangleSelect (5000, 5, 6000, 9, SelectionMode::replace); },
          Outcome::unchanged, "" },
        { "update outside",
          [&] { return edits.applySelectionUpdate (softUpdate (-50, 3, 5, 5, 1, SelectionMode::replace), "x"); },
          Outcome::unchanged, "" },
        { "brush outside", [&] { return edits.erase (-100, -100, -90, -95, 4.0, 1.0); }, Outcome::unchanged, "" },
        { "deselect nothing", [&] { return edits.clearSelection(); }, Outcome::unchanged, "" },
        { "reset nothing", [&] { return track->resetManualEdits(); }, Outcome::unchanged, "" },
    };
    for (const auto& c : cases)
    {
        const auto r = c.run();
        EXPECT_EQ (r.getOutcome(), c.outcome) << c.what;
        EXPECT_EQ (r.getTitle(), c.title) << c.what;
        EXPECT_EQ (history.getNumTransactions(), 0) << c.what;
    }

    // A busy track refuses edits and undo with the fixed warning.
    ASSERT_TRUE (edits.rectangleSelect (3, 3, 9, 9, SelectionMode::replace).wasChanged());
    track->setLocked (true);
    for (auto r : { edits.rectangleSelect (0, 0, 5, 5, SelectionMode::replace), edits.undo(), edits.setConstant (0.0f) })
        EXPECT_EQ (r.getError(), AlertManager::ErrorType::TrackLocked);
    track->setLocked (false);
    EXPECT_EQ (history.getNumUndos(), 1);

    // Remove Foreground: the box and the track have limits.
    auto tiny = noiseTrack (dir, "tiny", 1, 1.0); // 35 frames
    ASSERT_TRUE (tiny->getManualEditManager().rectangleSelect (0, 0, 10, 10, SelectionMode::replace).wasChanged());
    EXPECT_EQ (tiny->getManualEditManager().spotRemover().getError(), AlertManager::ErrorType::FileTooShort);
    auto longTrack = noiseTrack (dir, "long", 1, 70.0); // 2190 frames
    auto& longEdits = longTrack->getManualEditManager();
    ASSERT_TRUE (longEdits.rectangleSelect (0, 0, 5000, 20, SelectionMode::replace).wasChanged());
    EXPECT_EQ (longEdits.spotRemover().getError(), AlertManager::ErrorType::SelectionTooLarge);
    EXPECT_EQ (longEdits.getUndoManager().getNumUndos(), 1);

    // A store still being made is not edited.
    auto pending = test::makeTrack (dir.get().getChildFile ("p"), "p", test::makeNoise (1, rate, 3), rate, false);
    EXPECT_EQ (pending->getManualEditManager().rectangleSelect (0, 0, 5, 5, SelectionMode::replace).getTitle(),
               "Track not ready");

    // Removing percussive or harmonic content that is not there records nothing.
    juce::AudioBuffer<float> silence (1, 2 * rate);
    silence.clear(); // a new buffer's contents are undefined
    auto silent = test::makeTrack (dir.get().getChildFile ("s"), "s", silence, rate);
    auto& silentEdits = silent->getManualEditManager();
    ASSERT_TRUE (silentEdits.rectangleSelect (5, 10, 40, 100, SelectionMode::replace).wasChanged());
    const auto selected = snapshot (*silent->getAsig());
    for (bool harmonic : { false, true })
        EXPECT_FALSE (silentEdits.removePercussiveHarmonic (harmonic).wasChanged());
    EXPECT_EQ (silentEdits.getUndoManager().getNumTransactions(), 1);
    EXPECT_TRUE (sameBits (snapshot (*silent->getAsig()), selected));
}

TEST (ManualEditManager, FailedWritesAndAGoneStoreLeaveTheHistoryConsistent)
{
    test::TemporaryDirectory dir;
    auto track = noiseTrack (dir, "t", 2, 2.0);
    ASSERT_NE (track, nullptr);

    // A second store over the same files, which the test can take away.
    auto store = std::make_shared<Asig>();
    ASSERT_TRUE (store->openAsig (dir.get().getChildFile ("t"), "t").wasOk());
    ManualEditManager edits (store);
    ASSERT_TRUE (edits.rectangleSelect (2, 2, 12, 12, SelectionMode::replace).wasChanged());

    // The mask file of the first chunk cannot be written: the erase changes nothing and
    // records nothing.
    const auto maskFile = dir.get().getChildFile ("t").getChildFile ("t-0.mask");
    maskFile.deleteFile();
    ASSERT_TRUE (maskFile.createDirectory());
    const auto beforeErase = snapshot (*store);
    EXPECT_EQ (edits.setConstant (0.0f).getOutcome(), EditResult::Outcome::failed);
    EXPECT_EQ (edits.getUndoManager().getNumUndos(), 1);
    EXPECT_TRUE (sameBits (snapshot (*store), beforeErase));
    EXPECT_TRUE (store->getEditedFrameRange().isEmpty());

    // With the store gone, nothing is performed and undo reports failure without moving.
    store.reset();
    EXPECT_FALSE (edits.getUndoManager().undo());
    EXPECT_EQ (edits.getUndoManager().getNumUndos(), 1);
    EXPECT_EQ (edits.rectangleSelect (0, 0, 3, 3, SelectionMode::replace).getTitle(), "Track not ready");
    EXPECT_TRUE (edits.undo().wasRefusedOrFailed());
}

TEST (ManualEditManager, EveryTrackAndStoreHasItsOwnHistory)
{
    test::TemporaryDirectory dir;
    auto a = noiseTrack (dir, "a", 2, 2.0), b = noiseTrack (dir, "b", 1, 2.0);
    ASSERT_TRUE (a != nullptr && b != nullptr);
    auto& editsA = a->getManualEditManager();
    auto& editsB = b->getManualEditManager();
    ASSERT_NE (&editsA, &editsB);

    ASSERT_TRUE (editsA.rectangleSelect (1, 1, 20, 30, SelectionMode::replace).wasChanged());
    ASSERT_TRUE (editsA.setConstant (0.0f).wasChanged());
    const auto stateA = snapshot (*a->getAsig());
    const auto pristineB = snapshot (*b->getAsig());
    ASSERT_TRUE (editsB.rectangleSelect (4, 4, 8, 8, SelectionMode::replace).wasChanged());
    ASSERT_TRUE (editsB.setConstant (0.0f).wasChanged());
    const auto editedB = snapshot (*b->getAsig());

    // Resetting is a step of its own; undoing everything on B brings it back to an
    // unedited store and never touches A.
    ASSERT_TRUE (b->resetManualEdits().wasChanged());
    EXPECT_FALSE (b->hasEdits());
    EXPECT_FALSE (b->getAsig()->hasSelection());
    ASSERT_TRUE (editsB.undo().wasChanged());
    EXPECT_TRUE (sameBits (snapshot (*b->getAsig()), editedB));
    while (editsB.getUndoManager().canUndo())
        editsB.undo();
    EXPECT_TRUE (sameBits (snapshot (*b->getAsig()), pristineB));
    EXPECT_TRUE (b->getAsig()->getEditedFrameRange().isEmpty());
    EXPECT_TRUE (sameBits (snapshot (*a->getAsig()), stateA));
    EXPECT_EQ (editsA.getUndoManager().getNumUndos(), 2);

    // Silencing keeps the store, its masks and the history; a new store starts afresh.
    ASSERT_TRUE (a->silenceFrames ({ 10, 20 }).wasOk());
    EXPECT_EQ (&a->getManualEditManager(), &editsA);
    EXPECT_EQ (editsA.getUndoManager().getNumUndos(), 2);
    std::vector<int> order;
    Recorder view (order, 1);
    editsA.addListener (&view);
    auto reopened = std::make_unique<Asig>();
    ASSERT_TRUE (reopened->openAsig (dir.get().getChildFile ("a"), "a").wasOk());
    ASSERT_TRUE (a->setAsig (std::move (reopened)).wasOk());
    auto& next = a->getManualEditManager();
    EXPECT_EQ (next.getUndoManager().getNumTransactions(), 0);
    EXPECT_TRUE (sameBits (snapshot (*a->getAsig()), stateA));
    // The views that followed the old store's edits follow the new one's.
    ASSERT_TRUE (next.rectangleSelect (0, 0, 3, 3, SelectionMode::replace).wasChanged());
    EXPECT_EQ (view.calls.size(), 1u);
    next.removeListener (&view);
}

TEST (ManualEditManager, TheHistoryStaysWithinItsMemoryBudgetOnALongTrack)
{
    test::TemporaryDirectory dir;
    auto track = noiseTrack (dir, "t", 2, 60.0); // 1878 frames x 513 bins a channel
    ASSERT_NE (track, nullptr);
    auto& edits = track->getManualEditManager();
    auto* asig = track->getAsig();
    const auto budget = UndoBlockStore::Limits().memoryBudgetBytes;

    // 200 wand-sized soft selections (up to 61 x 61 cells) anywhere on the track.
    juce::Random r (11);
    for (int i = 0; i < 200; ++i)
    {
        const auto size = 31 + r.nextInt (31);
        const auto mode = i % 3 == 0 ? SelectionMode::replace : SelectionMode::addPoint;
        ASSERT_TRUE (edits
                         .applySelectionUpdate (softUpdate (r.nextInt (asig->getNumFrames() - size),
                                                            r.nextInt (asig->getNumFreqs() - size), size, size, i, mode),
                                                "Wand selection")
                         .wasChanged());
    }
    const auto wandUsage = edits.getHistoryUsage();
    EXPECT_EQ (wandUsage.transactions, 200);
    EXPECT_LT (wandUsage.memoryBytes, 8u * 1024u * 1024u);

    // Whole-track erases under a soft whole-track selection: nothing compresses.
    ASSERT_TRUE (
        edits
            .applySelectionUpdate (softUpdate (0, 0, asig->getNumFreqs(), asig->getNumFrames(), 1, SelectionMode::replace),
                                   "Wand selection")
            .wasChanged());
    std::vector<Snapshot> states { snapshot (*asig) };
    for (auto value : { 0.5f, 0.25f, 0.0f })
    {
        ASSERT_TRUE (edits.setConstant (value).wasChanged());
        states.push_back (snapshot (*asig));
    }

    const auto usage = edits.getHistoryUsage();
    EXPECT_LE (usage.memoryBytes, budget);
    // Three erases keep before and after of both channels: far more than the budget.
    EXPECT_GT ((size_t) usage.scratchBytes, budget);
    EXPECT_EQ (usage.units, edits.getUndoManager().getNumberOfUnitsTakenUpByStoredCommands());

    for (int k = 3; k > 0; --k)
    {
        ASSERT_TRUE (edits.undo().wasChanged());
        EXPECT_TRUE (sameBits (snapshot (*asig), states[(size_t) k - 1])) << k;
    }
}

TEST (ManualEditManager, EditsWhilePlaybackAndABounceReadTheSameFrames)
{
    // Run under ThreadSanitizer (./kalder test --tsan): the edits, the pre-render thread,
    // an audio thread reading the ring and a bounce on a thread of its own all meet in the
    // same frames. Afterwards the ring and the bounce hear the final masks.
    test::TemporaryDirectory dir;
    auto track = test::makeTrack (dir.get().getChildFile ("t"), "t", test::makeNoise (2, 3 * rate, 4), rate);
    ASSERT_NE (track, nullptr);
    Mixer mixer;
    mixer.setMasterTrack (track);
    constexpr int block = 20;
    mixer.setPlayPosition (block);
    ASSERT_TRUE (mixer.waitForRing (block, 10000));

    std::atomic<bool> stop { false };
    std::thread audio ([&] {
        juce::AudioBuffer<float> out (2, mixer.getFrameLength());
        while (! stop)
            for (int b = block; b < block + 8; ++b)
                mixer.readPlaybackBlock (b, out);
    });
    std::thread bounce ([&] {
        juce::AudioBuffer<float> out (2, mixer.getFrameLength());
        while (! stop)
        {
            Mixer::RenderSession session (mixer, Mixer::RenderSession::Synthesis::summedSpectra);
            for (int b = block - 4; b < block + 12; ++b)
                session.renderFrame (b, out);
        }
    });

    struct Joiner
    {
        ~Joiner()
        {
            stop = true;
            for (auto* t : threads)
                t->join();
        }
        std::atomic<bool>& stop;
        std::vector<std::thread*> threads;
    } joiner { stop, { &audio, &bounce } };

    auto& edits = track->getManualEditManager();
    auto* asig = track->getAsig();
    for (int i = 0; i < 40; ++i)
    {
        const auto x = block - 6 + (i % 12);
        ASSERT_TRUE (edits.rectangleSelect (x, 0, x + 8, asig->getNumFreqs() - 1, SelectionMode::replace).wasChanged());
        // A range erased before may change nothing: only a failure counts.
        ASSERT_FALSE (edits.setConstant (0.0f).wasRefusedOrFailed());
        if (i % 3 == 0)
            ASSERT_FALSE (edits.undo().wasRefusedOrFailed());
    }
    stop = true;
    audio.join();
    bounce.join();
    joiner.threads.clear();

    // The ring settles on the mix of the final masks, as a fresh render makes it.
    juce::AudioBuffer<float> fromRing (2, mixer.getFrameLength()), fresh (2, mixer.getFrameLength());
    Mixer::RenderSession session (mixer);
    for (int b = block; b < block + 4; ++b)
    {
        session.renderFrame (b, fresh);
        EXPECT_TRUE (test::pumpMessagesUntil ([&] {
            mixer.waitForRing (b, 1000);
            if (! mixer.readPlaybackBlock (b, fromRing))
                return false;
            for (int c = 0; c < 2; ++c)
                if (test::signalToErrorDb (fresh.getReadPointer (c), fromRing.getReadPointer (c), fresh.getNumSamples()) < 120.0)
                    return false;
            return true;
        })) << "block "
            << b << " of the ring is stale";
    }
}

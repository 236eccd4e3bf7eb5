#include "EditScript.h"

#include "Mixer.h"

#include "editing/ManualEditManager.h"

#include <cmath>

namespace kalder
{

namespace
{
    /** A step's words: its name, how many numbers it takes, and what they mean. */
    struct StepSyntax
    {
        EditScript::Kind kind;
        const char* name;
        int minArgs, maxArgs;
        const char* arguments;
        const char* description;
        bool isSelection;
    };

    using K = EditScript::Kind;

    constexpr StepSyntax syntax[] = {
        { K::rect, "rect", 4, 4, "T1 T2 F1 F2", "selects the rectangle from T1 to T2 seconds and F1 to F2 Hz", true },
        { K::wand, "wand", 2, 3, "T F [DB]", "magic wand at T seconds and F Hz (threshold DB, default -20)", true },
        { K::harmonicWand, "harmonic-wand", 2, 3, "T F [DB]",
          "harmonic wand at T seconds on the fundamental at F Hz, its harmonics up to 10 kHz", true },
        { K::above, "above", 5, 5, "T1 T2 F1 F2 DB",
          "selects the bins of the rectangle louder than DB (0 = its loudest bin, -30 = 30 dB below)", true },
        { K::below, "below", 5, 5, "T1 T2 F1 F2 DB",
          "selects the bins of the rectangle quieter than DB (0 = its loudest bin, -30 = 30 dB below)", true },
        { K::transient, "transient", 2, 3, "T1 T2 [KHZ]", "selects the transients from T1 to T2 seconds above KHZ (default 0)",
          true },
        { K::erase, "erase", 0, 0, "", "removes the selection from the mask", false },
        { K::dim, "dim", 0, 1, "[DB]", "lowers the selection by DB (default 6)", false },
        { K::strengthen, "strengthen", 0, 1, "[DB]", "raises the selection by DB (default 6), at most to fully selected", false },
        { K::expand, "expand", 0, 0, "", "grows the selection", false },
        { K::shrink, "shrink", 0, 0, "", "shrinks the selection", false },
        { K::removeForeground, "remove-foreground", 0, 0, "", "removes the foreground inside the selection", false },
        { K::removePercussive, "remove-percussive", 0, 0, "", "takes the percussive part out of the selection", false },
        { K::removeHarmonic, "remove-harmonic", 0, 0, "", "takes the harmonic part out of the selection", false },
        { K::deselect, "deselect", 0, 0, "", "discards the selection", false },
        { K::selectionVolume, "selection-volume", 1, 1, "V",
          "plays the selection at V (0..1) and the rest at 1 - V while a selection exists", false },
        { K::flip, "flip", 0, 0, "", "flips the mask: only what was removed plays", false },
        { K::reset, "reset", 0, 0, "", "discards every spectral edit of the track", false },
        { K::undo, "undo", 0, 0, "", "undoes the last edit", false },
        { K::redo, "redo", 0, 0, "", "redoes the last undone edit", false },
        { K::moveToNewTrack, "move-to-new-track", 0, 0, "", "moves the selection to a new track", false },
        { K::freeze, "freeze", 0, 0, "", "freezes the edits into a new track and its complement", false },
    };

    template <size_t n>
    const StepSyntax* findStep (const StepSyntax (&table)[n], EditScript::Kind kind)
    {
        for (const auto& s : table)
            if (s.kind == kind)
                return &s;
        return &table[0];
    }

    const StepSyntax* findStep (const juce::String& name)
    {
        for (const auto& s : syntax)
            if (name == s.name)
                return &s;
        return nullptr;
    }

    bool isNotFinite (const juce::String& word)
    {
        const auto w = word.trimCharactersAtStart ("+-").toLowerCase();
        return w == "nan" || w == "inf" || w == "infinity";
    }

    bool isNumber (const juce::String& word)
    {
        return word.isNotEmpty() && word.containsOnly ("0123456789.-+eE") && word.containsAnyOf ("0123456789");
    }
} // namespace

juce::String EditScript::describeSteps()
{
    juce::String text;
    for (const auto& s : syntax)
    {
        auto words = juce::String (s.isSelection ? "[+|-]" : "") + s.name;
        if (*s.arguments != 0)
            words << " " << s.arguments;
        text << "    " << words.paddedRight (' ', 34) << s.description << "\n";
    }
    return text;
}

juce::Result EditScript::parse (const juce::StringArray& words, std::vector<Step>& steps)
{
    steps.clear();
    for (int i = 0; i < words.size();)
    {
        auto name = words[i];
        auto mode = SelectionMode::replace;
        if (name.startsWithChar ('+') || name.startsWithChar ('-'))
        {
            mode = name.startsWithChar ('+') ? SelectionMode::addArea : SelectionMode::subtract;
            name = name.substring (1);
        }
        const auto* s = findStep (name);
        if (s == nullptr)
            return juce::Result::fail ("unknown step \"" + words[i] + "\"");
        if (mode != SelectionMode::replace && ! s->isSelection)
            return juce::Result::fail ("\"" + words[i] + "\": only selection steps can add (+) or subtract (-)");

        Step step { s->kind, {}, mode, words[i] };
        int j = i + 1;
        while (j < words.size() && (int) step.args.size() < s->maxArgs && isNumber (words[j]))
        {
            const auto value = words[j].getDoubleValue();
            if (! std::isfinite (value))
                return juce::Result::fail ("step " + juce::String ((int) steps.size() + 1) + " \"" + words[i] + "\": \""
                                           + words[j] + "\" is not a finite number");
            step.args.push_back (value);
            step.text << " " << words[j];
            ++j;
        }
        const auto where = "step " + juce::String ((int) steps.size() + 1) + " \"" + step.text + "\": ";
        if ((int) step.args.size() < s->minArgs && j < words.size() && isNotFinite (words[j]))
            return juce::Result::fail (where + "\"" + words[j] + "\" is not a finite number");
        if ((int) step.args.size() < s->minArgs)
            return juce::Result::fail (where + "needs " + juce::String (s->arguments)
                                       + (j < words.size() ? ", not \"" + words[j] + "\"" : juce::String()));

        // Ranges that no clipping can make sense of.
        const auto& a = step.args;
        switch (s->kind)
        {
            case K::rect:
            case K::above:
            case K::below:
                if (a[1] <= a[0] || a[3] <= a[2])
                    return juce::Result::fail (where + "the end of a range must come after its start");
                break;
            case K::transient:
                if (a[1] <= a[0])
                    return juce::Result::fail (where + "T2 must come after T1");
                if (a.size() > 2 && a[2] < 0.0)
                    return juce::Result::fail (where + "the low cut cannot be negative");
                break;
            case K::dim:
            case K::strengthen:
                if (! a.empty() && a[0] < 0.0)
                    return juce::Result::fail (where + "the amount is in dB above zero");
                break;
            case K::selectionVolume:
                if (a[0] < 0.0 || a[0] > 1.0)
                    return juce::Result::fail (where + "the volume lies between 0 and 1");
                break;
            default:
                break;
        }
        steps.push_back (std::move (step));
        i = j;
    }
    if (steps.empty())
        return juce::Result::fail ("no steps given");
    return juce::Result::ok();
}

namespace
{
    constexpr float defaultWandDb = -20.0f;
    constexpr int wandSelectionSize = 4;
    constexpr float harmonicHighCutKHz = 10.0f;
    constexpr float harmonicRollOff = 0.0f; // every harmonic at full weight
    constexpr int framesPerRead = 256;

    /** The wand's linear threshold of a level in dB (0 at -100 dB and below). */
    float wandThreshold (double db)
    {
        return db <= -100.0 ? 0.0f : juce::jlimit (0.0f, 1.0f, (float) std::pow (10.0, db / 20.0));
    }

    /** The level (dB) of the loudest bin of the rectangle: the channels' mean magnitude
        of the masked frames (without the selection's gain), as the threshold tools
        measure it. -inf when it is silent. */
    double loudestDb (Asig& asig, int x1, int y1, int x2, int y2)
    {
        const auto frames = juce::Range<int> (juce::jmin (x1, x2), juce::jmax (x1, x2) + 1)
                                .getIntersectionWith ({ 0, asig.getNumFrames() });
        const auto bins = juce::Range<int> (juce::jmin (y1, y2), juce::jmax (y1, y2) + 1)
                              .getIntersectionWith ({ 0, asig.getNumFreqs() });
        double loudest = 0.0;
        for (auto start = frames.getStart(); start < frames.getEnd(); start += framesPerRead)
        {
            const juce::Range<int> part (start, juce::jmin (frames.getEnd(), start + framesPerRead));
            Eigen::ArrayXXd sum = Eigen::ArrayXXd::Zero (bins.getLength(), part.getLength());
            for (int c = 0; c < asig.getNumChannels(); ++c)
                sum += asig.readFrames (c, part, asig.getMaskUse(), Asig::SelectionGain::none)
                           .middleRows (bins.getStart(), bins.getLength())
                           .array()
                           .abs()
                           .cast<double>();
            if (sum.size() > 0)
                loudest = std::max (loudest, sum.maxCoeff() / juce::jmax (1, asig.getNumChannels()));
        }
        return loudest > 0.0 ? 20.0 * std::log10 (loudest) : -std::numeric_limits<double>::infinity();
    }

    juce::Result toResult (const EditResult& r)
    {
        if (! r.wasRefusedOrFailed())
            return juce::Result::ok();
        const auto title = r.getTitle(), message = r.getMessage();
        return juce::Result::fail (title.isEmpty() ? message : message.isEmpty() ? title : title + ": " + message);
    }

    /** Freezes the track's edits or moves its selection, and waits for the job, pumping the
        message loop (its result comes back there). */
    juce::Result freeze (Mixer& mixer, AudioTrack::Ptr track, const std::function<void (const juce::String&)>& note)
    {
        bool done = false;
        auto result = juce::Result::ok();
        Progress::Ptr progress = new Progress();
        ManualSeparationJob::Options options;
        options.progress = progress;
        options.onDone = [&] (const ManualSeparationJob::Outcome& outcome) {
            result = outcome.result;
            done = true;
        };
        switch (mixer.freezeTrack (track, std::move (options)))
        {
            case ManualSeparationJob::Refusal::none:
                break;
            case ManualSeparationJob::Refusal::trackLocked:
                return toResult (EditResult::refused (AlertManager::ErrorType::TrackLocked));
            case ManualSeparationJob::Refusal::nothingToFreeze:
                if (note)
                    note (ManualSeparationJob::nothingToFreezeMessage);
                return juce::Result::ok();
        }
        while (! done)
            if (! juce::MessageManager::getInstance()->runDispatchLoopUntil (10))
            {
                progress->cancel(); // the loop is quitting: the job's answer would never come
                return juce::Result::fail ("stopped before the job ended");
            }
        return result;
    }
} // namespace

juce::Result EditScript::run (Mixer& mixer, const std::vector<Step>& steps, const std::function<void (const juce::String&)>& note)
{
    JUCE_ASSERT_MESSAGE_THREAD
    for (size_t i = 0; i < steps.size(); ++i)
    {
        const auto& step = steps[i];
        const auto where = "step " + juce::String ((int) i + 1) + " \"" + step.text + "\": ";
        auto track = mixer.getActiveTrack();
        auto* asig = track != nullptr ? track->getAsig() : nullptr;
        if (asig == nullptr || ! track->isStoreReady())
            return juce::Result::fail (where + "the track is not analysed");

        const auto& g = track->getGeometry();
        const auto rate = (double) track->getSampleRate();
        const auto& a = step.args;
        auto frame = [&] (size_t k) { return secondsToFrame (g, rate, a[k]); };
        auto bin = [&] (size_t k) { return hertzToBin (g, rate, a[k]); };
        auto arg = [&] (size_t k, double fallback) { return k < a.size() ? a[k] : fallback; };
        auto& edits = track->getManualEditManager();

        EditResult edit = EditResult::unchanged();
        auto result = juce::Result::ok();
        switch (step.kind)
        {
            case K::rect:
                edit = edits.rectangleSelect (frame (0), bin (2), frame (1), bin (3), step.mode);
                break;
            case K::wand:
            case K::harmonicWand:
            {
                const bool harmonic = step.kind == K::harmonicWand;
                edit = edits.wandSelect (frame (0), bin (1), wandThreshold (arg (2, defaultWandDb)), wandSelectionSize, harmonic,
                                         1, harmonicHighCutKHz, harmonicRollOff, 1.0f, step.mode);
                break;
            }
            case K::above:
            case K::below:
            {
                const auto x1 = frame (0), x2 = frame (1), y1 = bin (2), y2 = bin (3);
                const auto level = loudestDb (*asig, x1, y1, x2, y2) + a[4];
                if (std::isfinite (level))
                    edit = edits.thresholdSelect (x1, y1, x2, y2, (float) level, step.kind == K::above, step.mode);
                break;
            }
            case K::transient:
                edit = edits.transientSelect (frame (0), 0, frame (1), asig->getNumFreqs() - 1, (float) arg (2, 0.0), step.mode);
                break;
            case K::erase:
                edit = edits.setConstant (0.0f);
                break;
            case K::dim:
                edit = edits.multiplySelection (a.empty() ? ManualEditManager::dimFactor
                                                          : (float) juce::Decibels::decibelsToGain (-a[0], -1000.0));
                break;
            case K::strengthen:
                edit = edits.multiplySelection (a.empty() ? ManualEditManager::strengthenFactor
                                                          : (float) juce::Decibels::decibelsToGain (a[0], -1000.0));
                break;
            case K::expand:
                edit = edits.growSelection (ManualEditManager::commandMorphBins, ManualEditManager::commandMorphFrames);
                break;
            case K::shrink:
                edit = edits.shrinkSelection (ManualEditManager::commandMorphBins, ManualEditManager::commandMorphFrames);
                break;
            case K::removeForeground:
                edit = edits.spotRemover();
                break;
            case K::removePercussive:
            case K::removeHarmonic:
                edit = edits.removePercussiveHarmonic (step.kind == K::removeHarmonic);
                break;
            case K::deselect:
                edit = edits.clearSelection (true);
                break;
            case K::selectionVolume:
                asig->setSelectionVolume ((float) a[0]);
                break;
            case K::flip:
                track->flip (! asig->isFlipped());
                break;
            case K::reset:
                edit = track->resetManualEdits();
                break;
            case K::undo:
            case K::redo:
            {
                const bool undo = step.kind == K::undo;
                edit = undo ? edits.undo() : edits.redo();
                if (edit.getOutcome() == EditResult::Outcome::unchanged)
                    return juce::Result::fail (where + (undo ? "there is nothing to undo" : "there is nothing to redo"));
                break;
            }
            case K::moveToNewTrack:
                if (! asig->hasSelection())
                    edit = EditResult::refused (AlertManager::ErrorType::NoSelection);
                else
                    result = freeze (mixer, track, note);
                break;
            case K::freeze:
                // With a selection the same job would move the selection instead.
                if (asig->hasSelection())
                    return juce::Result::fail (where
                                               + "there is a selection: freezing would move it (use "
                                                 "move-to-new-track, or deselect first)");
                result = freeze (mixer, track, note);
                break;
        }

        if (result.wasOk())
            result = toResult (edit);
        if (result.failed())
            return juce::Result::fail (where + result.getErrorMessage());
        // A selection step that found nothing would leave the previous selection for the
        // next step to act on.
        if (findStep (syntax, step.kind)->isSelection && edit.getOutcome() == EditResult::Outcome::unchanged)
            return juce::Result::fail (where + "selects nothing there (outside the song, or no bin matches)");
        if (note && edit.getOutcome() == EditResult::Outcome::unchanged && step.kind != K::selectionVolume && step.kind != K::flip
            && step.kind != K::moveToNewTrack && step.kind != K::freeze)
            note (where + "changed nothing");
    }
    return juce::Result::ok();
}

int EditScript::secondsToFrame (const FrameGeometry& geometry, double sampleRate, double t) noexcept
{
    if (geometry.getHop() <= 0 || sampleRate <= 0.0)
        return 0;
    return (int) juce::jlimit<juce::int64> (-1, 1 << 30, geometry.getFrameCentredAt (t * sampleRate));
}

int EditScript::hertzToBin (const FrameGeometry& geometry, double sampleRate, double hz) noexcept
{
    if (sampleRate <= 0.0)
        return 0;
    const auto bin = std::llround (hz * geometry.nfft / sampleRate);
    return (int) juce::jlimit<long long> (-1, 1 << 30, bin);
}

} // namespace kalder

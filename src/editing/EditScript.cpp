#include "EditScript.h"

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
        { K::harmonicWand, "harmonic-wand", 2, 3, "T F [DB]", "harmonic wand at T seconds and F Hz, the fundamental", true },
        { K::above, "above", 5, 5, "T1 T2 F1 F2 DB", "selects the bins of the rectangle louder than DB (dB below the loudest)",
          true },
        { K::below, "below", 5, 5, "T1 T2 F1 F2 DB", "selects the bins of the rectangle quieter than DB (dB below the loudest)",
          true },
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

    const StepSyntax* findStep (const juce::String& name)
    {
        for (const auto& s : syntax)
            if (name == s.name)
                return &s;
        return nullptr;
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

int EditScript::secondsToFrame (const FrameGeometry& geometry, double sampleRate, double t) noexcept
{
    // Frame f's window covers [(f - 3) hop, (f + 1) hop): its centre is (f - 1) hop.
    const auto hop = (double) geometry.getHop();
    if (hop <= 0.0 || sampleRate <= 0.0)
        return 0;
    const auto f = std::llround (t * sampleRate / hop) + (FrameGeometry::overlap / 2 - 1);
    return (int) juce::jlimit<long long> (-1, 1 << 30, f);
}

int EditScript::hertzToBin (const FrameGeometry& geometry, double sampleRate, double hz) noexcept
{
    if (sampleRate <= 0.0)
        return 0;
    const auto bin = std::llround (hz * geometry.nfft / sampleRate);
    return (int) juce::jlimit<long long> (-1, 1 << 30, bin);
}

} // namespace kalder

#pragma once

#include <juce_core/juce_core.h>

#include <vector>

namespace kalder
{

/** One page of quick help: a title, short paragraphs and, by its name in the image
    store, a picture of the part of the window it is about (none when empty). */
struct HelpPage
{
    juce::String title;
    juce::StringArray paragraphs;
    juce::String picture;
};

/**
    The quick help's pages, written for this program: the start-up tutorial (a whole job,
    from opening a song to exporting the mix, one page a step) and the pages the help
    commands open.

    Threading: any thread (constant data).
*/
struct HelpPages
{
    /** The tutorial's steps, in order. */
    static const std::vector<HelpPage>& getTutorial();

    /** The page of "Show Spectrogram Help": the tools and their keys. */
    static const HelpPage& getSpectrogramHelp();
};

} // namespace kalder

#pragma once

#include <juce_core/juce_core.h>

#include <functional>

namespace kalder
{

/**
    Replaces a file's content so that a failure at any moment leaves either the old file
    or the new one, whole:

      1. the content goes into a new file beside the target (same folder, so the last
         step is a rename inside one file system), written to the end and checked;
      2. that file is synced to the disk (its data, not only the write cache);
      3. it is renamed over the target, and the folder is synced, so the rename is on
         the disk too.

    A full disk, a missing permission or a vanished folder fails the write with a
    message naming the file, and the target stays as it was; the new file is removed.
    (A plain rewrite, or a temporary file renamed without syncing, can leave a torn or
    empty file after a full disk or a power cut.)

    Threading: any thread; two writers must not replace one target at once.
*/
struct DurableFile
{
    static juce::Result replaceWithData (const juce::File& target, const void* data, size_t numBytes);
    static juce::Result replaceWithText (const juce::File& target, const juce::String& text);

    /** Replaces target with a copy of source in the same way (streamed: any size). */
    static juce::Result copyFile (const juce::File& source, const juce::File& target);

    /** Tests: when set, asked before each write how many of the wanted bytes the disk
        takes (bytes written so far, bytes wanted); 0 fails the write as a full disk does
        (ENOSPC). */
    using SpaceCheck = std::function<size_t (size_t bytesWritten, size_t bytesWanted)>;
    static void setSpaceCheckForTesting (SpaceCheck check);

private:
    /** produce fills a buffer and returns its bytes: 0 at the end, below 0 on failure. */
    static juce::Result replace (const juce::File& target, const std::function<juce::int64 (char*, size_t)>& produce);
};

} // namespace kalder

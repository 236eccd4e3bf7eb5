#include <gtest/gtest.h>

#include <juce_events/juce_events.h>

// Every test program runs with JUCE initialised on the main thread, which then is the
// message thread: tests that need timers or async updates pump it with
// juce::MessageManager::getInstance()->runDispatchLoopUntil().
int main (int argc, char** argv)
{
    ::testing::InitGoogleTest (&argc, argv);
    const juce::ScopedJuceInitialiser_GUI juce;
    return RUN_ALL_TESTS();
}

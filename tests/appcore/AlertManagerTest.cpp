#include "appcore/AlertManager.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <thread>

using kalder::AlertManager;

namespace
{
using ErrorType = AlertManager::ErrorType;
using YesNoBoxType = AlertManager::YesNoBoxType;
using Answer = AlertManager::Answer;

/** Stands in for the application's windows: records what it is asked to show. */
struct RecordingPresenter : AlertManager::Presenter
{
    struct Shown
    {
        juce::String title, message, link;
    };

    void dismissModals() override { events.add ("dismiss"); }

    void showWarning (const juce::String& title, const juce::String& message, const juce::String& link) override
    {
        EXPECT_TRUE (juce::MessageManager::existsAndIsCurrentThread());
        events.add ("warning");
        warnings.push_back ({ title, message, link });
    }

    void askQuestion (const AlertManager::Question& question, AlertManager::AnswerCallback answer) override
    {
        EXPECT_TRUE (juce::MessageManager::existsAndIsCurrentThread());
        events.add ("question");
        questions.push_back (question);
        answers.push_back (std::move (answer));
    }

    juce::StringArray events;
    std::vector<Shown> warnings;
    std::vector<AlertManager::Question> questions;
    std::vector<AlertManager::AnswerCallback> answers;
};

// Long enough for any message already posted to be dispatched.
constexpr int settleMs = 50;

// An upper bound that only a broken implementation reaches.
constexpr int timeoutMs = 5000;

template <typename Predicate>
bool pumpUntil (Predicate done)
{
    const auto end = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs;
    while (! done() && juce::Time::getMillisecondCounter() < end)
        juce::MessageManager::getInstance()->runDispatchLoopUntil (5); // short slices: react quickly
    return done();
}

void settle()
{
    juce::MessageManager::getInstance()->runDispatchLoopUntil (settleMs);
}

struct AlertManagerTest : ::testing::Test
{
    AlertManagerTest() { alerts.setPresenter (&presenter); }
    ~AlertManagerTest() override { alerts.setPresenter (nullptr); }

    RecordingPresenter presenter;
    AlertManager alerts;
};
} // namespace

TEST_F (AlertManagerTest, ErrorTypeShowsItsFixedWordingAfterClosingModals)
{
    alerts.showPopupErrorMessage (ErrorType::MergeIntoDescendant);
    ASSERT_TRUE (pumpUntil ([&] { return ! presenter.warnings.empty(); }));

    EXPECT_EQ (presenter.events, juce::StringArray ({ "dismiss", "warning" }));
    EXPECT_EQ (presenter.warnings[0].title, "Operation not permitted");
    EXPECT_EQ (presenter.warnings[0].message, "It is not possible to merge a track into one of it's decendants");
    EXPECT_TRUE (presenter.warnings[0].link.isEmpty());
}

TEST (AlertManagerTable, EveryValueHasItsOwnEntryAndNothingBeyond)
{
    // The two pitch-guide values differ only in whether the editor must be opened first.
    const auto closed = AlertManager::getWarningFor (ErrorType::NoPitchGuideEditorClosed);
    const auto open = AlertManager::getWarningFor (ErrorType::NoPitchGuide);
    ASSERT_TRUE (closed.has_value() && open.has_value());
    EXPECT_TRUE (closed->message.contains ("Please open the track's pitch editor"));
    EXPECT_FALSE (open->message.contains ("pitch editor"));

    EXPECT_EQ (AlertManager::getWarningFor (ErrorType::FileNotFound)->title, "File not found.");
    EXPECT_EQ (AlertManager::getWarningFor (ErrorType::SeparationRunning)->title, "Separation Already Running");

    constexpr int tableSize = 20;
    for (int value = 0; value < tableSize; ++value)
        EXPECT_TRUE (AlertManager::getWarningFor ((ErrorType) value).has_value()) << value;

    EXPECT_FALSE (AlertManager::getWarningFor ((ErrorType) tableSize).has_value());
    EXPECT_FALSE (AlertManager::getWarningFor ((ErrorType) -1).has_value());

    // The editing questions, word for word (the reset texts keep their "your").
    const std::pair<YesNoBoxType, const char*> questions[] = {
        { YesNoBoxType::FreezeSelection,
          "This will send the current selection to a new track. Are you sure you want to proceed?" },
        { YesNoBoxType::FreezeEdits, "This will freeze the current changes made to the track and generate two new "
                                     "tracks. Are you sure you want to proceed?" },
        { YesNoBoxType::DiscardSelection, "This will discard the current track's selection and revert it back to its "
                                          "original state. Are you sure you want to proceed?" },
        { YesNoBoxType::ResetSpectralEdits, "This will discard the current track's edits and revert it back to its "
                                            "original state. Are your sure you want to proceed?" },
    };
    for (const auto& [type, text] : questions)
        EXPECT_EQ (AlertManager::getQuestionFor (type)->text, text) << (int) type;
    EXPECT_FALSE (AlertManager::getQuestionFor ((YesNoBoxType) 9).has_value());
}

TEST_F (AlertManagerTest, ValueOutsideTheTableShowsNothing)
{
    alerts.showPopupErrorMessage ((ErrorType) 20);
    alerts.showPopupErrorMessage ((ErrorType) 1000);
    settle();

    // A valid error afterwards proves the loop ran and the manager still works.
    alerts.showPopupErrorMessage (ErrorType::NoSelection);
    ASSERT_TRUE (pumpUntil ([&] { return ! presenter.warnings.empty(); }));
    settle();

    ASSERT_EQ (presenter.warnings.size(), 1u);
    EXPECT_EQ (presenter.warnings[0].title, "No selection");
}

TEST_F (AlertManagerTest, TwoWarningsFromABackgroundThreadShowOneWindowWithTheSecond)
{
    std::thread worker ([this] {
        alerts.displayWarningPopup ("First", "first message");
        alerts.displayWarningWithLink ("Second", "second message", "https://example.org/help");
    });
    worker.join();

    ASSERT_TRUE (pumpUntil ([&] { return ! presenter.warnings.empty(); }));
    settle();

    ASSERT_EQ (presenter.warnings.size(), 1u);
    EXPECT_EQ (presenter.warnings[0].title, "Second");
    EXPECT_EQ (presenter.warnings[0].message, "second message");
    EXPECT_EQ (presenter.warnings[0].link, "https://example.org/help");
    EXPECT_EQ (presenter.events, juce::StringArray ({ "dismiss", "warning" }));
}

TEST_F (AlertManagerTest, ConcurrentWarningsNeverMixTitleAndMessage)
{
    constexpr int numThreads = 4;
    constexpr int warningsPerThread = 300;
    std::atomic<int> finished { 0 };
    std::vector<std::thread> threads;

    for (int t = 0; t < numThreads; ++t)
        threads.emplace_back ([&, t] {
            for (int k = 0; k < warningsPerThread; ++k)
            {
                const auto tag = juce::String (t) + "-" + juce::String (k);
                alerts.displayWarningPopup ("title " + tag, "message " + tag);
            }
            ++finished;
        });

    // Present while the writers are still writing.
    while (finished.load() < numThreads)
        juce::MessageManager::getInstance()->runDispatchLoopUntil (1);

    for (auto& thread : threads)
        thread.join();

    settle();

    ASSERT_FALSE (presenter.warnings.empty());
    EXPECT_LE (presenter.warnings.size(), (size_t) (numThreads * warningsPerThread));
    for (const auto& shown : presenter.warnings)
        EXPECT_EQ (shown.title.fromFirstOccurrenceOf (" ", false, false),
                   shown.message.fromFirstOccurrenceOf (" ", false, false));

    // The last one written is the last one shown: one of the threads' final warnings.
    EXPECT_TRUE (presenter.warnings.back().title.endsWith ("-" + juce::String (warningsPerThread - 1)));
}

TEST_F (AlertManagerTest, QuestionsAreQueuedInOrderAndAnsweredOnTheMessageThread)
{
    std::vector<Answer> received;
    std::atomic<bool> answeredOnMessageThread { true };

    std::thread worker ([&] {
        for (auto type : { YesNoBoxType::NewVersionAvailable, YesNoBoxType::ExportAllTracks })
            alerts.showYesNoBox (type, [&] (Answer answer) {
                answeredOnMessageThread = answeredOnMessageThread && juce::MessageManager::existsAndIsCurrentThread();
                received.push_back (answer);
            });
    });
    worker.join();

    ASSERT_TRUE (pumpUntil ([&] { return presenter.questions.size() == 2; }));

    const auto& version = presenter.questions[0];
    EXPECT_EQ (version.type, YesNoBoxType::NewVersionAvailable);
    EXPECT_EQ (version.title, "New Version Available");
    EXPECT_EQ (version.text, "A new version of the software is available, would you like to download it?");
    EXPECT_EQ (version.alternativeLabel, "Never check for updates");

    const auto& exportAll = presenter.questions[1];
    EXPECT_EQ (exportAll.title, "A track is being edited");
    EXPECT_EQ (exportAll.yesLabel, "Export without edits");
    EXPECT_TRUE (exportAll.alternativeLabel.isEmpty());

    // Questions do not close other windows: each one needs its answer.
    EXPECT_FALSE (presenter.events.contains ("dismiss"));

    presenter.answers[0](Answer::alternative);
    presenter.answers[1](Answer::no);
    EXPECT_EQ (received, (std::vector<Answer> { Answer::alternative, Answer::no }));
    EXPECT_TRUE (answeredOnMessageThread.load());
}

TEST (AlertManagerWithoutPresenter, WarningsAreDroppedAndQuestionsDismissedLater)
{
    AlertManager alerts;
    std::vector<Answer> received;

    alerts.displayWarningPopup ("Nobody", "sees this");
    alerts.showYesNoBox (YesNoBoxType::SaveChanges, [&] (Answer answer) { received.push_back (answer); });
    alerts.showYesNoBox ((YesNoBoxType) 99, [&] (Answer answer) { received.push_back (answer); });

    // Delivered asynchronously, never inside the call.
    EXPECT_TRUE (received.empty());
    ASSERT_TRUE (pumpUntil ([&] { return received.size() == 2; }));
    EXPECT_EQ (received, (std::vector<Answer> { Answer::dismissed, Answer::dismissed }));
}

TEST (AlertManagerStoppedLoop, NothingIsShownOnceTheMessageLoopHasStopped)
{
    // Stopping the loop cannot be undone in this process, so it runs in a child.
    GTEST_FLAG_SET (death_test_style, "threadsafe");

    EXPECT_EXIT (
        {
            RecordingPresenter presenter;
            AlertManager alerts;
            alerts.setPresenter (&presenter);
            bool answered = false;

            alerts.displayWarningPopup ("Before", "shown");
            pumpUntil ([&] { return ! presenter.warnings.empty(); });

            juce::MessageManager::getInstance()->stopDispatchLoop();
            alerts.displayWarningPopup ("After", "not shown");
            alerts.showYesNoBox (YesNoBoxType::SaveChanges, [&] (Answer) { answered = true; });
            juce::MessageManager::getInstance()->runDispatchLoopUntil (settleMs);

            std::fprintf (stderr, "warnings=%d questions=%d answered=%d\n", (int) presenter.warnings.size(),
                          (int) presenter.questions.size(), answered ? 1 : 0);
            std::fflush (stderr);
            std::_Exit (0);
        },
        ::testing::ExitedWithCode (0), "warnings=1 questions=0 answered=0");
}

#include "GuiTestSupport.h"

#include "appcore/CommandIDs.h"
#include "appcore/DirectoryManager.h"

#include <cstdlib>

namespace kalder::test
{

namespace
{
    juce::JUCEApplicationBase* noApplication()
    {
        return nullptr;
    }
} // namespace

bool waitUntil (const std::function<bool()>& condition, int timeoutMs)
{
    const auto deadline = juce::Time::getMillisecondCounterHiRes() + timeoutMs;
    while (! condition())
    {
        if (juce::Time::getMillisecondCounterHiRes() > deadline)
            return false;
        juce::MessageManager::getInstance()->runDispatchLoopUntil (5); // ms per pump
    }
    return true;
}

juce::File saveScreenshot (juce::Component& component, const juce::String& name)
{
    const auto scale = juce::Desktop::getInstance().getGlobalScaleFactor();
    const auto image = component.createComponentSnapshot (component.getLocalBounds(), true, scale);
    const auto folder = juce::File::getSpecialLocation (juce::File::currentExecutableFile).getSiblingFile ("screenshots");
    const auto file = folder.getChildFile (name + ".png");
    if (! folder.createDirectory() || ! file.deleteFile())
        return {};
    juce::FileOutputStream out (file);
    juce::PNGImageFormat png;
    if (! out.openedOk() || ! png.writeImageToStream (image, out))
        return {};
    return file;
}

juce::Component* findModalWindow (const juce::String& name)
{
    auto* modal = juce::ModalComponentManager::getInstance();
    for (int i = 0; i < modal->getNumModalComponents(); ++i)
        if (auto* c = modal->getModalComponent (i); c != nullptr && c->getName() == name)
            return c;
    return nullptr;
}

juce::Component* findDescendant (juce::Component& parent, const juce::String& id)
{
    if (parent.getComponentID() == id)
        return &parent;
    for (auto* child : parent.getChildren())
        if (auto* found = findDescendant (*child, id))
            return found;
    return nullptr;
}

bool clickButtonInModal (const juce::String& windowName, const juce::String& buttonText)
{
    auto* window = findModalWindow (windowName);
    if (window == nullptr)
        return false;
    std::function<juce::Button*(juce::Component&)> find = [&] (juce::Component& c) -> juce::Button* {
        if (auto* button = dynamic_cast<juce::Button*> (&c); button != nullptr && button->getButtonText() == buttonText)
            return button;
        for (auto* child : c.getChildren())
            if (auto* found = find (*child))
                return found;
        return nullptr;
    };
    auto* button = find (*window);
    if (button == nullptr)
        return false;
    button->triggerClick();
    return true;
}

bool closeAllModals()
{
    juce::ModalComponentManager::getInstance()->cancelAllModalComponents();
    return waitUntil ([] { return juce::ModalComponentManager::getInstance()->getNumModalComponents() == 0; }, 5000);
}

void skipTutorialForThisHome()
{
    if (const auto file = DirectoryManager::getSettingsFile(); ! file.existsAsFile())
        file.replaceWithText (R"({ "tutorialSkip": true })");
}

ApplicationFixture::ApplicationFixture (const juce::String& commandLine, const juce::File& homeFolder, Tutorial tutorial)
    : home (homeFolder != juce::File() ? homeFolder : dir.get())
{
    ::setenv ("KALDER_HOME", home.getFullPathName().toRawUTF8(), 1);
    if (tutorial == Tutorial::skipped)
        skipTutorialForThisHome();
    ::setenv ("KALDER_AUDIO_DEVICE", "null", 1);
    ::unsetenv ("KALDER_AUDIO_CAPTURE");

    // The framework allows an application object only in a standalone program.
    juce::JUCEApplicationBase::createInstance = &noApplication;
    application = std::make_unique<TarnApplication>();
    application->initialise (commandLine);
    waitUntil ([this] { return application->getMainWindow() != nullptr; }, 10000);
    // The virtual display's pointer out of the window: views under it get real mouse
    // moves, which would reach the tools beside the tests' own events.
    juce::Desktop::getInstance().getMainMouseSource().setScreenPosition ({ 0.0f, 0.0f });
}

ApplicationFixture::~ApplicationFixture()
{
    juce::ModalComponentManager::getInstance()->cancelAllModalComponents();
    waitUntil ([] { return juce::ModalComponentManager::getInstance()->getNumModalComponents() == 0; }, 5000);
    application->shutdown();
    application.reset();
    juce::MessageManager::getInstance()->runDispatchLoopUntil (20); // deletions posted on the way out
    ::unsetenv ("KALDER_HOME");
}

bool ApplicationFixture::invoke (Command command)
{
    return application->getCommandManager().invokeDirectly (CommandIDs::getInstance().getId (command), false);
}

bool ApplicationFixture::waitForMaster (const juce::String& name, int timeoutMs)
{
    return waitUntil (
        [&] {
            auto master = application->getMixer().getMasterTrack();
            return master != nullptr && master->getName() == name && ! content().isOpeningFile() && master->isStoreReady();
        },
        timeoutMs);
}

} // namespace kalder::test

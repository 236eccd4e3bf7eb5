#include "NullAudioIODevice.h"

namespace kalder
{

namespace
{
    constexpr int stopTimeoutMs = 2000;
} // namespace

NullAudioIODevice::NullAudioIODevice (const juce::File& captureFile)
    : juce::AudioIODevice (deviceName, typeName), juce::Thread ("Null audio output"), capture (captureFile)
{}

NullAudioIODevice::~NullAudioIODevice()
{
    close();
}

juce::String NullAudioIODevice::open (const juce::BigInteger&, const juce::BigInteger& outputChannels, double rate, int size)
{
    close();
    sampleRate = rate > 0.0 ? rate : 44100.0;
    bufferSize = size > 0 ? size : getDefaultBufferSize();
    activeOutputs = outputChannels;
    activeOutputs.setRange (2, 254, false); // two outputs at most
    if (activeOutputs.isZero())
        activeOutputs.setRange (0, 2, true);
    buffer.setSize (juce::jmax (1, activeOutputs.getHighestBit() + 1), bufferSize);

    if (capture != juce::File())
    {
        capture.deleteFile();
        auto stream = std::make_unique<juce::FileOutputStream> (capture);
        if (stream->failedToOpen())
            return "Cannot record to " + capture.getFullPathName();
        juce::WavAudioFormat wav;
        captureWriter.reset (wav.createWriterFor (stream.get(), sampleRate, (unsigned int) buffer.getNumChannels(), 32, {}, 0));
        if (captureWriter == nullptr)
            return "Cannot record to " + capture.getFullPathName();
        stream.release();
    }

    opened = true;
    samplesPlayed = 0;
    return {};
}

void NullAudioIODevice::close()
{
    stop();
    captureWriter.reset();
    opened = false;
}

void NullAudioIODevice::start (juce::AudioIODeviceCallback* callback)
{
    if (! opened || callback == nullptr)
        return;
    stop();
    callback->audioDeviceAboutToStart (this);
    currentCallback = callback;
    startThread (juce::Thread::Priority::highest);
}

void NullAudioIODevice::stop()
{
    auto* callback = currentCallback.exchange (nullptr);
    stopThread (stopTimeoutMs);
    if (callback != nullptr)
        callback->audioDeviceStopped();
}

void NullAudioIODevice::run()
{
    const auto started = juce::Time::getMillisecondCounterHiRes();
    juce::int64 blocks = 0;

    while (! threadShouldExit())
    {
        if (auto* callback = currentCallback.load())
        {
            buffer.clear();
            callback->audioDeviceIOCallbackWithContext (nullptr, 0, buffer.getArrayOfWritePointers(), buffer.getNumChannels(),
                                                        bufferSize, {});
            if (captureWriter != nullptr)
                captureWriter->writeFromAudioSampleBuffer (buffer, 0, bufferSize);
            samplesPlayed += bufferSize;
        }

        // Keep to the real-time rate: the next block is due when the last one has played.
        ++blocks;
        const auto due = started + 1000.0 * (double) blocks * bufferSize / sampleRate;
        const auto wait = due - juce::Time::getMillisecondCounterHiRes();
        if (wait > 0.0)
            juce::Thread::wait ((int) wait);
    }
}

juce::StringArray NullAudioIODeviceType::getDeviceNames (bool wantInputNames) const
{
    return wantInputNames ? juce::StringArray() : juce::StringArray (NullAudioIODevice::deviceName);
}

int NullAudioIODeviceType::getIndexOfDevice (juce::AudioIODevice* device, bool asInput) const
{
    return ! asInput && dynamic_cast<NullAudioIODevice*> (device) != nullptr ? 0 : -1;
}

juce::AudioIODevice* NullAudioIODeviceType::createDevice (const juce::String& outputName, const juce::String&)
{
    if (outputName.isNotEmpty() && outputName != NullAudioIODevice::deviceName)
        return nullptr;
    const auto capturePath = juce::SystemStats::getEnvironmentVariable ("KALDER_AUDIO_CAPTURE", {});
    return new NullAudioIODevice (capturePath.isNotEmpty() ? juce::File::getCurrentWorkingDirectory().getChildFile (capturePath)
                                                           : juce::File());
}

juce::String AudioOutputSetup::openOutput (juce::AudioDeviceManager& manager, int numOutputChannels)
{
    const bool wantNull = juce::SystemStats::getEnvironmentVariable ("KALDER_AUDIO_DEVICE", {}).equalsIgnoreCase ("null");

    if (! wantNull)
    {
        const auto error = manager.initialiseWithDefaultDevices (0, numOutputChannels);
        if (error.isEmpty() && manager.getCurrentAudioDevice() != nullptr)
            return manager.getCurrentAudioDeviceType();
    }

    // No sound card, or none wanted: the null device keeps playback running.
    manager.addAudioDeviceType (std::make_unique<NullAudioIODeviceType>());
    manager.setCurrentAudioDeviceType (NullAudioIODevice::typeName, false);
    juce::AudioDeviceManager::AudioDeviceSetup setup;
    setup.outputDeviceName = NullAudioIODevice::deviceName;
    setup.useDefaultOutputChannels = true;
    setup.sampleRate = 44100.0;
    setup.bufferSize = 512;
    manager.setAudioDeviceSetup (setup, true);
    return NullAudioIODevice::typeName;
}

} // namespace kalder

#pragma once

#include <juce_audio_devices/juce_audio_devices.h>
#include <juce_audio_formats/juce_audio_formats.h>

namespace kalder
{

/**
    An audio output for machines without sound hardware (CI, servers, remote desktops):
    it pulls audio from its callback at the real-time rate of the chosen sample rate and
    block size, and can record what it would have played to a WAV file.

    Threading: its own thread runs the callback, as a sound card's would.
*/
class NullAudioIODevice : public juce::AudioIODevice, private juce::Thread
{
public:
    static constexpr const char* typeName = "Null";
    static constexpr const char* deviceName = "No sound output";

    /** captureFile: where to record the output as a 32-bit float WAV (none when it is a
        default File). */
    explicit NullAudioIODevice (const juce::File& captureFile);
    ~NullAudioIODevice() override;

    juce::StringArray getOutputChannelNames() override { return { "Left", "Right" }; }
    juce::StringArray getInputChannelNames() override { return {}; }
    juce::Array<double> getAvailableSampleRates() override { return { 22050.0, 44100.0, 48000.0, 88200.0, 96000.0, 192000.0 }; }
    juce::Array<int> getAvailableBufferSizes() override { return { 64, 128, 256, 441, 480, 512, 1024, 2048, 4096 }; }
    int getDefaultBufferSize() override { return 512; }

    juce::String open (const juce::BigInteger& inputChannels, const juce::BigInteger& outputChannels, double sampleRate,
                       int bufferSizeSamples) override;
    void close() override;
    bool isOpen() override { return opened; }
    void start (juce::AudioIODeviceCallback* callback) override;
    void stop() override;
    bool isPlaying() override { return currentCallback.load() != nullptr; }
    juce::String getLastError() override { return {}; }

    int getCurrentBufferSizeSamples() override { return bufferSize; }
    double getCurrentSampleRate() override { return sampleRate; }
    int getCurrentBitDepth() override { return 32; }
    juce::BigInteger getActiveOutputChannels() const override { return activeOutputs; }
    juce::BigInteger getActiveInputChannels() const override { return {}; }
    int getOutputLatencyInSamples() override { return 0; }
    int getInputLatencyInSamples() override { return 0; }

    /** Samples the device has pulled since it opened. */
    juce::int64 getSamplesPlayed() const noexcept { return samplesPlayed.load(); }

private:
    void run() override;

    juce::File capture;
    std::unique_ptr<juce::AudioFormatWriter> captureWriter;
    bool opened = false;
    double sampleRate = 44100.0;
    int bufferSize = 512;
    juce::BigInteger activeOutputs;
    juce::AudioBuffer<float> buffer;
    std::atomic<juce::AudioIODeviceCallback*> currentCallback { nullptr };
    juce::CriticalSection callbackLock;
    std::atomic<juce::int64> samplesPlayed { 0 };
};

/** The device type that offers the null device to an AudioDeviceManager. */
class NullAudioIODeviceType : public juce::AudioIODeviceType
{
public:
    NullAudioIODeviceType() : juce::AudioIODeviceType (NullAudioIODevice::typeName) {}

    void scanForDevices() override {}
    juce::StringArray getDeviceNames (bool wantInputNames) const override;
    int getDefaultDeviceIndex (bool) const override { return 0; }
    int getIndexOfDevice (juce::AudioIODevice* device, bool asInput) const override;
    bool hasSeparateInputsAndOutputs() const override { return true; }
    juce::AudioIODevice* createDevice (const juce::String& outputName, const juce::String& inputName) override;
};

/**
    Opens the audio output of the application: the system's default device, or the null
    device when KALDER_AUDIO_DEVICE=null, or when no device opens. KALDER_AUDIO_CAPTURE
    names a WAV file that the null device records to.
*/
struct AudioOutputSetup
{
    /** Returns the name of the device type in use ("Null" for the null device). */
    static juce::String openOutput (juce::AudioDeviceManager& manager, int numOutputChannels = 2);
};

} // namespace kalder

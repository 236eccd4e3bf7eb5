#include "Asig.h"

#include "base/BoundedJson.h"

#include <cmath>
#include <limits>

#include "AsigUtilities.h"
#include "FFTHelper.h"
#include "FrameTransformer.h"
#include "base/DurableFile.h"

namespace kalder
{

namespace
{
    constexpr int cacheTimerIntervalMs = 50;
    constexpr int jobShutdownTimeoutMs = 10000;
    constexpr int propertiesFormatVersion = 1;
    constexpr const char* propertiesExtension = ".asig";

    // Limits for properties read back from disk: anything outside is a damaged file.
    constexpr int maxChannels = 64;
    constexpr int minNfft = 64;
    constexpr int maxNfft = 65536;
    constexpr int maxSampleRate = 1000000;

    // Power below this counts as silence in the average spectrum (-200 dB).
    constexpr double powerFloor = 1.0e-20;

    /** Accumulates the mean power of every bin; reported in dB. */
    struct PowerAverage
    {
        explicit PowerAverage (int nFreqs) : sum (Eigen::VectorXd::Zero (nFreqs)) {}

        void add (const CspecMatrix& frames)
        {
            // Column by column: contiguous and vectorised, summed in float over at most one
            // chunk of frames before it is added in double precision.
            Eigen::ArrayXf chunkSum = Eigen::ArrayXf::Zero (sum.size());
            for (Eigen::Index f = 0; f < frames.cols(); ++f)
                chunkSum += frames.col (f).array().abs2();
            sum += chunkSum.cast<double>().matrix();
            count += frames.cols();
        }

        std::vector<float> getDecibels() const
        {
            std::vector<float> db ((size_t) sum.size());
            for (Eigen::Index b = 0; b < sum.size(); ++b)
                db[(size_t) b] = (float) (10.0 * std::log10 (juce::jmax (powerFloor, count > 0 ? sum[b] / (double) count : 0.0)));
            return db;
        }

        Eigen::VectorXd sum;
        juce::int64 count = 0;
    };

} // namespace

/** Fills the back cache buffer with the window around a requested range. */
class Asig::MemoryCachingThread : public juce::ThreadPoolJob
{
public:
    MemoryCachingThread (AsigMemoryManager& m, juce::Range<int> r)
        : juce::ThreadPoolJob ("Memory cache update"), manager (m), range (r)
    {}

    JobStatus runJob() override
    {
        manager.cache (range);
        return jobHasFinished;
    }

private:
    AsigMemoryManager& manager;
    juce::Range<int> range;
};

//==============================================================================
// The caching timer starts once the store is ready (readAudio(), openAsig()): until then
// the store is being built on another thread and the timer must not look at it.
Asig::Asig() = default;

Asig::Asig (const ParsedAudio& audio, const juce::File& directory, const juce::String& name) : Asig()
{
    setAudioFile (audio, directory, name);
}

Asig::~Asig()
{
    stopTimer();
    cachingPool.removeAllJobs (true, jobShutdownTimeoutMs);
    manager.reset();
}

juce::Result Asig::allocateMemoryManager (const juce::File& directory, const juce::String& name)
{
    cachingPool.removeAllJobs (true, jobShutdownTimeoutMs);
    dataDirectory = directory;
    dataName = juce::File::createLegalFileName (name).replaceCharacters ("*?", "__");
    if (dataName.isEmpty())
        return juce::Result::fail ("A frame store needs a name");

    manager = std::make_unique<AsigMemoryManager> (dataDirectory, dataName);
    manager->setProperties (numChannels, geometry.getNumFreqs(), numFrames);
    return juce::Result::ok();
}

void Asig::initFFT()
{
    if (fft == nullptr || fft->getSize() != geometry.nfft)
        fft = std::make_unique<RealFFT> (geometry.nfft);
}

juce::File Asig::getPropertiesFile() const
{
    return dataDirectory.getChildFile (dataName + propertiesExtension);
}

std::vector<juce::File> Asig::getDataFiles() const
{
    std::vector<juce::File> files;
    if (manager != nullptr)
        files = manager->getDataFiles();
    if (getPropertiesFile().existsAsFile())
        files.push_back (getPropertiesFile());
    return files;
}

//==============================================================================
juce::Result Asig::setAudioFile (const ParsedAudio& audio, const juce::File& directory, const juce::String& name)
{
    stopTimer();
    if (manager != nullptr)
        manager->clearDataFiles();

    const auto channels = audio.getNumChannels();
    const auto rate = audio.getSampleRate();
    if (channels <= 0 || channels > maxChannels)
        return juce::Result::fail ("The audio has " + juce::String (channels) + " channels; from 1 to "
                                   + juce::String (maxChannels) + " can be opened");
    if (rate <= 0 || rate > maxSampleRate)
        return juce::Result::fail ("The audio's sample rate of " + juce::String (rate) + " Hz is not supported");
    if (audio.getNumSamples() <= 0)
        return juce::Result::fail ("The audio is empty");

    geometry = { FFTHelper::getNfftForSampleRate (rate) };
    const auto frames = (juce::int64) geometry.getNumFramesForSamples (audio.getNumSamples());
    if (frames > std::numeric_limits<int>::max() - AsigMemoryChunk::framesPerChunk)
        return juce::Result::fail ("The audio is too long");

    numChannels = channels;
    sampleRate = rate;
    numSamples = audio.getNumSamples();
    numFrames = (int) frames;
    averageLogSpectrum.clear();

    if (auto r = allocateMemoryManager (directory, name); r.failed())
        return r;

    // Files of an earlier analysis under this name belong to other audio.
    manager->clearDataFiles();

    if (! dataDirectory.createDirectory())
        return juce::Result::fail ("Cannot create the folder " + dataDirectory.getFullPathName());
    return saveProperties (getPropertiesFile());
}

juce::Result Asig::readAudio (const ParsedAudio& audio, Progress::Ptr progress)
{
    stopTimer(); // the data files are made anew
    if (manager == nullptr || audio.getNumChannels() != numChannels || audio.getNumSamples() != numSamples)
        return juce::Result::fail ("The frame store is not bound to this audio");

    if (progress == nullptr)
        progress = new Progress();
    auto analysis = progress->addChild ({ 0.0f, 1.0f });

    if (auto r = manager->createDataFiles(); r.failed())
        return r;

    initFFT();
    const auto numChunks = manager->getNumChunks();

    analysis->setNumSteps (numChunks * numChannels);

    FrameTransformer transformer (geometry, *fft);
    CspecMatrix block;
    PowerAverage power (geometry.getNumFreqs());

    // The chunk at the focus first, then on to the end, then from the start.
    std::vector<bool> analysed ((size_t) numChunks, false);
    auto nextChunk = [&] {
        const auto focus = juce::jlimit (0, numChunks - 1, analysisFocus.load() / AsigMemoryChunk::framesPerChunk);
        for (int i = 0; i < numChunks; ++i)
            if (const auto c = (focus + i) % numChunks; ! analysed[(size_t) c])
                return c;
        return -1;
    };
    for (int chunk = nextChunk(); chunk >= 0; chunk = nextChunk())
    {
        analysed[(size_t) chunk] = true;
        const juce::Range<int> frames (chunk * AsigMemoryChunk::framesPerChunk,
                                       juce::jmin (numFrames, (chunk + 1) * AsigMemoryChunk::framesPerChunk));

        for (int channel = 0; channel < numChannels; ++channel)
        {
            if (progress->isCancelled())
            {
                manager->clearDataFiles();
                return juce::Result::fail ("Cancelled");
            }

            // A few frames at a time: the block stays in cache from the transform to the write.
            for (auto start = frames.getStart(); start < frames.getEnd(); start += framesPerAnalysisStep)
            {
                const juce::Range<int> step (start, juce::jmin (frames.getEnd(), start + framesPerAnalysisStep));
                transformer.transform (audio, channel, step, block);
                power.add (block);
                if (! manager->setCspecFrames (channel, step, block))
                {
                    manager->clearDataFiles();
                    return juce::Result::fail ("Cannot write the analysis to " + dataDirectory.getFullPathName()
                                               + " (is the disk full?)");
                }
            }
            analysis->advance();
        }
        // Before its edit is noted, so that a view that takes in these frames finds
        // their level too.
        const auto db = power.getDecibels();
        loudestAnalysedLevel = db.empty() ? -std::numeric_limits<float>::infinity() : *std::max_element (db.begin(), db.end());
        noteEdit (frames);
    }

    manager->clearSelection();
    noteEdit (allFrames);
    averageLogSpectrum = power.getDecibels();
    progress->finish();
    startTimer (cacheTimerIntervalMs);
    return saveProperties (getPropertiesFile());
}

juce::Result Asig::reanalyseFrames (const ParsedAudio& audio, juce::Range<int> frames)
{
    if (! isReady() || audio.getNumChannels() != numChannels || audio.getNumSamples() != numSamples)
        return juce::Result::fail ("The frame store is not bound to this audio");

    const auto r = frames.getIntersectionWith ({ 0, numFrames });
    initFFT();
    FrameTransformer transformer (geometry, *fft);
    CspecMatrix block;
    for (auto start = r.getStart(); start < r.getEnd(); start += framesPerAnalysisStep)
    {
        const juce::Range<int> part (start, juce::jmin (r.getEnd(), start + framesPerAnalysisStep));
        for (int channel = 0; channel < numChannels; ++channel)
        {
            transformer.transform (audio, channel, part, block);
            if (! manager->setCspecFrames (channel, part, block))
                return juce::Result::fail ("Cannot write the analysis to " + dataDirectory.getFullPathName()
                                           + " (is the disk full?)");
        }
    }
    noteEdit (r);
    return juce::Result::ok();
}

void Asig::calcAvLogSpec (Progress::Ptr progress)
{
    if (! isReady())
        return;

    PowerAverage power (geometry.getNumFreqs());
    if (progress != nullptr)
        progress->setNumSteps (manager->getNumChunks() * numChannels);

    for (int chunk = 0; chunk < manager->getNumChunks(); ++chunk)
    {
        const juce::Range<int> frames (chunk * AsigMemoryChunk::framesPerChunk,
                                       juce::jmin (numFrames, (chunk + 1) * AsigMemoryChunk::framesPerChunk));
        for (int channel = 0; channel < numChannels; ++channel)
        {
            if (progress != nullptr && progress->isCancelled())
                return;
            power.add (manager->readCspecFromFile (channel, frames));
            if (progress != nullptr)
                progress->advance();
        }
    }
    averageLogSpectrum = power.getDecibels();
}

//==============================================================================
juce::Result Asig::saveProperties (const juce::File& file) const
{
    auto* obj = new juce::DynamicObject();
    juce::var root (obj);
    obj->setProperty ("formatVersion", propertiesFormatVersion);
    obj->setProperty ("numChannels", numChannels);
    obj->setProperty ("sampleRate", sampleRate);
    obj->setProperty ("numSamples", numSamples);
    obj->setProperty ("nfft", geometry.nfft);
    obj->setProperty ("nFreqs", geometry.getNumFreqs());
    obj->setProperty ("nFrames", numFrames);
    obj->setProperty ("framesPerChunk", AsigMemoryChunk::framesPerChunk);

    juce::Array<juce::var> spectrum;
    for (auto v : averageLogSpectrum)
        spectrum.add (v);
    obj->setProperty ("averageLogSpectrum", spectrum);

    return DurableFile::replaceWithText (file, juce::JSON::toString (root, true));
}

juce::Result Asig::openAsig (const juce::File& directory, const juce::String& name)
{
    stopTimer();
    auto storeName = name;
    if (storeName.isEmpty())
    {
        const auto found = directory.findChildFiles (juce::File::findFiles, false, juce::String ("*") + propertiesExtension);
        if (found.size() != 1)
            return juce::Result::fail (found.isEmpty() ? "No frame store in " + directory.getFullPathName()
                                                       : "More than one frame store in " + directory.getFullPathName());
        storeName = found.getFirst().getFileNameWithoutExtension();
    }

    const auto propertiesFile = directory.getChildFile (storeName + propertiesExtension);
    if (! propertiesFile.existsAsFile())
        return juce::Result::fail ("No frame store named " + storeName + " in " + directory.getFullPathName());

    // Bounded: a damaged or hostile file is refused, never read into memory whole or
    // handed to a parser that could overflow on it.
    constexpr int maxPropertiesBytes = 16 << 20, maxPropertiesDepth = 8;
    juce::var props;
    if (propertiesFile.getSize() > maxPropertiesBytes
        || BoundedJson::parseObject (propertiesFile.loadFileAsString(), props, maxPropertiesBytes, maxPropertiesDepth).failed())
        return juce::Result::fail ("The frame store's properties in " + propertiesFile.getFullPathName() + " are damaged");

    // A whole number within +-2^53, else -1 (refused below): converting an infinite or
    // huge value to an integer is undefined.
    const auto whole = [&props] (const char* name) -> juce::int64 {
        const auto& v = props[name];
        if (v.isInt() || v.isInt64())
            return (juce::int64) v;
        const auto d = v.isDouble() ? (double) v : -1.0;
        return std::isfinite (d) && std::abs (d) < 9.0e15 && d == std::floor (d) ? (juce::int64) d : -1;
    };
    const auto small = [&whole] (const char* name) {
        const auto v = whole (name);
        return v >= 0 && v <= std::numeric_limits<int>::max() ? (int) v : -1;
    };
    const int channels = small ("numChannels");
    const int rate = small ("sampleRate");
    const int nfft = small ("nfft");
    const int freqs = small ("nFreqs");
    const int frames = small ("nFrames");
    const auto samples = whole ("numSamples");
    const int version = small ("formatVersion");

    const FrameGeometry g { nfft };
    const bool sane = version >= 1 && version <= propertiesFormatVersion && channels > 0 && channels <= maxChannels && rate > 0
                      && rate <= maxSampleRate && nfft >= minNfft && nfft <= maxNfft && g.isValid() && freqs == g.getNumFreqs()
                      && samples > 0 && frames == g.getNumFramesForSamples (samples);
    if (! sane)
        return juce::Result::fail ("The frame store's properties in " + propertiesFile.getFullPathName()
                                   + " are damaged or from a newer version");

    geometry = g;
    numChannels = channels;
    sampleRate = rate;
    numSamples = samples;
    numFrames = frames;

    if (auto r = allocateMemoryManager (directory, storeName); r.failed())
        return r;
    if (auto r = manager->openDataFiles(); r.failed())
        return r;

    initFFT();
    manager->refreshCache();
    noteEdit (allFrames);

    averageLogSpectrum.clear();
    if (const auto* spectrum = props["averageLogSpectrum"].getArray(); spectrum != nullptr && spectrum->size() == freqs)
        for (const auto& v : *spectrum)
            averageLogSpectrum.push_back (
                v.isDouble() || v.isInt() || v.isInt64() ? (float) juce::jlimit (-1.0e6, 1.0e6, (double) v) : 0.0f);
    else
        calcAvLogSpec();

    startTimer (cacheTimerIntervalMs);
    return juce::Result::ok();
}

//==============================================================================
CspecMatrix Asig::readFrames (int channel, juce::Range<int> frames, MaskUse maskUse, SelectionGain selectionGainUse)
{
    const auto applyMask = maskUse != MaskUse::none;
    if (manager == nullptr || ! isReady())
        return CspecMatrix::Zero (geometry.getNumFreqs(), juce::jmax (0, frames.getLength()));

    const auto r = frames.getIntersectionWith ({ 0, numFrames });
    if (r.isEmpty())
        return {};

    // When both cache buffers are busy the frames come from the data files: a read that
    // came back empty would be heard as a dropout.
    auto result = manager->getCspecFrames (channel, r);
    if (result.size() == 0)
        return result;

    MaskMatrix gain;
    if (applyMask)
    {
        gain = manager->getMaskFrames (channel, r);
        if (gain.rows() != result.rows() || gain.cols() != result.cols())
            return result;
        if (maskUse == MaskUse::flippedMask)
            gain = (1.0f - gain.array()).matrix();
    }

    if (selectionGainUse == SelectionGain::applied && manager->hasSelection())
    {
        const auto v = selectionVolume.load();
        const auto selection = manager->getSelection (r);
        // Selected bins at v, the others at 1 - v.
        const MaskMatrix selectionGain = (selection.array() * (2.0f * v - 1.0f) + (1.0f - v)).matrix();
        if (applyMask)
            gain = gain.cwiseProduct (selectionGain);
        else
            gain = selectionGain;
    }

    if (gain.size() == result.size())
    {
        // A real gain scales both parts of each value: view the complex values as pairs of
        // floats instead of multiplying complex by complex.
        Eigen::Map<Eigen::ArrayXXf> parts (reinterpret_cast<float*> (result.data()), 2, result.size());
        parts.rowwise() *= Eigen::Map<const Eigen::ArrayXf> (gain.data(), gain.size()).transpose();
    }
    return result;
}

CspecMatrix Asig::readMaskedFrames (int channel, juce::Range<int> frames)
{
    return readFrames (channel, frames, getMaskUse(), SelectionGain::applied);
}

MaskMatrix Asig::getSelection (juce::Range<int> frames)
{
    if (manager == nullptr)
        return {};
    return manager->getSelection (frames);
}

AsigMemoryManager::SelectionBlock Asig::getSelection()
{
    if (manager == nullptr)
        return {};
    return manager->getSelection();
}

bool Asig::hasSelection (int) const noexcept
{
    return manager != nullptr && manager->hasSelection();
}

juce::Range<int> Asig::getEditedFrameRange() const
{
    return manager != nullptr ? manager->getEditedFrameRange() : juce::Range<int>();
}

juce::Range<int> Asig::getSelectedFrameRange() const
{
    return manager != nullptr ? manager->getSelectedFrameRange() : juce::Range<int>();
}

// Every edit counts its generation after the write: a reader that takes the generation
// and then reads may see the write half done, but then it also sees a newer generation
// next time and reads again. Counted before, a reader could take the new generation,
// read the old frames and keep them as current.
bool Asig::setMask (int channel, juce::Range<int> bins, juce::Range<int> frames, const MaskMatrix& block)
{
    const bool written = manager != nullptr && manager->setMaskFrames (channel, bins, frames, block);
    noteEdit (frames);
    return written;
}

bool Asig::setSelection (juce::Range<int> bins, juce::Range<int> frames, const MaskMatrix& block, bool clearRestFirst)
{
    const bool had = hasSelection();
    const auto before = clearRestFirst ? getSelectedFrameRange() : juce::Range<int>();
    const bool written = manager != nullptr && manager->setSelection (bins, frames, block, clearRestFirst);
    const auto changed = frames.getUnionWith (before.isEmpty() ? frames : before);
    noteEdit (had != hasSelection() ? allFrames : changed, changed);
    return written;
}

bool Asig::addToSelection (juce::Range<int> bins, juce::Range<int> frames, const MaskMatrix& block)
{
    const bool had = hasSelection();
    const bool written = manager != nullptr && manager->addToSelection (bins, frames, block);
    noteEdit (had != hasSelection() ? allFrames : frames, frames);
    return written;
}

void Asig::resetMaskAndSelection()
{
    if (manager != nullptr)
    {
        for (int c = 0; c < numChannels; ++c)
            manager->initMask (c);
        manager->clearSelection();
    }
    noteEdit (allFrames);
}

void Asig::resetMask()
{
    if (manager != nullptr)
        for (int c = 0; c < numChannels; ++c)
            manager->initMask (c);
    noteEdit (allFrames);
}

void Asig::clearSelection()
{
    const auto before = getSelectedFrameRange();
    if (manager != nullptr)
        manager->clearSelection();
    noteEdit (allFrames, before);
}

void Asig::noteEdit (juce::Range<int> played, juce::Range<int> written) noexcept
{
    const juce::SpinLock::ScopedLockType sl (editLogLock);
    const auto generation = editGeneration.load() + 1;
    editLog[(size_t) (generation % editLogSize)] = { generation, played, written };
    editGeneration = generation;
}

juce::Range<int> Asig::getFramesEditedSince (juce::uint64 generation) const noexcept
{
    return unionSince (generation, false);
}

juce::Range<int> Asig::getFramesWrittenSince (juce::uint64 generation) const noexcept
{
    return unionSince (generation, true);
}

juce::Range<int> Asig::unionSince (juce::uint64 generation, bool written) const noexcept
{
    const juce::SpinLock::ScopedLockType sl (editLogLock);
    const auto now = editGeneration.load();
    if (generation >= now)
        return {};
    if (now - generation > (juce::uint64) editLogSize)
        return allFrames;
    juce::Range<int> frames;
    for (auto g = generation + 1; g <= now; ++g)
    {
        const auto& entry = editLog[(size_t) (g % editLogSize)];
        if (entry.generation != g)
            return allFrames;
        const auto& r = written ? entry.written : entry.frames;
        if (! r.isEmpty())
            frames = frames.isEmpty() ? r : frames.getUnionWith (r);
    }
    return frames;
}

//==============================================================================
void Asig::setRequestedRange (juce::Range<int> frames)
{
    const juce::SpinLock::ScopedLockType sl (requestedRangeLock);
    requestedRange = frames;
}

juce::Range<int> Asig::getRequestedRange() const
{
    const juce::SpinLock::ScopedLockType sl (requestedRangeLock);
    return requestedRange;
}

void Asig::timerCallback()
{
    if (manager == nullptr || ! manager->isReady())
        return;

    const auto requested = getRequestedRange();
    if (requested.isEmpty())
        return;

    const auto wanted = manager->calculateRangeToCache (requested);
    if (wanted == manager->getFrontRange() || wanted == manager->getBackRange())
        return;

    cachingPool.removeAllJobs (false, 0);
    if (cachingPool.getNumJobs() == 0)
        cachingPool.addJob (new MemoryCachingThread (*manager, requested), true);
}

} // namespace kalder

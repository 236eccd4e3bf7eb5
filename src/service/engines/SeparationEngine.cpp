#include "SeparationEngine.h"
#include "BlockSeparator.h"
#include "DrumEngine.h"
#include "EngineParameters.h"
#include "LeadVocalEngine.h"
#include "PanEngine.h"
#include "StemModelEngine.h"

#include <malloc.h>
#include <memory>
#include <mutex>

namespace kalder::service
{
namespace
{
    // The pan module's source count range, as the application offers it.
    constexpr int minPanSources = 3;
    constexpr int maxPanSources = 7;
    // A guide beyond a day of audio at 1 sample per step is no guide.
    constexpr size_t maxGuideSteps = 1u << 28;

    std::unique_ptr<StemEngine> createEngine (const SeparationSpec& spec, juce::Result& result)
    {
        EngineParameters params (spec);
        std::unique_ptr<StemEngine> engine;
        switch (spec.module)
        {
            case Module::drums:
                // With the masks shared by the channels, the drums come from the four-source
                // model: it keeps the voice's vibrato and glides out of the drums (development
                // songs: 5.7 dB against 5.4 for the plain split). Per-channel masks are the
                // plain split's.
                if (params.getSwitch ("stereoSmoothing", true))
                    engine = std::make_unique<StemModelEngine> (spec.module, StemModelEngine::VocalGate::off);
                else
                    engine = std::make_unique<DrumEngine>();
                break;

            case Module::vocals:
            {
                LeadVocalEngine::Settings s;
                s.stereoSmoothing = params.getSwitch ("stereoSmoothing", true);
                s.sourcePosition = params.getInt ("sourcePosition", 1, 0, 2);
                s.narrow = params.getSwitch ("panPreProcess", true);
                const auto reverb = params.getChoice ("reverbProcess", "WithVocal",
                                                      { "WithTrack", "WithVocal", "SeparateTrack" });
                s.reverb = reverb == "WithTrack"       ? LeadVocalEngine::Reverb::withTrack
                           : reverb == "SeparateTrack" ? LeadVocalEngine::Reverb::separateTrack
                                                       : LeadVocalEngine::Reverb::withVocal;
                s.guided = params.getChoice ("mode", "Automatic", { "Automatic", "Guided" }) == "Guided";
                s.vocalActivity = params.getNumber ("vocalActivity", 0.0f, 0.0f, 1.0f);
                s.snareReduction = params.getSwitch ("snareRemoval", false);
                s.advancedFiltering = params.getSwitch ("advancedFiltering", true);
                s.backingTrack = params.getSwitch ("backingTrack", true);
                if (s.guided)
                {
                    if (spec.pitchGuide.empty() || spec.guideStepSamples <= 0 || spec.pitchGuide.size() > maxGuideSteps)
                    {
                        result = juce::Result::fail ("A guided vocal separation needs a pitch guide");
                        return nullptr;
                    }
                    s.pitchGuide = spec.pitchGuide;
                    s.guideStepSamples = spec.guideStepSamples;
                }
                engine = std::make_unique<LeadVocalEngine> (std::move (s));
                break;
            }

            case Module::pan:
                engine = std::make_unique<PanEngine> (
                    params.getInt ("nSources", 3, minPanSources, maxPanSources),
                    params.getSwitch ("equalSpacing", true) ? PanEngine::Spacing::equal : PanEngine::Spacing::analysed,
                    params.getSwitch ("smear", false) ? PanEngine::Masks::smeared : PanEngine::Masks::sharp);
                break;

            case Module::allVocals:
            case Module::fourStems:
                engine = std::make_unique<StemModelEngine> (spec.module, params.getSwitch ("gate", true)
                                                                             ? StemModelEngine::VocalGate::on
                                                                             : StemModelEngine::VocalGate::off);
                break;

            case Module::bass:
            case Module::other:
                engine = std::make_unique<StemModelEngine> (spec.module, StemModelEngine::VocalGate::off);
                break;

            default:
                result = juce::Result::fail ("Unknown separation module " + juce::String ((int) spec.module));
                return nullptr;
        }

        if (params.getResult().failed())
        {
            result = params.getResult();
            return nullptr;
        }
        return engine;
    }
} // namespace

juce::Result runSeparation (const SeparationSpec& spec, const juce::File& input, const juce::File& outputDirectory,
                            EngineProgress& progress, std::vector<StemFile>& stems)
{
    stems.clear();
    auto result = juce::Result::ok();
    auto engine = createEngine (spec, result);
    if (engine == nullptr)
        return result;

    // Every segment allocates the same few dozen matrices of 10 to 25 MB. Above glibc's
    // default threshold each would be a fresh mapping, zeroed page by page by the
    // kernel: a fifth of the separation's time went to those page faults. Kept in the
    // heap, they are reused from segment to segment; the heap is trimmed after the job
    // so that an idle service gives the memory back.
    static std::once_flag allocatorTuned;
    std::call_once (allocatorTuned, [] {
        mallopt (M_MMAP_THRESHOLD, 256 << 20);
        mallopt (M_TRIM_THRESHOLD, 512 << 20);
    });
    BlockSeparator separator (*engine, progress);
    const auto outcome = separator.run (input, outputDirectory, stems);
    malloc_trim (0);
    return outcome;
}

} // namespace kalder::service

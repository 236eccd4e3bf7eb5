#include "separation/ParameterCodes.h"

#include <gtest/gtest.h>

#include <set>

using kalder::separation::ParameterCodes;
using kalder::separation::ParameterInfo;

namespace
{
const int allModules[] = { 0, 1, 2, 3, 5, 6, 7 };
}

TEST (ParameterCodes, CodesAreUniqueAcrossModulesAndNeverThePitchGuide)
{
    std::set<int> codes;
    int count = 0;
    for (auto module : allModules)
        for (const auto& p : ParameterCodes::getParamCodes (module))
        {
            codes.insert (p.code);
            ++count;
            EXPECT_NE (p.code, ParameterCodes::pitchGuideCode);
            EXPECT_EQ (ParameterCodes::findByCode (module, p.code)->name, p.name);
        }
    EXPECT_EQ (static_cast<int> (codes.size()), count);
    EXPECT_EQ (count, 1 + 9 + 3 + 1 + 1); // drums, vocals, pan, all vocals, four stems
}

TEST (ParameterCodes, ValuesAreCheckedAndNormalised)
{
    const auto nSources = *ParameterCodes::findByName (2, "nSources");
    EXPECT_EQ (static_cast<int> (*ParameterCodes::normaliseValue (nSources, 7)), 7);
    EXPECT_EQ (static_cast<int> (*ParameterCodes::normaliseValue (nSources, "5")), 5); // offered as text
    EXPECT_FALSE (ParameterCodes::normaliseValue (nSources, 8).has_value());
    EXPECT_FALSE (ParameterCodes::normaliseValue (nSources, 2).has_value());
    EXPECT_FALSE (ParameterCodes::normaliseValue (nSources, "3.5").has_value());
    EXPECT_FALSE (ParameterCodes::normaliseValue (nSources, 4.0).has_value());

    const auto reverb = *ParameterCodes::findByName (1, "reverbProcess");
    EXPECT_EQ (ParameterCodes::normaliseValue (reverb, "SeparateTrack")->toString(), "SeparateTrack");
    EXPECT_FALSE (ParameterCodes::normaliseValue (reverb, "separatetrack").has_value());  // values are exact
    EXPECT_FALSE (ParameterCodes::normaliseValue (reverb, "Separate Track").has_value()); // a display text, not a value

    const auto activity = *ParameterCodes::findByName (1, "vocalActivity");
    EXPECT_EQ (ParameterCodes::normaliseValue (activity, 0.5)->toString(), "0.5");
    EXPECT_FALSE (ParameterCodes::normaliseValue (activity, "0.6").has_value());

    const auto gate = *ParameterCodes::findByName (6, "gate");
    EXPECT_EQ (ParameterCodes::normaliseValue (gate, false)->toString(), "false");
    EXPECT_FALSE (ParameterCodes::normaliseValue (gate, "On").has_value());
    EXPECT_FALSE (ParameterCodes::normaliseValue (gate, juce::var()).has_value());

    EXPECT_FALSE (ParameterCodes::findByName (5, "gate").has_value());
}

#include "base/BoundedJson.h"

#include <gtest/gtest.h>

using kalder::BoundedJson;

TEST (BoundedJson, RefusesDeepOrLargeTextBeforeParsing)
{
    juce::var v;
    EXPECT_TRUE (BoundedJson::parse ("{\"a\":[1,{\"b\":2}]}", v, 1000, 3).wasOk());
    EXPECT_TRUE (BoundedJson::parse ("{\"a\":[1,{\"b\":[2]}]}", v, 1000, 3).failed());

    // A million brackets would overflow the recursive parser's stack; the scan stops it first.
    const auto deep = juce::String::repeatedString ("[", 1000000);
    EXPECT_TRUE (BoundedJson::parse (deep, v, 2000000, 8).getErrorMessage().contains ("deeper"));
    EXPECT_TRUE (BoundedJson::parse ("[" + juce::String::repeatedString ("1,", 600) + "1]", v, 1000, 8)
                     .getErrorMessage()
                     .contains ("longer"));

    // Brackets inside strings, escaped quotes included, are text, not nesting.
    const char* quoted = "{\"x\":\"[[[\\\"{{{\"}";
    EXPECT_EQ (BoundedJson::getNestingDepth (quoted, std::strlen (quoted)), 1);
    EXPECT_TRUE (BoundedJson::parse ("{\"x\":\"[[[[[[[[[[\"}", v, 1000, 1).wasOk());

    EXPECT_TRUE (BoundedJson::parse ("{\"a\":", v, 1000, 8).failed());

    // Malformed UTF-8 is refused before anything decodes it: a lead byte promising
    // three more bytes at the very end would otherwise be followed past the buffer.
    const char truncated[] = { '{', '"', 'a', '"', ':', '"', 'x', '"', '}', static_cast<char> (0xf0) };
    EXPECT_TRUE (BoundedJson::parseBytes (truncated, sizeof (truncated), v, 1000, 8).getErrorMessage().contains ("UTF-8"));
    EXPECT_TRUE (BoundedJson::parseBytes (truncated, sizeof (truncated) - 1, v, 1000, 8).wasOk());
    const char withZero[] = { '{', '}', 0, '[' };
    EXPECT_TRUE (BoundedJson::parseBytes (withZero, sizeof (withZero), v, 1000, 8).failed());
    EXPECT_TRUE (BoundedJson::parseObject ("[1]", v, 1000, 8).failed());
    EXPECT_TRUE (BoundedJson::parseObject ("", v, 1000, 8).failed());

    // Numbers the parser would add up past its integers are refused; long fractions,
    // and digits inside strings, are not numbers to it.
    for (const auto& [text, ok] :
         std::vector<std::pair<const char*, bool>> { { "[123456789012345678]", true },
                                                     { "[-1234567890123456789]", false },
                                                     { "[1234567890123456789.5]", false },
                                                     { "[0.12345678901234567890123456789]", true },
                                                     { "[1e123456789]", true },
                                                     { "[1e1000000000]", false },
                                                     { "[2.5E-1000000000]", false },
                                                     { "[- 12, 1e-5, -0.5]", true },
                                                     { "[-\xc2\xb3"
                                                       "33333333333333333]",
                                                       false }, // the parser reads the 3 of a superscript as 131
                                                     { "{\"x\":\"12345678901234567890123\"}", true } })
        EXPECT_EQ (BoundedJson::parse (text, v, 1000, 8).wasOk(), ok) << text;
}

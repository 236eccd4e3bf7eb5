#include "ProjectStream.h"

namespace kalder
{

ProjectStreamReader::ProjectStreamReader (juce::InputStream& in) : input (in) {}

void ProjectStreamReader::fail (const juce::String& problem)
{
    if (failure.isEmpty())
        failure = problem + " (at byte " + juce::String (input.getPosition()) + ")";
}

juce::int64 ProjectStreamReader::getRemaining() const
{
    const auto total = input.getTotalLength();
    return total > 0 ? juce::jmax<juce::int64> (0, total - input.getPosition()) : 0;
}

bool ProjectStreamReader::readExactly (void* dest, int numBytes, const char* what)
{
    if (! ok())
        return false;
    if (input.read (dest, numBytes) != numBytes)
    {
        fail (juce::String ("the file ends inside ") + what);
        return false;
    }
    return true;
}

juce::int32 ProjectStreamReader::readInt()
{
    juce::uint8 b[4] {};
    if (! readExactly (b, 4, "a number"))
        return 0;
    return (juce::int32) ((juce::uint32) b[0] | ((juce::uint32) b[1] << 8) | ((juce::uint32) b[2] << 16)
                          | ((juce::uint32) b[3] << 24));
}

float ProjectStreamReader::readFloat()
{
    const auto bits = (juce::uint32) readInt();
    float v = 0.0f;
    std::memcpy (&v, &bits, sizeof (v));
    return v;
}

bool ProjectStreamReader::readBool()
{
    return readByte() != 0;
}

juce::uint8 ProjectStreamReader::readByte()
{
    juce::uint8 b = 0;
    readExactly (&b, 1, "a byte");
    return b;
}

juce::String ProjectStreamReader::readString (int maxBytes)
{
    juce::MemoryOutputStream bytes;
    for (;;)
    {
        const auto b = readByte();
        if (! ok())
            return {};
        if (b == 0)
            break;
        if ((int) bytes.getDataSize() >= maxBytes)
        {
            fail ("a text is longer than " + juce::String (maxBytes) + " bytes");
            return {};
        }
        bytes.writeByte ((char) b);
    }
    if (! juce::CharPointer_UTF8::isValidString (static_cast<const char*> (bytes.getData()), (int) bytes.getDataSize()))
    {
        fail ("a text is not UTF-8");
        return {};
    }
    return bytes.toUTF8();
}

} // namespace kalder

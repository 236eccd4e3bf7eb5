#pragma once

#include <juce_core/juce_core.h>

namespace kalder
{

/**
    The primitive encodings of a project stream: int and float 32-bit little-endian, bool
    and byte one byte (a bool is true when not zero), string UTF-8 ending in one zero
    byte.

    The reader trusts nothing: every read checks that the bytes are there, a string
    longer than its limit or without its zero fails, and after the first failure every
    read fails too and returns a default value, so a reader can read a whole record and
    look once at the end (ok()). It never allocates more than its limits allow.

    Threading: one thread per object.
*/
class ProjectStreamReader
{
public:
    explicit ProjectStreamReader (juce::InputStream& input);

    juce::int32 readInt();
    float readFloat();
    bool readBool();
    juce::uint8 readByte();
    /** A string of at most maxBytes bytes before its zero. */
    juce::String readString (int maxBytes = 4096);

    bool ok() const noexcept { return failure.isEmpty(); }
    /** The first problem met, with the byte position where it was met. */
    const juce::String& getFailure() const noexcept { return failure; }
    void fail (const juce::String& problem);

    juce::int64 getPosition() const { return input.getPosition(); }
    bool isExhausted() const { return input.isExhausted(); }
    /** Bytes left in the stream (0 when unknown). */
    juce::int64 getRemaining() const;

private:
    bool readExactly (void* dest, int numBytes, const char* what);

    juce::InputStream& input;
    juce::String failure;
};

class ProjectStreamWriter
{
public:
    explicit ProjectStreamWriter (juce::OutputStream& output) : output (output) {}

    void writeInt (juce::int32 v) { ok = output.writeInt (v) && ok; }
    void writeFloat (float v) { ok = output.writeFloat (v) && ok; }
    void writeBool (bool v) { ok = output.writeByte (v ? 1 : 0) && ok; }
    void writeByte (juce::uint8 v) { ok = output.writeByte ((char) v) && ok; }
    void writeString (const juce::String& s) { ok = output.writeString (s) && ok; }
    bool wasOk() const noexcept { return ok; }

private:
    juce::OutputStream& output;
    bool ok = true;
};

} // namespace kalder

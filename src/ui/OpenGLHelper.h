#pragma once

#include "display/FocusArea.h"
#include "display/Spectrogram.h"

#include <juce_opengl/juce_opengl.h>

#include <array>
#include <map>
#include <vector>

namespace kalder
{

/**
    Draws a spectrogram's chunks through OpenGL: each chunk is a quad with two 512 x 512
    textures (the colours, and the selection as one byte per pixel), drawn by one shader
    program under the focus area's view. The fragment shader shades the selection by the
    selection volume: with a selection, unselected pixels at 0.5 + 0.5 x (1 - volume) of
    their brightness and fully selected ones at 0.5 + 0.5 x volume (a selection texel of
    0.1 or less counts as unselected); without one, everything at 92 %.

    Textures are kept per chunk and uploaded again only when the chunk's version changed,
    so a frame that only scrolls or zooms uploads nothing; at most maxTextures chunks keep
    textures, those unused longest are kept for new chunks (a few) or deleted. A frame
    uploads chunks for at most uploadMsPerFrame (at least one, at most
    maxUploadsPerFrame), as the window waits for a frame that paints components too;
    hasPendingUploads() says the view should draw another frame for the rest.

    Threading: the OpenGL thread only (newContext, render, release); the chunks it reads
    are immutable and the spectrogram's getters are thread-safe.
*/
class OpenGLHelper
{
public:
    static constexpr int maxTextures = 160; // as many as the spectrogram keeps chunks by default
    static constexpr int maxUploadsPerFrame = 16;
    static constexpr double uploadMsPerFrame = 4.0; // a chunk into new storage takes about 3 ms in software
    static constexpr size_t maxSpareTextures = 16;  // let go by a scroll, refilled by the next new chunks

    /** What one frame shows. */
    struct Frame
    {
        FocusArea::Rect focus;
        int viewWidth = 0, viewHeight = 0;
        double renderingScale = 1.0;
        float selectionVolume = 0.5f;
        bool hasSelection = false;
        juce::uint64 generation = 0; // changes with the track: every texture is dropped
    };

    /** Compiles the program; false (and nothing is drawn) when the context cannot. */
    bool newContext (juce::OpenGLContext& context);

    /** Draws one frame; false when nothing could be drawn (no program). */
    bool render (juce::OpenGLContext& context, const Spectrogram& spectrogram, const Frame& frame);

    void release (juce::OpenGLContext& context);

    /** Paints once through the context's component painting into a small buffer (and
        with helper's program when given), so that a driver compiles their programs now
        rather than in a frame that holds the window. OpenGL thread. */
    static void warmUpPainting (juce::OpenGLContext& context, OpenGLHelper* helper);

    /** Draws one small quad with the program into the current target, so that a driver
        that compiles a program on its first draw does so now rather than in a frame. */
    void warmUp (juce::OpenGLContext& context);

    bool hasProgram() const noexcept { return program != nullptr; }
    const juce::String& getCompileError() const noexcept { return compileError; }

    /** Frames drawn so far; with finishFrames each frame waits for the card to finish
        (benchmarks: a frame's time then includes its drawing). */
    juce::uint64 getNumFrames() const noexcept { return framesDrawn.load(); }
    void setFinishFrames (bool shouldFinish) noexcept { finishFrames = shouldFinish; }

    /** Chunk uploads so far, and the chunks drawn by the last frame (tests, benchmarks). */
    juce::uint64 getNumUploads() const noexcept { return uploads.load(); }
    int getChunksDrawn() const noexcept { return drawn.load(); }
    int getNumTextures() const noexcept { return (int) textures.size(); }
    /** Whether the last frame left chunks it had not uploaded yet. */
    bool hasPendingUploads() const noexcept { return uploadsPending.load(); }

private:
    struct Texture
    {
        GLuint image = 0, selection = 0;
        bool hasStorage = false; // both hold a chunk's worth already
        juce::uint64 version = 0;
        juce::uint64 lastUsed = 0;
    };

    /** The chunk's texture, uploaded if it is new or changed and uploads are left;
        nullptr when it has none yet. */
    Texture* textureFor (juce::OpenGLContext&, const Spectrogram::Chunk& chunk, int& uploadsLeft, double uploadsUntil);
    void dropTextures (juce::OpenGLContext&, bool all);

    struct Attributes
    {
        GLint position = -1, texCoord = -1;
    };
    static constexpr int verticesPerQuad = 6;
    /** Uses the program with a view (x, y, width, height in fractions of the image) and
        binds the vertex buffer to its attributes; false when the program lacks them. */
    bool bindProgram (const std::array<float, 4>& view, float selectionVolume, bool hasSelection, Attributes& attributes);
    static void unbindProgram (const Attributes& attributes);
    static void appendQuad (std::vector<float>& vertices, float left, float top, float right, float bottom);
    /** Uploads the quads' vertices at once and draws each with its two textures. */
    static void drawQuads (const std::vector<float>& vertices, const std::vector<std::pair<GLuint, GLuint>>& quadTextures);

    std::unique_ptr<juce::OpenGLShaderProgram> program;
    juce::String compileError;
    GLuint vertexBuffer = 0;
    std::map<int, Texture> textures;
    std::vector<Texture> spare;
    std::vector<float> vertices; // a frame's quads, kept between frames for their storage
    std::vector<std::pair<GLuint, GLuint>> quadTextures;
    std::vector<juce::uint32> staging; // a chunk's texels as the driver takes them
    juce::uint64 frameCount = 0, generation = 0;
    std::atomic<juce::uint64> uploads { 0 };
    std::atomic<int> drawn { 0 };
    std::atomic<juce::uint64> framesDrawn { 0 };
    std::atomic<bool> finishFrames { false }, uploadsPending { false };
};

/**
    Loads the OpenGL driver and compiles the painting's programs soon after the window
    first shows, so that the spectral editor's first appearance (while a song is being
    analysed, on a busy machine) does not wait for them: a software driver takes more
    than 100 ms to load, on the message thread, the first time a context is made. A 1 x 1
    child of the window, hidden but for the moment it makes a context, draws one frame
    and goes.

    Threading: message thread (its renderer on the OpenGL thread).
*/
class OpenGLWarmUp : public juce::Component, private juce::OpenGLRenderer, private juce::Timer
{
public:
    static constexpr int delayMs = 300;     // after the window shows: not in the start-up's first paint
    static constexpr int patienceMs = 5000; // for the first frame

    OpenGLWarmUp();
    ~OpenGLWarmUp() override;

    /** Whether it is over (its frame drawn, given up, or no OpenGL wanted): it is
        hidden from then on. */
    bool isDone() const noexcept { return done.load(); }

    /** Ends it now. Call before another OpenGL view shows: the render thread the
        contexts share must never render one while the other is shut down on the
        message thread (the software driver crashed on it). */
    void stop();

private:
    void timerCallback() override;
    void newOpenGLContextCreated() override;
    void renderOpenGL() override;
    void openGLContextClosing() override {}

    juce::OpenGLContext context;
    bool attached = false;
    std::atomic<bool> drawn { false }, done { false };
};

} // namespace kalder

#include "OpenGLHelper.h"

namespace kalder
{

using namespace juce::gl;

namespace
{
    // Positions are fractions of the whole image (x from the start, y from the top);
    // view holds the visible rectangle's start and size in the same fractions.
    const char* const vertexShader = R"(
attribute vec2 position;
attribute vec2 textureCoordIn;
uniform vec4 view;
varying vec2 textureCoordOut;
void main()
{
    vec2 p = (position - view.xy) / view.zw;
    gl_Position = vec4 (p.x * 2.0 - 1.0, 1.0 - p.y * 2.0, 0.0, 1.0);
    textureCoordOut = textureCoordIn;
}
)";

    const char* const fragmentShader = R"(
varying vec2 textureCoordOut;
uniform sampler2D texSpectrogram;
uniform sampler2D texSelection;
uniform float selectionVolume;
uniform float hasSelection;
void main()
{
    vec4 colour = texture2D (texSpectrogram, textureCoordOut);
    if (hasSelection > 0.5)
    {
        float s = texture2D (texSelection, textureCoordOut).r;
        float m = 1.0 - selectionVolume;
        if (s > 0.1)
            m = 0.5 + s * (selectionVolume - 0.5);
        m = 0.5 + 0.5 * m;
        colour.rgb *= m;
    }
    else
    {
        colour.rgb *= 0.92;
    }
    gl_FragColor = colour;
}
)";

    constexpr int n = Spectrogram::chunkSize;

    GLuint makeTexture()
    {
        GLuint t = 0;
        glGenTextures (1, &t);
        glBindTexture (GL_TEXTURE_2D, t);
        glTexParameteri (GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri (GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexParameteri (GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri (GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        return t;
    }
} // namespace

bool OpenGLHelper::newContext (juce::OpenGLContext& context)
{
    program.reset();
    textures.clear(); // the old context's names are gone with it
    auto p = std::make_unique<juce::OpenGLShaderProgram> (context);
    if (! p->addVertexShader (juce::OpenGLHelpers::translateVertexShaderToV3 (vertexShader))
        || ! p->addFragmentShader (juce::OpenGLHelpers::translateFragmentShaderToV3 (fragmentShader)) || ! p->link())
    {
        compileError = p->getLastError();
        return false;
    }
    program = std::move (p);
    glGenBuffers (1, &vertexBuffer);
    return true;
}

void OpenGLHelper::warmUpPainting (juce::OpenGLContext& context, OpenGLHelper* helper)
{
    // A software renderer takes more than 100 ms over the programs of the component
    // painting: painting once into a small buffer compiles them (and its shader cache
    // keeps them for the next context).
    juce::OpenGLFrameBuffer buffer;
    if (! buffer.initialise (context, 16, 16))
        return;
    if (auto painting = juce::createOpenGLGraphicsContext (context, buffer))
    {
        juce::Graphics g (*painting);
        const juce::Image image (juce::Image::ARGB, 4, 4, true);
        g.fillAll (juce::Colours::black);
        g.setColour (juce::Colours::white);
        g.fillRect (1, 1, 2, 8);
        g.drawImageAt (image, 0, 0);
        g.setGradientFill (juce::ColourGradient (juce::Colours::red, 0, 0, juce::Colours::blue, 16, 16, false));
        g.fillEllipse (0.0f, 0.0f, 16.0f, 16.0f);
        g.drawText ("0", 0, 0, 16, 16, juce::Justification::centred);
    }
    if (helper != nullptr && buffer.makeCurrentRenderingTarget())
    {
        helper->warmUp (context);
        buffer.releaseAsRenderingTarget();
    }
    glFinish();
}

//==============================================================================
OpenGLWarmUp::OpenGLWarmUp()
{
    setInterceptsMouseClicks (false, false);
    setOpaque (true);
    setAccessible (false);
    setVisible (false); // shown only while its context is made
    if (juce::SystemStats::getEnvironmentVariable ("KALDER_NO_OPENGL", {}).isEmpty())
        startTimer (delayMs);
    else
        done = true;
}

OpenGLWarmUp::~OpenGLWarmUp()
{
    stop();
}

void OpenGLWarmUp::timerCallback()
{
    if (! attached)
    {
        if (getParentComponent() == nullptr || ! getParentComponent()->isShowing())
            return; // until the window is on screen
        attached = true;
        setVisible (true);
        context.setRenderer (this);
        context.setComponentPaintingEnabled (false); // its frames never hold the window
        context.attachTo (*this);
        startTimer (patienceMs); // a display without OpenGL never draws a frame
        return;
    }
    stop();
}

void OpenGLWarmUp::stop()
{
    stopTimer();
    if (attached)
        context.detach();
    attached = false;
    setVisible (false);
    done = true;
}

void OpenGLWarmUp::newOpenGLContextCreated()
{
    OpenGLHelper::warmUpPainting (context, nullptr);
}

void OpenGLWarmUp::renderOpenGL()
{
    juce::OpenGLHelpers::clear (juce::Colours::black);
    if (drawn.exchange (true))
        return;
    juce::Component::SafePointer<OpenGLWarmUp> safe (this);
    juce::MessageManager::callAsync ([safe] {
        if (safe != nullptr && ! safe->done.load())
            safe->stop();
    });
}

bool OpenGLHelper::bindProgram (const std::array<float, 4>& view, float selectionVolume, bool hasSelection,
                                Attributes& attributes)
{
    program->use();
    const auto id = program->getProgramID();
    attributes = { glGetAttribLocation (id, "position"), glGetAttribLocation (id, "textureCoordIn") };
    if (attributes.position < 0 || attributes.texCoord < 0)
        return false;
    glUniform4f (glGetUniformLocation (id, "view"), view[0], view[1], view[2], view[3]);
    glUniform1i (glGetUniformLocation (id, "texSpectrogram"), 0);
    glUniform1i (glGetUniformLocation (id, "texSelection"), 1);
    glUniform1f (glGetUniformLocation (id, "selectionVolume"), juce::jlimit (0.0f, 1.0f, selectionVolume));
    glUniform1f (glGetUniformLocation (id, "hasSelection"), hasSelection ? 1.0f : 0.0f);
    glBindBuffer (GL_ARRAY_BUFFER, vertexBuffer);
    glEnableVertexAttribArray ((GLuint) attributes.position);
    glEnableVertexAttribArray ((GLuint) attributes.texCoord);
    glVertexAttribPointer ((GLuint) attributes.position, 2, GL_FLOAT, GL_FALSE, 4 * sizeof (float), nullptr);
    glVertexAttribPointer ((GLuint) attributes.texCoord, 2, GL_FLOAT, GL_FALSE, 4 * sizeof (float),
                           (const void*) (2 * sizeof (float)));
    return true;
}

void OpenGLHelper::unbindProgram (const Attributes& attributes)
{
    glActiveTexture (GL_TEXTURE0);
    glDisableVertexAttribArray ((GLuint) attributes.position);
    glDisableVertexAttribArray ((GLuint) attributes.texCoord);
    glBindBuffer (GL_ARRAY_BUFFER, 0);
}

void OpenGLHelper::drawQuads (const std::vector<float>& vertices, const std::vector<std::pair<GLuint, GLuint>>& quadTextures)
{
    // One upload for the frame's quads: replacing a buffer that an earlier draw of the same
    // frame still reads makes a driver wait for that draw.
    glBufferData (GL_ARRAY_BUFFER, (GLsizeiptr) (vertices.size() * sizeof (float)), vertices.data(), GL_STREAM_DRAW);
    for (size_t i = 0; i < quadTextures.size(); ++i)
    {
        glActiveTexture (GL_TEXTURE0);
        glBindTexture (GL_TEXTURE_2D, quadTextures[i].first);
        glActiveTexture (GL_TEXTURE1);
        glBindTexture (GL_TEXTURE_2D, quadTextures[i].second);
        glDrawArrays (GL_TRIANGLES, (GLint) (i * verticesPerQuad), verticesPerQuad);
    }
}

void OpenGLHelper::appendQuad (std::vector<float>& vertices, float left, float top, float right, float bottom)
{
    // Two triangles: position (fractions of the image) and texture coordinate per vertex.
    const float quad[] = { left, bottom, 0.0f, 0.0f, right, bottom, 1.0f, 0.0f, right, top, 1.0f, 1.0f,
                           left, bottom, 0.0f, 0.0f, right, top,    1.0f, 1.0f, left,  top, 0.0f, 1.0f };
    vertices.insert (vertices.end(), std::begin (quad), std::end (quad));
}

void OpenGLHelper::warmUp (juce::OpenGLContext&)
{
    Attributes attributes;
    if (program == nullptr || ! bindProgram ({ 0.0f, 0.0f, 1.0f, 1.0f }, 0.5f, true, attributes))
        return;
    const std::uint8_t texel[] = { 0, 0, 0 };
    GLuint textures[] = { makeTexture(), makeTexture() };
    glPixelStorei (GL_UNPACK_ALIGNMENT, 1);
    glBindTexture (GL_TEXTURE_2D, textures[0]);
    glTexImage2D (GL_TEXTURE_2D, 0, GL_RGB, 1, 1, 0, GL_RGB, GL_UNSIGNED_BYTE, texel);
    glBindTexture (GL_TEXTURE_2D, textures[1]);
    glTexImage2D (GL_TEXTURE_2D, 0, GL_LUMINANCE, 1, 1, 0, GL_LUMINANCE, GL_UNSIGNED_BYTE, texel);
    vertices.clear();
    appendQuad (vertices, 0.0f, 0.0f, 1.0f, 1.0f);
    drawQuads (vertices, { { textures[0], textures[1] } });
    unbindProgram (attributes);
    glDeleteTextures (2, textures);
}

void OpenGLHelper::release (juce::OpenGLContext& context)
{
    dropTextures (context, true);
    if (vertexBuffer != 0)
        glDeleteBuffers (1, &vertexBuffer);
    vertexBuffer = 0;
    program.reset();
}

void OpenGLHelper::dropTextures (juce::OpenGLContext&, bool all)
{
    // Least recently used first, down to the limit (or all of them).
    while (! textures.empty() && (all || (int) textures.size() > maxTextures))
    {
        auto oldest = textures.begin();
        for (auto it = textures.begin(); it != textures.end(); ++it)
            if (it->second.lastUsed < oldest->second.lastUsed)
                oldest = it;
        // Kept for the next new chunk unless all go: filling fresh texture storage took
        // the software driver about 3 ms a chunk here, refilling storage 0.07 ms.
        if (all || spare.size() >= maxSpareTextures)
        {
            glDeleteTextures (1, &oldest->second.image);
            glDeleteTextures (1, &oldest->second.selection);
        }
        else
            spare.push_back (oldest->second);
        textures.erase (oldest);
    }
    if (all)
    {
        for (auto& t : spare)
        {
            glDeleteTextures (1, &t.image);
            glDeleteTextures (1, &t.selection);
        }
        spare.clear();
    }
}

OpenGLHelper::Texture* OpenGLHelper::textureFor (juce::OpenGLContext&, const Spectrogram::Chunk& chunk, int& uploadsLeft,
                                                 double uploadsUntil)
{
    auto it = textures.find (chunk.index);
    if (it == textures.end() || it->second.version != chunk.version)
    {
        const bool first = uploadsLeft == maxUploadsPerFrame;
        if (uploadsLeft <= 0 || (! first && juce::Time::getMillisecondCounterHiRes() > uploadsUntil))
            return it != textures.end() ? &it->second : nullptr; // the old pixels, until its turn
        --uploadsLeft;
        auto& t = textures[chunk.index];
        if (t.image == 0 && ! spare.empty())
        {
            t = spare.back();
            spare.pop_back();
        }
        if (t.image == 0)
        {
            t.image = makeTexture();
            t.selection = makeTexture();
        }
        // As four bytes a texel in the order drivers keep them (as JUCE's own textures
        // are), not three bytes that a driver converts texel by texel.
        staging.resize (chunk.pixels.size());
        for (size_t i = 0; i < staging.size(); ++i)
        {
            const auto& p = chunk.pixels[i];
            staging[i] = 0xff000000u | ((juce::uint32) p.r << 16) | ((juce::uint32) p.g << 8) | p.b;
        }
        glPixelStorei (GL_UNPACK_ALIGNMENT, 1);
        // Storage is made once a texture; later uploads refill it.
        const auto fill = [&] (GLuint texture, GLenum internalFormat, GLenum format, const void* data) {
            glBindTexture (GL_TEXTURE_2D, texture);
            if (t.hasStorage)
                glTexSubImage2D (GL_TEXTURE_2D, 0, 0, 0, n, n, format, GL_UNSIGNED_BYTE, data);
            else
                glTexImage2D (GL_TEXTURE_2D, 0, (GLint) internalFormat, n, n, 0, format, GL_UNSIGNED_BYTE, data);
        };
        fill (t.image, GL_RGBA, GL_BGRA_EXT, staging.data());
        // One byte a texel, read back as red (luminance works on every version).
        fill (t.selection, GL_LUMINANCE, GL_LUMINANCE, chunk.selected.data());
        t.hasStorage = true;
        t.version = chunk.version;
        ++uploads;
        it = textures.find (chunk.index);
    }
    it->second.lastUsed = frameCount;
    return &it->second;
}

bool OpenGLHelper::render (juce::OpenGLContext& context, const Spectrogram& spectrogram, const Frame& frame)
{
    ++frameCount;
    if (frame.generation != generation)
    {
        dropTextures (context, true);
        generation = frame.generation;
    }
    const auto w = (int) std::lround (frame.viewWidth * frame.renderingScale),
               h = (int) std::lround (frame.viewHeight * frame.renderingScale);
    glViewport (0, 0, w, h);
    juce::OpenGLHelpers::clear (juce::Colours::black);
    drawn = 0;
    const auto iw = spectrogram.getImageWidth(), ih = spectrogram.getImageHeight();
    if (program == nullptr || iw <= 0 || ih <= 0 || w <= 0 || h <= 0)
        return program != nullptr;

    const auto& f = frame.focus;
    const auto x0 = f.centreX - f.width / 2.0, y0 = f.centreY - f.height / 2.0;
    const juce::Range<int> frames ((int) std::floor (x0 * iw), (int) std::ceil ((x0 + f.width) * iw));
    const juce::Range<int> rows ((int) std::floor ((1.0 - y0 - f.height) * ih), (int) std::ceil ((1.0 - y0) * ih));

    Attributes attributes;
    if (! bindProgram ({ (float) x0, (float) y0, (float) f.width, (float) f.height }, frame.selectionVolume, frame.hasSelection,
                       attributes))
        return false;

    const auto level = Spectrogram::levelFor (frames.getLength(), frame.viewWidth);
    int count = 0, uploadsLeft = maxUploadsPerFrame;
    const auto uploadsUntil = juce::Time::getMillisecondCounterHiRes() + uploadMsPerFrame;
    bool pending = false;
    vertices.clear();
    quadTextures.clear();
    for (const auto& chunk : spectrogram.getChunksToDraw (frames, rows, level))
    {
        // Uploads for a few milliseconds a frame, so that a whole view of new chunks does
        // not hold the window for one long frame: the rest follow in the next frames (an
        // older texture of the chunk is drawn meanwhile).
        auto* t = textureFor (context, *chunk, uploadsLeft, uploadsUntil);
        if (t == nullptr)
        {
            pending = true;
            continue;
        }
        pending = pending || t->version != chunk->version;
        // The chunk's corners in fractions of the image; its first row is the bottom one.
        const auto span = spectrogram.framesOf (chunk->index);
        const auto row = spectrogram.rowOf (chunk->index);
        appendQuad (vertices, (float) span.getStart() / (float) iw, 1.0f - (float) (row + 1) * n / (float) ih,
                    (float) span.getEnd() / (float) iw, 1.0f - (float) row * n / (float) ih);
        quadTextures.emplace_back (t->image, t->selection);
        ++count;
    }
    drawQuads (vertices, quadTextures);
    uploadsPending = pending;
    unbindProgram (attributes);
    drawn = count;
    dropTextures (context, false);
    if (finishFrames.load())
        glFinish();
    ++framesDrawn;
    return true;
}

} // namespace kalder

#include "FFmpegAudioFormat.h"

extern "C"
{
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/intreadwrite.h>
#include <libavutil/log.h>
#include <libswresample/swresample.h>
}

#include <cstring>
#include <vector>

namespace kalder
{

const char* const FFmpegAudioFormat::formatName = "FFmpeg file";

namespace
{

    // Size of the buffer through which FFmpeg reads the juce::InputStream.
    constexpr int ioBufferSize = 64 * 1024;

    // Upper bound on the samples one decoded frame may hold (per channel). Real codecs
    // stay far below (AAC 1024/2048, MP3 1152, Vorbis 8192, FLAC 65535); the bound keeps
    // a corrupt header from making the decoder allocate gigabytes.
    constexpr int maxSamplesPerFrame = 1 << 18;

    // How far short of the announced length the decoded stream may end before reading
    // fails as truncated: encoders' end padding is not always declared, and one or two
    // frames of it are normal.
    constexpr juce::int64 minEndTolerance = 8192;

    // Packets that fail to decode are replaced by silence; beyond this many, plus one in
    // every hundred packets read, the stream counts as corrupt.
    constexpr int baseDecodeErrorAllowance = 4;
    constexpr int decodeErrorsPerHundredPackets = 1;

    //==============================================================================
    /** Holds FFmpeg's objects for one pass through a stream and frees them. */
    struct DemuxState
    {
        AVIOContext* io = nullptr;
        AVFormatContext* format = nullptr;
        AVCodecContext* codec = nullptr;
        SwrContext* resampler = nullptr;
        AVPacket* packet = nullptr;
        AVFrame* frame = nullptr;
        int streamIndex = -1;

        // What the resampler is currently configured to take in.
        int resamplerInFormat = -1;
        int resamplerInRate = 0;
        AVChannelLayout resamplerInLayout {};

        DemuxState() = default;
        ~DemuxState() { release(); }

        void release()
        {
            av_frame_free (&frame);
            av_packet_free (&packet);
            swr_free (&resampler);
            av_channel_layout_uninit (&resamplerInLayout);
            avcodec_free_context (&codec);
            avformat_close_input (&format);

            if (io != nullptr)
            {
                av_freep (&io->buffer);
                avio_context_free (&io);
            }

            streamIndex = -1;
            resamplerInFormat = -1;
            resamplerInRate = 0;
        }

        JUCE_DECLARE_NON_COPYABLE (DemuxState)
    };

    int readFromStream (void* opaque, uint8_t* buffer, int size)
    {
        auto* stream = static_cast<juce::InputStream*> (opaque);
        const auto numRead = stream->read (buffer, size);
        return numRead > 0 ? numRead : AVERROR_EOF;
    }

    int64_t seekInStream (void* opaque, int64_t offset, int whence)
    {
        auto* stream = static_cast<juce::InputStream*> (opaque);
        const auto total = stream->getTotalLength();

        switch (whence & ~AVSEEK_FORCE)
        {
            case AVSEEK_SIZE:
                return total >= 0 ? total : AVERROR (ENOSYS);
            case SEEK_SET:
                break;
            case SEEK_CUR:
                offset += stream->getPosition();
                break;
            case SEEK_END:
                if (total < 0)
                    return AVERROR (ENOSYS);
                offset += total;
                break;
            default:
                return AVERROR (EINVAL);
        }

        if (offset < 0 || ! stream->setPosition (offset))
            return AVERROR (EIO);

        return stream->getPosition();
    }

    bool isIntegerFormat (AVSampleFormat format)
    {
        switch (av_get_packed_sample_fmt (format))
        {
            case AV_SAMPLE_FMT_U8:
            case AV_SAMPLE_FMT_S16:
            case AV_SAMPLE_FMT_S32:
            case AV_SAMPLE_FMT_S64:
                return true;
            default:
                return false;
        }
    }

    /** Copies src into dst, replacing a layout without channel order by the default
        layout of its channel count (the resampler needs an order to map channels). */
    void copyOrderedLayout (AVChannelLayout& dst, const AVChannelLayout& src)
    {
        av_channel_layout_uninit (&dst);
        if (src.order == AV_CHANNEL_ORDER_UNSPEC || av_channel_layout_copy (&dst, &src) < 0)
            av_channel_layout_default (&dst, src.nb_channels);
    }

    /** True for demuxers whose packet durations, less the skip and discard counts
        they attach, add up to exactly what the decoder delivers. */
    bool hasReliableDurations (const AVInputFormat& demuxer)
    {
        static const juce::StringArray reliable { "mov", "mp4", "m4a",  "3gp", "3g2",  "mj2", "mp3",
                                                  "wav", "w64", "aiff", "caf", "flac", "au" };
        for (const auto& name : juce::StringArray::fromTokens (demuxer.name, ",", {}))
            if (reliable.contains (name))
                return true;
        return false;
    }

    //==============================================================================
    class FFmpegReader final : public juce::AudioFormatReader
    {
    public:
        explicit FFmpegReader (juce::InputStream* source) : juce::AudioFormatReader (source, FFmpegAudioFormat::formatName) {}

        ~FFmpegReader() override { av_channel_layout_uninit (&outLayout); }

        /** Opens the stream, scans its packets for the length and rewinds. */
        bool open()
        {
            if (! openStream())
                return false;

            const auto scanned = scanLength();
            if (scanned < 0 || ! rewind())
                return false;

            // A container whose header announces clearly more than its packets hold
            // was cut short: announce the header's length, so that reading fails
            // where the packets end instead of passing the file off as shorter.
            lengthInSamples = juce::jmax (scanned, declaredLength (scanned));
            return lengthInSamples > 0;
        }

        bool readSamples (int* const* destChannels, int numDestChannels, int startOffsetInDestBuffer,
                          juce::int64 startSampleInFile, int numSamples) override
        {
            clearSamplesBeyondAvailableLength (destChannels, numDestChannels, startOffsetInDestBuffer, startSampleInFile,
                                               numSamples, lengthInSamples);
            if (numSamples <= 0)
                return true;

            if (startSampleInFile < fifoPosition && ! rewind())
            {
                clear (destChannels, numDestChannels, startOffsetInDestBuffer, numSamples);
                return false;
            }

            while (numSamples > 0)
            {
                if (fifoCount == 0 && ! decodeMore())
                {
                    // The stream ended before the announced length: silence for the rest,
                    // and a failure unless the shortfall is ordinary end padding.
                    clear (destChannels, numDestChannels, startOffsetInDestBuffer, numSamples);
                    const auto shortfall = lengthInSamples - fifoPosition;
                    return ! fatalError && shortfall <= endTolerance && ! tooManyErrors();
                }

                if (fifoPosition < startSampleInFile)
                {
                    consume ((int) juce::jmin ((juce::int64) fifoCount, startSampleInFile - fifoPosition));
                    continue;
                }

                const auto n = juce::jmin (fifoCount, numSamples);
                for (int c = 0; c < numDestChannels; ++c)
                {
                    if (destChannels[c] == nullptr)
                        continue;

                    auto* dest = destChannels[c] + startOffsetInDestBuffer;
                    if (c < (int) numChannels)
                        std::memcpy (dest, fifo[(size_t) c].data() + fifoStart, (size_t) n * sizeof (int));
                    else
                        std::memset (dest, 0, (size_t) n * sizeof (int));
                }

                consume (n);
                startOffsetInDestBuffer += n;
                startSampleInFile += n;
                numSamples -= n;
            }

            return ! tooManyErrors();
        }

    private:
        //==============================================================================
        bool openStream()
        {
            state.release();
            if (! input->setPosition (0))
                return false;

            auto* ioBuffer = static_cast<unsigned char*> (av_malloc (ioBufferSize));
            if (ioBuffer == nullptr)
                return false;

            state.io = avio_alloc_context (ioBuffer, ioBufferSize, 0, input, readFromStream, nullptr, seekInStream);
            if (state.io == nullptr)
            {
                av_free (ioBuffer);
                return false;
            }

            state.format = avformat_alloc_context();
            if (state.format == nullptr)
                return false;

            state.format->pb = state.io;
            state.format->flags |= AVFMT_FLAG_CUSTOM_IO;

            // avformat_open_input frees the context itself when it fails.
            if (avformat_open_input (&state.format, nullptr, nullptr, nullptr) < 0)
                return false;

            if (avformat_find_stream_info (state.format, nullptr) < 0)
                return false;

            const AVCodec* decoder = nullptr;
            state.streamIndex = av_find_best_stream (state.format, AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
            if (state.streamIndex < 0 || decoder == nullptr)
                return false;

            auto* stream = state.format->streams[state.streamIndex];
            state.codec = avcodec_alloc_context3 (decoder);
            if (state.codec == nullptr || avcodec_parameters_to_context (state.codec, stream->codecpar) < 0)
                return false;

            state.codec->pkt_timebase = stream->time_base;
            state.codec->max_samples = maxSamplesPerFrame;

            if (avcodec_open2 (state.codec, decoder, nullptr) < 0)
                return false;

            for (unsigned int i = 0; i < state.format->nb_streams; ++i)
                if ((int) i != state.streamIndex)
                    state.format->streams[i]->discard = AVDISCARD_ALL;

            state.packet = av_packet_alloc();
            state.frame = av_frame_alloc();
            if (state.packet == nullptr || state.frame == nullptr)
                return false;

            const auto channels = state.codec->ch_layout.nb_channels;
            const auto rate = state.codec->sample_rate;
            if (channels <= 0 || rate <= 0)
                return false;

            if (numChannels == 0)
            {
                // First opening: this fixes the reader's format for good; a stream that
                // later changes its layout or rate is converted to it.
                numChannels = (unsigned int) channels;
                sampleRate = rate;
                copyOrderedLayout (outLayout, state.codec->ch_layout);
                usesFloatingPointData = ! isIntegerFormat (state.codec->sample_fmt);
                const auto rawBits = stream->codecpar->bits_per_raw_sample;
                bitsPerSample = rawBits > 0
                                    ? (unsigned int) juce::jmin (rawBits, 32)
                                    : (unsigned int) juce::jmin (av_get_bytes_per_sample (state.codec->sample_fmt) * 8, 32);
                if (bitsPerSample == 0)
                    bitsPerSample = 32;
                if (usesFloatingPointData)
                    bitsPerSample = 32;

                fifo.resize (numChannels);
                // Frame size is the codec's usual frame, or a generous guess when unknown.
                endTolerance = juce::jmax (minEndTolerance, (juce::int64) state.codec->frame_size * 2);
            }

            fifoStart = 0;
            fifoCount = 0;
            fifoPosition = 0;
            flushedDecoder = false;
            flushedResampler = false;
            return true;
        }

        bool rewind()
        {
            decodeErrors = 0;
            packetsRead = 0;
            fatalError = false;
            return openStream();
        }

        /** Reads every packet of the stream once and adds up their durations, less the
            samples the container asks the decoder to skip or discard. Returns -1 when
            the packets carry no durations: the length is then counted by decoding. */
        juce::int64 scanLength()
        {
            auto* stream = state.format->streams[state.streamIndex];
            const AVRational sampleTimeBase { 1, (int) sampleRate };
            juce::int64 total = 0;
            bool durationsKnown = true;

            while (av_read_frame (state.format, state.packet) >= 0)
            {
                if (state.packet->stream_index == state.streamIndex && (state.packet->flags & AV_PKT_FLAG_DISCARD) == 0)
                {
                    if (state.packet->duration <= 0)
                        durationsKnown = false;

                    // A corrupt duration counts no more than the largest frame.
                    total += juce::jlimit (
                        (juce::int64) 0, (juce::int64) maxSamplesPerFrame,
                        (juce::int64) av_rescale_q (state.packet->duration, stream->time_base, sampleTimeBase));

                    // The samples to skip may reach beyond this packet (an MPEG-2 MP3's
                    // 1105 samples of delay span two 576-sample frames): they come off
                    // the total, not off this packet alone.
                    size_t sideSize = 0;
                    if (const auto* skip = av_packet_get_side_data (state.packet, AV_PKT_DATA_SKIP_SAMPLES, &sideSize);
                        skip != nullptr && sideSize >= 8)
                        total -= (juce::int64) AV_RL32 (skip) + (juce::int64) AV_RL32 (skip + 4);
                }

                av_packet_unref (state.packet);
            }

            // Durations count whole samples only when the stream's time base divides
            // a sample period (Matroska's millisecond clock does not), and they mean
            // the same thing only in some containers: MP4 and MP3 give whole frames
            // and declare the padding apart, while Ogg shortens the last packet's
            // duration and declares the padding as well. Elsewhere, count by decoding.
            const auto ticksPerSample = (juce::int64) stream->time_base.num * (juce::int64) sampleRate;
            const auto exactTimeBase = ticksPerSample > 0 && stream->time_base.den % ticksPerSample == 0;

            if (durationsKnown && exactTimeBase && total > 0 && hasReliableDurations (*state.format->iformat))
                return total;

            return countByDecoding();
        }

        /** The length the container's header gives for the stream, or 0 when it gives
            none or only an estimate from the bit rate. */
        juce::int64 declaredLength (juce::int64 scanned) const
        {
            const auto* stream = state.format->streams[state.streamIndex];
            if (stream->duration == AV_NOPTS_VALUE || stream->duration <= 0
                || state.format->duration_estimation_method == AVFMT_DURATION_FROM_BITRATE)
                return 0;

            const auto declared = (juce::int64) av_rescale_q (stream->duration, stream->time_base,
                                                              AVRational { 1, (int) sampleRate });
            return declared > scanned + endTolerance ? declared : 0;
        }

        juce::int64 countByDecoding()
        {
            if (! rewind())
                return -1;

            juce::int64 total = 0;
            while (decodeMore())
            {
                total += fifoCount;
                consume (fifoCount);
            }

            return fatalError || tooManyErrors() ? -1 : total;
        }

        //==============================================================================
        bool tooManyErrors() const noexcept
        {
            return decodeErrors > baseDecodeErrorAllowance + (int) (packetsRead * decodeErrorsPerHundredPackets / 100);
        }

        void consume (int n) noexcept
        {
            fifoStart += n;
            fifoCount -= n;
            fifoPosition += n;
            if (fifoCount == 0)
                fifoStart = 0;
        }

        void clear (int* const* destChannels, int numDestChannels, int offset, int numSamples) noexcept
        {
            for (int c = 0; c < numDestChannels; ++c)
                if (destChannels[c] != nullptr)
                    std::memset (destChannels[c] + offset, 0, (size_t) numSamples * sizeof (int));
        }

        /** Makes room for n more samples per channel after the ones still queued. */
        bool reserve (int n)
        {
            if (n < 0 || n > maxSamplesPerFrame)
                return false;

            if (fifoStart > 0 && fifoCount > 0)
                for (auto& channel : fifo)
                    std::memmove (channel.data(), channel.data() + fifoStart, (size_t) fifoCount * sizeof (int));

            fifoStart = 0;
            for (auto& channel : fifo)
                if ((int) channel.size() < fifoCount + n)
                    channel.resize ((size_t) (fifoCount + n));

            return true;
        }

        void appendSilence (juce::int64 n)
        {
            const auto count = (int) juce::jlimit ((juce::int64) 0, (juce::int64) maxSamplesPerFrame, n);
            if (count == 0 || ! reserve (count))
                return;

            for (auto& channel : fifo)
                std::memset (channel.data() + fifoCount, 0, (size_t) count * sizeof (int));

            fifoCount += count;
        }

        bool configureResampler (const AVFrame& frame)
        {
            if (state.resampler != nullptr && frame.format == state.resamplerInFormat
                && frame.sample_rate == state.resamplerInRate
                && av_channel_layout_compare (&frame.ch_layout, &state.resamplerInLayout) == 0)
                return true;

            swr_free (&state.resampler);
            AVChannelLayout inLayout {};
            copyOrderedLayout (inLayout, frame.ch_layout);

            const auto outFormat = usesFloatingPointData ? AV_SAMPLE_FMT_FLTP : AV_SAMPLE_FMT_S32P;
            const auto ok = swr_alloc_set_opts2 (&state.resampler, &outLayout, outFormat, (int) sampleRate, &inLayout,
                                                 (AVSampleFormat) frame.format, frame.sample_rate, 0, nullptr)
                                >= 0
                            && swr_init (state.resampler) >= 0;
            av_channel_layout_uninit (&inLayout);

            if (! ok)
            {
                swr_free (&state.resampler);
                return false;
            }

            state.resamplerInFormat = frame.format;
            state.resamplerInRate = frame.sample_rate;
            av_channel_layout_uninit (&state.resamplerInLayout);
            av_channel_layout_copy (&state.resamplerInLayout, &frame.ch_layout);
            return true;
        }

        /** Converts the decoded frame (or, with nullptr, what the resampler still
            holds) into the queue. */
        bool convert (const AVFrame* frame)
        {
            const auto inSamples = frame != nullptr ? frame->nb_samples : 0;
            const auto room = swr_get_out_samples (state.resampler, inSamples);
            if (room < 0 || ! reserve (room))
                return false;

            std::vector<uint8_t*> out (numChannels);
            for (size_t c = 0; c < numChannels; ++c)
                out[c] = reinterpret_cast<uint8_t*> (fifo[c].data() + fifoCount);

            const auto converted = swr_convert (state.resampler, out.data(), room,
                                                frame != nullptr ? const_cast<const uint8_t**> (frame->extended_data) : nullptr,
                                                inSamples);
            if (converted < 0)
                return false;

            fifoCount += converted;
            return true;
        }

        /** Decodes until at least one sample is queued. Returns false at the end of the
            stream or on an error after which nothing more can be decoded. */
        bool decodeMore()
        {
            while (fifoCount == 0)
            {
                if (fatalError)
                    return false;

                const auto received = avcodec_receive_frame (state.codec, state.frame);
                if (received == 0)
                {
                    const auto ok = configureResampler (*state.frame) && convert (state.frame);
                    av_frame_unref (state.frame);
                    if (! ok)
                        fatalError = true;
                    continue;
                }

                if (received == AVERROR_EOF)
                {
                    if (state.resampler == nullptr || flushedResampler)
                        return false;

                    flushedResampler = true;
                    if (! convert (nullptr))
                        fatalError = true;
                    continue;
                }

                if (received != AVERROR (EAGAIN))
                {
                    // A frame that fails to decode after its packet was accepted: count
                    // it like a bad packet and go on with the next one.
                    ++decodeErrors;
                    if (tooManyErrors())
                        fatalError = true;
                    continue;
                }

                if (flushedDecoder)
                    return false;

                if (av_read_frame (state.format, state.packet) < 0)
                {
                    flushedDecoder = true;
                    avcodec_send_packet (state.codec, nullptr);
                    continue;
                }

                if (state.packet->stream_index == state.streamIndex)
                {
                    ++packetsRead;
                    const auto sent = avcodec_send_packet (state.codec, state.packet);
                    if (sent < 0 && sent != AVERROR (EAGAIN))
                    {
                        ++decodeErrors;
                        if ((state.packet->flags & AV_PKT_FLAG_DISCARD) == 0)
                            appendSilence ((juce::int64) av_rescale_q (state.packet->duration,
                                                                       state.format->streams[state.streamIndex]->time_base,
                                                                       AVRational { 1, (int) sampleRate }));
                    }
                }

                av_packet_unref (state.packet);
            }

            return true;
        }

        //==============================================================================
        DemuxState state;
        AVChannelLayout outLayout {};

        std::vector<std::vector<int>> fifo;
        int fifoStart = 0, fifoCount = 0;
        juce::int64 fifoPosition = 0; // index in the stream of the first queued sample
        juce::int64 endTolerance = minEndTolerance;

        bool flushedDecoder = false, flushedResampler = false, fatalError = false;
        int decodeErrors = 0;
        juce::int64 packetsRead = 0;

        JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (FFmpegReader)
    };

} // namespace

//==============================================================================
FFmpegAudioFormat::FFmpegAudioFormat()
    : juce::AudioFormat (formatName,
                         { ".m4a", ".m4b",  ".mp4", ".aac", ".alac", ".caf", ".opus", ".oga", ".webm", ".mka", ".wma",
                           ".ac3", ".eac3", ".mp2", ".mpc", ".ape",  ".wv",  ".tta",  ".au",  ".amr",  ".3gp", ".dts" })
{
    // Corrupt files are ordinary input here; the reader reports them, FFmpeg need not.
    av_log_set_level (AV_LOG_QUIET);
}

FFmpegAudioFormat::~FFmpegAudioFormat() = default;

bool FFmpegAudioFormat::canHandleFile (const juce::File& fileToTest)
{
    return fileToTest.existsAsFile();
}

juce::Array<int> FFmpegAudioFormat::getPossibleSampleRates()
{
    // Rates this format is known to read well; any rate FFmpeg decodes is accepted.
    return { 8000, 11025, 16000, 22050, 32000, 44100, 48000, 88200, 96000, 176400, 192000 };
}

juce::Array<int> FFmpegAudioFormat::getPossibleBitDepths()
{
    return { 16, 24, 32 };
}

juce::AudioFormatReader* FFmpegAudioFormat::createReaderFor (juce::InputStream* sourceStream, bool deleteStreamIfOpeningFails)
{
    if (sourceStream == nullptr)
        return nullptr;

    auto reader = std::make_unique<FFmpegReader> (sourceStream);
    if (reader->open())
        return reader.release();

    if (! deleteStreamIfOpeningFails)
        reader->input = nullptr;

    return nullptr;
}

juce::AudioFormatWriter* FFmpegAudioFormat::createWriterFor (juce::OutputStream*, double, unsigned int, int,
                                                             const juce::StringPairArray&, int)
{
    return nullptr;
}

} // namespace kalder

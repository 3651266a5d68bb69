#pragma once

// The two buffers that carry audio through the partitioned convolution. The input buffer
// gathers host blocks into windows of N samples per input channel and holds their spectra; the
// output buffer holds, per output channel, a ring of P segments of N/2 samples: the segment
// being played and those played 1 .. P-1 partitions later. create/destroy run on the message
// thread; playing, appending and rotating on the audio thread; workers add into segments.

#include "PMTypes.h"

namespace PM
{
class InputDataBuffer : public ArrayOfArrays<float>
{
public:
    std::uint64_t writePos = 0;
    bool full = false;
    ArrayOfComplexVectors spectra;

    InputDataBuffer() = default;
    InputDataBuffer (unsigned long channels, unsigned long windowLength) { create (channels, windowLength); }

    void clear() override;
    void create (unsigned long channels, unsigned long windowLength) override;
    /** Appends n samples of every channel at writePos; sets full when the rows are complete. */
    void append (const float** input, unsigned long n) noexcept { append (input, rows, 0, n); }
    void append (const float** input, unsigned long offset, unsigned long n) noexcept { append (input, rows, offset, n); }
    /** As above, for a caller that has only numChannels channels (the rest, and null channels,
        are appended as silence). n is cut to what fits before the end of the rows. */
    void append (const float** input, unsigned long numChannels, unsigned long offset, unsigned long n) noexcept;
    void copy (int channel, unsigned long offset, float* destination, unsigned long n) const noexcept;
};

class OutputDataBuffer : public ArrayOfArrays<float>
{
public:
    std::uint64_t partitionLength = 0;   // H
    std::uint64_t blockLength = 0;       // B: the crossfade length
    const std::uint64_t shortFadeLength = 32;
    std::uint64_t readPos = 0;
    IndexCircularBuffer segmentOrder;
    ArrayOf<float> crossfadeIn;
    ArrayOf<float> crossfadeOut;
    ArrayOf<float> shortFadeIn;
    ArrayOf<float> shortFadeOut;
    ArrayOf<float> mixBuffer;

    OutputDataBuffer() = default;
    ~OutputDataBuffer() override { OutputDataBuffer::destroy(); }

    void create (unsigned long channels, unsigned long partitions, unsigned long segmentLength, unsigned long block);
    void destroy() override;

    /** Start of the segment played k partitions from now, in row channel. Unchecked. */
    float* getWriteBuffer (unsigned long channel, unsigned long k) noexcept
    {
        return data + channel * length + (std::uint64_t) segmentOrder.data[k] * partitionLength;
    }
    const float* currentSegment (unsigned long channel) const noexcept
    {
        return data + channel * length + (std::uint64_t) segmentOrder.data[0] * partitionLength;
    }

    /** Plays one block of B samples at readPos into every channel. */
    void feedOutput (float** output, float gain) noexcept;
    /** Plays n samples from position pos of the current segment into channels [0, numChannels)
        of output at offset; readPos becomes pos + n (0 at the segment's end). */
    void feedOutput (float** output, unsigned long numChannels, unsigned long offset, unsigned long pos,
                     unsigned long n, float gain) noexcept;
    /** One block mixed from other (fading out, read at its readPos) to this buffer (fading in,
        read from the start of its current segment). */
    void crossfadeAndFeedOutput (float** output, OutputDataBuffer& other, float gain) noexcept;
    /** n samples of the crossfade, from fade position fadePos (of blockLength) and segment
        position pos in both buffers. Needs fadePos + n <= blockLength. */
    void crossfadeAndFeedOutput (float** output, unsigned long numChannels, unsigned long offset, unsigned long pos,
                                 unsigned long n, OutputDataBuffer& other, unsigned long fadePos, float gain) noexcept;
    void feedOutputWithSilence (float** output) noexcept;
    /** Advances the ring one partition; readPos 0; clearOldest zeroes the segment just played. */
    void rotateLeftWriteBuffer (bool clearOldest) noexcept;
    void applyShortFadeIn() noexcept;
    void applyShortFadeOut() noexcept;

private:
    void mix (float** output, unsigned long numChannels, unsigned long offset, unsigned long pos, unsigned long otherPos,
              unsigned long n, OutputDataBuffer& other, unsigned long fadePos, float gain) noexcept;
};
} // namespace PM

#include "PMStreamBuffers.h"

#include <algorithm>

namespace PM
{
void InputDataBuffer::clear()
{
    ArrayOfArrays<float>::clear();
    writePos = 0;
    full = false;
}

void InputDataBuffer::create (unsigned long channels, unsigned long windowLength)
{
    ArrayOfArrays<float>::create (channels, windowLength);
    spectra.create (channels, windowLength / 2);
}

void InputDataBuffer::append (const float** input, unsigned long numChannels, unsigned long offset, unsigned long n) noexcept
{
    full = false;
    if (writePos >= length)
        writePos = 0;
    n = (unsigned long) std::min<std::uint64_t> (n, length - writePos);
    for (std::uint64_t ch = 0; ch < rows; ++ch)
    {
        float* dst = row (ch) + writePos;
        if (ch < numChannels && input != nullptr && input[ch] != nullptr)
            Dsp::copy (input[ch] + offset, dst, n);
        else
            Dsp::clear (dst, n);
    }
    writePos += n;
    if (writePos >= length)
    {
        full = true;
        writePos = 0;
    }
}

void InputDataBuffer::copy (int channel, unsigned long offset, float* destination, unsigned long n) const noexcept
{
    Dsp::copy (row ((std::uint64_t) channel) + offset, destination, n);
}

// ---------------------------------------------------------------------------------------------
void OutputDataBuffer::create (unsigned long channels, unsigned long partitions, unsigned long segmentLength,
                               unsigned long block)
{
    OutputDataBuffer::destroy();
    ArrayOfArrays<float>::create (channels, (unsigned long) detail::checkedProduct (partitions, segmentLength));
    readPos = 0;
    segmentOrder.create (partitions);
    crossfadeIn.create (block);
    crossfadeOut.create (block);
    mixBuffer.create (block);
    shortFadeIn.create ((unsigned long) shortFadeLength);
    shortFadeOut.create ((unsigned long) shortFadeLength);
    if (block != 0)
    {
        Dsp::ramp (0.0f, 1.0f, crossfadeIn.data, block);
        Dsp::ramp (1.0f, 0.0f, crossfadeOut.data, block);
        Dsp::ramp (0.0f, 1.0f, shortFadeIn.data, shortFadeLength);
        Dsp::ramp (1.0f, 0.0f, shortFadeOut.data, shortFadeLength);
    }
    partitionLength = segmentLength;
    blockLength = block;
}

void OutputDataBuffer::destroy()
{
    ArrayOfArrays<float>::destroy();
    partitionLength = 0;
    blockLength = 0;
    readPos = 0;
}

void OutputDataBuffer::feedOutput (float** output, float gain) noexcept
{
    feedOutput (output, (unsigned long) rows, 0, (unsigned long) readPos, (unsigned long) blockLength, gain);
}

void OutputDataBuffer::feedOutput (float** output, unsigned long numChannels, unsigned long offset, unsigned long pos,
                                   unsigned long n, float gain) noexcept
{
    const std::uint64_t channels = std::min<std::uint64_t> (rows, numChannels);
    for (std::uint64_t ch = 0; ch < channels; ++ch)
        if (output[ch] != nullptr)
            Dsp::scale (currentSegment ((unsigned long) ch) + pos, gain, output[ch] + offset, n);
    readPos = pos + n;
    if (readPos >= partitionLength)
        readPos = 0;
}

void OutputDataBuffer::crossfadeAndFeedOutput (float** output, OutputDataBuffer& other, float gain) noexcept
{
    mix (output, (unsigned long) rows, 0, 0, (unsigned long) other.readPos, (unsigned long) blockLength, other, 0, gain);
}

void OutputDataBuffer::crossfadeAndFeedOutput (float** output, unsigned long numChannels, unsigned long offset,
                                               unsigned long pos, unsigned long n, OutputDataBuffer& other,
                                               unsigned long fadePos, float gain) noexcept
{
    mix (output, numChannels, offset, pos, pos, n, other, fadePos, gain);
}

void OutputDataBuffer::mix (float** output, unsigned long numChannels, unsigned long offset, unsigned long pos,
                            unsigned long otherPos, unsigned long n, OutputDataBuffer& other, unsigned long fadePos,
                            float gain) noexcept
{
    const std::uint64_t channels = std::min<std::uint64_t> (rows, numChannels);
    const bool otherMatches = other.rows >= rows && other.partitionLength == partitionLength
                              && otherPos + n <= other.partitionLength;
    for (std::uint64_t ch = 0; ch < channels; ++ch)
    {
        if (output[ch] == nullptr)
            continue;
        const float* incoming = currentSegment ((unsigned long) ch) + pos;
        if (otherMatches)
        {
            Dsp::multiplyMultiplyAdd (incoming, crossfadeIn.data + fadePos,
                                      other.currentSegment ((unsigned long) ch) + otherPos, crossfadeOut.data + fadePos,
                                      mixBuffer.data, n);
            Dsp::scale (mixBuffer.data, gain, output[ch] + offset, n);
        }
        else
        {
            // Two stages of different shapes cannot be mixed sample for sample: fade in alone.
            Dsp::multiply (incoming, crossfadeIn.data + fadePos, mixBuffer.data, n);
            Dsp::scale (mixBuffer.data, gain, output[ch] + offset, n);
        }
    }
    readPos = pos + n;
    if (readPos >= partitionLength)
        readPos = 0;
}

void OutputDataBuffer::feedOutputWithSilence (float** output) noexcept
{
    for (std::uint64_t ch = 0; ch < rows; ++ch)
        if (output[ch] != nullptr)
            Dsp::clear (output[ch], blockLength);
}

void OutputDataBuffer::rotateLeftWriteBuffer (bool clearOldest) noexcept
{
    if (segmentOrder.length >= 2)
        segmentOrder.rotateLeft();
    readPos = 0;
    if (clearOldest && segmentOrder.length > 0)
        for (std::uint64_t ch = 0; ch < rows; ++ch)
            Dsp::clear (getWriteBuffer ((unsigned long) ch, (unsigned long) segmentOrder.length - 1), partitionLength);
}

void OutputDataBuffer::applyShortFadeIn() noexcept
{
    const std::uint64_t n = std::min (shortFadeLength, partitionLength - std::min (readPos, partitionLength));
    for (std::uint64_t ch = 0; ch < rows; ++ch)
    {
        float* p = getWriteBuffer ((unsigned long) ch, 0) + readPos;
        Dsp::multiply (p, shortFadeIn.data, p, n);
    }
}

void OutputDataBuffer::applyShortFadeOut() noexcept
{
    if (blockLength < shortFadeLength || readPos + blockLength > partitionLength)
        return;
    for (std::uint64_t ch = 0; ch < rows; ++ch)
    {
        float* p = getWriteBuffer ((unsigned long) ch, 0) + readPos + blockLength - shortFadeLength;
        Dsp::multiply (p, shortFadeOut.data, p, shortFadeLength);
    }
}
} // namespace PM

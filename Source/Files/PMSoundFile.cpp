#include "PMSoundFile.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace PM
{
SoundFile::SoundFile (const juce::String& filePath, int mode)
{
    open (filePath, mode);
}

SoundFile::SoundFile (const juce::File& file, int mode)
{
    open (file, mode);
}

SoundFile::~SoundFile()
{
    close();
}

SNDFILE* SoundFile::open (const char* filePath, int mode)
{
    close();
    if (mode == SFM_READ)
        info = SF_INFO {};
    handle = sf_open (filePath, mode, &info);
    if (handle != nullptr)
    {
        if (mode == SFM_READ && (info.channels < 1 || info.frames < 0))
        {
            // A header the library accepts but that describes nothing readable.
            std::snprintf (errorText, sizeof (errorText), "%s [%d]", "Invalid sound file header", SF_ERR_MALFORMED_FILE);
            sf_close (handle);
            handle = nullptr;
            return nullptr;
        }
        path = juce::File (juce::File::getCurrentWorkingDirectory().getChildFile (juce::String::fromUTF8 (filePath)));
    }
    else
    {
        std::snprintf (errorText, sizeof (errorText), "%s [%d]", sf_strerror (nullptr), sf_error (nullptr));
    }
    return handle;
}

SNDFILE* SoundFile::open (const juce::String& filePath, int mode)
{
    return open (filePath.toRawUTF8(), mode);
}

SNDFILE* SoundFile::open (const juce::File& file, int mode)
{
    return open (file.getFullPathName().toRawUTF8(), mode);
}

SNDFILE* SoundFile::open (int mode)
{
    if (path == juce::File() || ! path.exists())
        return nullptr;
    const juce::String p = path.getFullPathName();
    return open (p.toRawUTF8(), mode);
}

int SoundFile::close()
{
    if (handle == nullptr)
        return 0;
    const int result = sf_close (handle);
    handle = nullptr;
    blockFrames = 0;
    return result;
}

void SoundFile::createSamplesBlock()
{
    if ((info.frames == 0 && blockFrames == 0) || info.channels <= 0)
        return;
    samples.destroy();
    if (blockFrames == 0)
        blockFrames = info.frames;
    if (blockFrames < 0)
        throw std::bad_alloc();
    samples.create ((unsigned long) detail::checkedProduct ((std::size_t) blockFrames, (std::size_t) info.channels));
}

void SoundFile::createSamplesBlock (int channels)
{
    info.channels = channels;
    createSamplesBlock();
}

void SoundFile::deleteSamplesBlock()
{
    samples.destroy();
}

std::int64_t SoundFile::readPCMSamples()
{
    if (handle == nullptr)
        return 0;
    if (samples.data == nullptr)
        createSamplesBlock();
    if (samples.data == nullptr || blockFrames <= 0)
        return 0;
    // Never read more frames than the block holds, whatever blockFrames says.
    const std::int64_t capacity = (std::int64_t) (samples.length / (std::uint64_t) info.channels);
    return sf_readf_float (handle, samples.data, std::min (blockFrames, capacity));
}

bool SoundFile::readAllChecked (juce::String& problem)
{
    try
    {
        samples.destroy();
        blockFrames = 0;
        createSamplesBlock();
        const std::int64_t read = readPCMSamples();
        if (read != info.frames)
        {
            problem = "The file is truncated: read " + juce::String ((juce::int64) read) + " of "
                      + juce::String ((juce::int64) info.frames) + " frames.";
            return false;
        }
        if (const std::size_t bad = Dsp::countNonFinite (samples.data, samples.length))
        {
            problem = "The file holds " + juce::String ((juce::int64) bad)
                      + " sample(s) that are not finite numbers (NaN or infinity).";
            return false;
        }
    }
    catch (const std::bad_alloc&)
    {
        problem = "Not enough memory to read " + path.getFullPathName() + ".";
        return false;
    }
    return true;
}

std::int64_t SoundFile::writePCMSamples (long frames)
{
    if (handle == nullptr || samples.data == nullptr || info.channels <= 0)
        return 0;
    const std::int64_t capacity = (std::int64_t) (samples.length / (std::uint64_t) info.channels);
    std::int64_t n = frames < 0 ? blockFrames : frames;
    n = std::min (n, capacity);
    return n > 0 ? sf_writef_float (handle, samples.data, n) : 0;
}

std::int64_t SoundFile::writePCMSamples (ArrayOf<float>& data)
{
    if (handle == nullptr || data.data == nullptr)
        return 0;
    return sf_writef_float (handle, data.data, (sf_count_t) data.length);
}

std::int64_t SoundFile::seekPCMSamples (SNDFILE* h, long frames, int whence)
{
    return sf_seek (h, frames, whence);
}

void SoundFile::interleave (const float** channels, unsigned long frames)
{
    const auto nch = (std::size_t) std::max (info.channels, 0);
    for (std::size_t k = 0; k < nch; ++k)
        Dsp::stridedCopy (channels[k], 1, samples.data + k, nch, frames);
}

void SoundFile::interleave (ArrayOfArrays<float>& data, unsigned long frames)
{
    const auto nch = (std::size_t) std::max (info.channels, 0);
    for (std::size_t k = 0; k < nch; ++k)
        Dsp::stridedCopy (data.row (k), 1, samples.data + k, nch, frames);
}

void SoundFile::deinterleave (float** channels, unsigned long frames)
{
    const auto nch = (std::size_t) std::max (info.channels, 0);
    for (std::size_t k = 0; k < nch; ++k)
        Dsp::stridedCopy (samples.data + k, nch, channels[k], 1, frames);
}

void SoundFile::deinterleave (float** channels)
{
    deinterleave (channels, (unsigned long) blockFrames);
}

void SoundFile::deinterleave (ArrayOfArrays<float>& data)
{
    const auto nch = (std::size_t) std::max (info.channels, 0);
    for (std::size_t k = 0; k < nch; ++k)
        Dsp::stridedCopy (samples.data + k, nch, data.row (k), 1, (std::size_t) blockFrames);
}

int SoundFile::setTag (int id, const char* text)
{
    return handle != nullptr ? sf_set_string (handle, id, text) : -1;
}

const char* SoundFile::getTag (int id)
{
    return handle != nullptr ? sf_get_string (handle, id) : nullptr;
}

int SoundFile::getSndInfo (char* buffer, int command)
{
    return sf_command (handle, command, buffer, 8);
}

juce::String SoundFile::getTypeFormatDescription (int format, int command)
{
    SF_FORMAT_INFO formatInfo {};
    formatInfo.format = format;
    if (sf_command (nullptr, command, &formatInfo, sizeof (formatInfo)) != 0 || formatInfo.name == nullptr)
        return {};
    return juce::String::fromUTF8 (formatInfo.name);
}

juce::StringArray SoundFile::retrieveSoundFileInfo()
{
    juce::StringArray lines;
    lines.add (getTypeFormatDescription (info.format & SF_FORMAT_TYPEMASK, SFC_GET_FORMAT_INFO));
    lines.add (getTypeFormatDescription (info.format & SF_FORMAT_SUBMASK, SFC_GET_FORMAT_INFO));
    lines.add ("samples: " + juce::String ((juce::int64) info.frames));
    lines.add ("Fs: " + juce::String (info.samplerate));
    if (info.channels == 1)
        lines.add ("mono");
    else if (info.channels == 2)
        lines.add ("stereo");
    else
        lines.add (juce::String (info.channels) + " channels");
    return lines;
}

bool SoundFile::getBitDepth (SNDFILE* h, int command, char* out)
{
    char log[2048] = {};
    sf_command (h, command, log, sizeof (log));
    log[sizeof (log) - 1] = 0;
    const char* found = std::strstr (log, "Bit Width");
    if (found == nullptr)
        return false;
    std::size_t n = 0;
    while (n < 20 && found[n] != 0 && found[n] != '\n')
        ++n;
    std::memcpy (out, found, n);
    out[n] = 0;
    return true;
}

int SoundFile::calculateSndDuration (char* out, int sampleRate, int frames)
{
    const float secondsF = sampleRate > 0 ? (float) frames / (float) sampleRate : 0.0f;
    const int seconds = secondsF > 0.0f && secondsF < 2.0e9f ? (int) secondsF : 0;
    return std::snprintf (out, 32, "%02d:%02d:%02d", seconds / 3600, (seconds / 60) % 60, seconds % 60);
}

void SoundFile::Copy (const SoundFile& other)
{
    if (&other == this)
        return;
    path = other.path;
    if (handle == nullptr)
        return;
    open (other.path.getFullPathName(), SFM_READ);
    createSamplesBlock();
    const std::uint64_t n = std::min (samples.length, other.samples.length);
    Dsp::copy (other.samples.data, samples.data, n);
}

SoundFile& SoundFile::operator= (const SoundFile& other)
{
    Copy (other);
    return *this;
}
} // namespace PM

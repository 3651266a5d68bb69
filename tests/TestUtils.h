#pragma once

// Helpers shared by the tests: temporary folders, sound-file fixtures written on the fly,
// deterministic random signals and a direct time-domain convolution to compare against.

#include "Files/PMSoundFile.h"

#include <juce_core/juce_core.h>

#include <random>
#include <vector>

namespace PMTest
{
using Channels = std::vector<std::vector<float>>;

/** A fresh folder under the system temp directory, deleted with the object. */
struct TempFolder
{
    juce::File dir;
    TempFolder()
    {
        dir = juce::File::getSpecialLocation (juce::File::tempDirectory)
                  .getNonexistentChildFile ("pmtest", "", false);
        dir.createDirectory();
    }
    ~TempFolder() { dir.deleteRecursively(); }
    juce::String path (const juce::String& name) const { return dir.getChildFile (name).getFullPathName(); }
};

/** Writes channels (all equally long) as a float WAV file; returns false on failure. */
inline bool writeSoundFile (const juce::String& path, const Channels& channels, int sampleRate = 48000,
                            int format = SF_FORMAT_WAV | SF_FORMAT_FLOAT)
{
    SF_INFO info {};
    info.samplerate = sampleRate;
    info.channels = (int) channels.size();
    info.format = format;
    SNDFILE* f = sf_open (path.toRawUTF8(), SFM_WRITE, &info);
    if (f == nullptr)
        return false;
    const size_t frames = channels.empty() ? 0 : channels[0].size();
    std::vector<float> block (frames * channels.size());
    for (size_t n = 0; n < frames; ++n)
        for (size_t c = 0; c < channels.size(); ++c)
            block[n * channels.size() + c] = channels[c][n];
    const auto written = sf_writef_float (f, block.data(), (sf_count_t) frames);
    sf_close (f);
    return written == (sf_count_t) frames;
}

inline std::vector<float> randomSignal (size_t n, unsigned seed, float amplitude = 1.0f)
{
    std::mt19937 rng (seed);
    std::uniform_real_distribution<float> dist (-amplitude, amplitude);
    std::vector<float> v (n);
    for (auto& x : v)
        x = dist (rng);
    return v;
}

/** Direct convolution in double precision, full length (x.size() + h.size() - 1). */
inline std::vector<double> directConvolution (const std::vector<float>& x, const std::vector<float>& h)
{
    if (x.empty() || h.empty())
        return {};
    std::vector<double> y (x.size() + h.size() - 1, 0.0);
    for (size_t i = 0; i < x.size(); ++i)
        for (size_t k = 0; k < h.size(); ++k)
            y[i + k] += double (x[i]) * double (h[k]);
    return y;
}
} // namespace PMTest

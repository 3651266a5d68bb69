#pragma once

// Drives a Convolver the way a host would, with matrices written as sound files, and computes
// the plain matrix convolution the engine must reproduce (times its level of 4, H samples late).

#include "Engine/PMConvolver.h"
#include "TestUtils.h"

#include <functional>
#include <mutex>

namespace PMTest
{
/** cells[o][i] is the impulse response from input i to output o. */
using Matrix = std::vector<std::vector<std::vector<float>>>;

/** A logger that keeps its lines, for checking what the engine reports. */
class CaptureLogger : public juce::Logger
{
public:
    void logMessage (const juce::String& message) override
    {
        std::lock_guard<std::mutex> lock (mutex);
        lines.add (message);
    }
    bool contains (const juce::String& text) const
    {
        std::lock_guard<std::mutex> lock (mutex);
        for (const auto& l : lines)
            if (l.contains (text))
                return true;
        return false;
    }
    juce::StringArray all() const
    {
        std::lock_guard<std::mutex> lock (mutex);
        return lines;
    }

private:
    mutable std::mutex mutex;
    juce::StringArray lines;
};

inline Matrix randomMatrix (int outs, int ins, size_t length, unsigned seed)
{
    Matrix m ((size_t) outs, std::vector<std::vector<float>> ((size_t) ins));
    for (int o = 0; o < outs; ++o)
        for (int i = 0; i < ins; ++i)
            m[(size_t) o][(size_t) i] = randomSignal (length, seed + unsigned (o * 131 + i * 7), 1.0f);
    return m;
}

/** Multi layout: one channel per output, the inputs' IRs back to back. */
inline bool writeMultiFile (const juce::String& path, const Matrix& m)
{
    Channels ch;
    for (const auto& row : m)
    {
        std::vector<float> c;
        for (const auto& ir : row)
            c.insert (c.end(), ir.begin(), ir.end());
        ch.push_back (c);
    }
    return writeSoundFile (path, ch);
}

/** One-to-One multichannel layout: channel k is the IR of cell (k, k). */
inline bool writeDiagonalFile (const juce::String& path, const Matrix& m)
{
    Channels ch;
    for (size_t k = 0; k < m.size() && k < m[k].size(); ++k)
        ch.push_back (m[k][k]);
    return writeSoundFile (path, ch);
}

/** Output o = sum over i of x_i * h_oi (One-to-One: x_o * h_oo only), full length. */
inline std::vector<std::vector<double>> referenceOutput (const Matrix& m, const Channels& x, bool oneToOne)
{
    std::vector<std::vector<double>> y (m.size());
    for (size_t o = 0; o < m.size(); ++o)
        for (size_t i = 0; i < x.size(); ++i)
        {
            if (oneToOne && i != o)
                continue;
            const auto part = directConvolution (x[i], m[o][i]);
            if (y[o].size() < part.size())
                y[o].resize (part.size(), 0.0);
            for (size_t t = 0; t < part.size(); ++t)
                y[o][t] += part[t];
        }
    return y;
}

/** Feeds channels of length total (input beyond x is silence) in blocks from nextBlock(), in
    place in one buffer as a host does; returns what the engine wrote. */
inline Channels runEngine (PM::Convolver& cv, const Channels& x, int numOutputs, size_t total,
                           const std::function<size_t()>& nextBlock)
{
    const size_t channels = std::max (x.size(), (size_t) numOutputs);
    Channels out ((size_t) numOutputs, std::vector<float> (total, 0.0f));
    std::vector<std::vector<float>> buffer (channels);
    size_t t = 0;
    while (t < total)
    {
        const size_t n = std::min (nextBlock(), total - t);
        std::vector<float*> ptrs (channels);
        for (size_t c = 0; c < channels; ++c)
        {
            buffer[c].assign (n, 0.0f);
            if (c < x.size())
                for (size_t k = 0; k < n; ++k)
                    buffer[c][k] = t + k < x[c].size() ? x[c][t + k] : 0.0f;
            ptrs[c] = buffer[c].data();
        }
        cv.process (const_cast<const float**> (ptrs.data()), (int) x.size(), ptrs.data(), numOutputs, n);
        for (int o = 0; o < numOutputs; ++o)
            std::copy (buffer[(size_t) o].begin(), buffer[(size_t) o].end(), out[(size_t) o].begin() + (long) t);
        t += n;
    }
    return out;
}

/** Runs silence until no change is pending or being carried out; false if it never ends. */
inline bool settle (PM::Convolver& cv, int inputs, int outputs, size_t block)
{
    Channels silence ((size_t) inputs, std::vector<float>());
    for (int i = 0; i < 100000 && cv.changeInProgress(); ++i)
        runEngine (cv, silence, outputs, block, [block] { return block; });
    return ! cv.changeInProgress();
}
} // namespace PMTest

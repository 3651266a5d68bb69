#include "ToolSupport.h"

#include "Files/PMSoundFile.h"

#include <cmath>
#include <cstdio>
#include <random>

namespace PMTools
{
bool Arguments::parse (int argc, char** argv, const std::vector<std::string>& valueOptions,
                       const std::vector<std::string>& flagOptions, std::string& error)
{
    auto isIn = [] (const std::vector<std::string>& list, const std::string& s)
    { return std::find (list.begin(), list.end(), s) != list.end(); };
    for (int i = 1; i < argc; ++i)
    {
        const std::string a = argv[i];
        if (a.rfind ("--", 0) != 0)
        {
            error = "unexpected argument '" + a + "'";
            return false;
        }
        const std::string name = a.substr (2);
        if (isIn (flagOptions, name))
        {
            values[name] = "1";
        }
        else if (isIn (valueOptions, name))
        {
            if (i + 1 >= argc)
            {
                error = "option --" + name + " needs a value";
                return false;
            }
            values[name] = argv[++i];
        }
        else
        {
            error = "unknown option --" + name;
            return false;
        }
    }
    return true;
}

std::string Arguments::get (const std::string& name, const std::string& fallback) const
{
    const auto it = values.find (name);
    return it != values.end() ? it->second : fallback;
}

bool Arguments::getInt (const std::string& name, int lo, int hi, int& out, std::string& error) const
{
    if (! has (name))
        return true;
    const std::string text = get (name);
    char* end = nullptr;
    const long v = std::strtol (text.c_str(), &end, 10);
    if (text.empty() || end == nullptr || *end != 0 || v < lo || v > hi)
    {
        error = "--" + name + " must be a whole number from " + std::to_string (lo) + " to " + std::to_string (hi)
                + ", not '" + text + "'";
        return false;
    }
    out = (int) v;
    return true;
}

std::vector<float> roomImpulse (size_t length, int sampleRate, unsigned seed, double rt60Seconds, double delaySeconds)
{
    std::vector<float> ir (length, 0.0f);
    if (length == 0)
        return ir;
    std::mt19937 rng (seed);
    std::normal_distribution<float> noise (0.0f, 1.0f);
    std::uniform_real_distribution<double> uniform (0.0, 1.0);
    const auto delay = std::min (length - 1, (size_t) (delaySeconds * sampleRate));
    ir[delay] = 0.8f;
    // Early reflections: a handful of sparse taps within 40 ms after the direct sound.
    for (int k = 0; k < 8; ++k)
    {
        const auto t = delay + (size_t) (uniform (rng) * 0.04 * sampleRate);
        if (t < length)
            ir[t] += (float) ((uniform (rng) < 0.5 ? -1.0 : 1.0) * 0.4 * (1.0 - k / 10.0));
    }
    // Late reverberation: noise decaying by 60 dB over rt60.
    const double decayPerSample = std::log (1000.0) / std::max (1.0, rt60Seconds * sampleRate);
    for (size_t t = delay; t < length; ++t)
        ir[t] += 0.12f * noise (rng) * (float) std::exp (-decayPerSample * double (t - delay));
    return ir;
}

void KeepingLogger::logMessage (const juce::String& message)
{
    std::lock_guard<std::mutex> lock (mutex);
    kept.add (message);
}

juce::String KeepingLogger::last() const
{
    std::lock_guard<std::mutex> lock (mutex);
    return kept.isEmpty() ? juce::String() : kept[kept.size() - 1];
}

juce::StringArray KeepingLogger::lines() const
{
    std::lock_guard<std::mutex> lock (mutex);
    return kept;
}

void ProgressBar::update (double fraction)
{
    const auto now = std::chrono::steady_clock::now();
    if (now - start < std::chrono::seconds (1) || now - lastDraw < std::chrono::milliseconds (100))
        return;
    lastDraw = now;
    shown = true;
    const int width = 40;
    const int filled = (int) std::lround (std::clamp (fraction, 0.0, 1.0) * width);
    std::fprintf (stderr, "\r[%s%s] %3d%%", std::string ((size_t) filled, '#').c_str(),
                  std::string ((size_t) (width - filled), '.').c_str(), (int) std::lround (fraction * 100.0));
    std::fflush (stderr);
}

void ProgressBar::finish()
{
    if (shown)
    {
        std::fprintf (stderr, "\r[%s] 100%%\n", std::string (40, '#').c_str());
        std::fflush (stderr);
    }
}

bool writeFloatWav (const juce::String& path, const std::vector<std::vector<float>>& channels, int sampleRate,
                    juce::String& error)
{
    PM::SoundFile out;
    out.info.samplerate = sampleRate;
    out.info.channels = (int) channels.size();
    out.info.format = (channels.size() > 2 ? SF_FORMAT_WAVEX : SF_FORMAT_WAV) | SF_FORMAT_FLOAT;
    if (out.open (path, SFM_WRITE) == nullptr)
    {
        error = "cannot write " + path + ": " + juce::String::fromUTF8 (out.errorText);
        return false;
    }
    const size_t frames = channels.empty() ? 0 : channels[0].size();
    out.info.frames = (sf_count_t) frames;
    out.createSamplesBlock();
    std::vector<const float*> rows;
    for (const auto& c : channels)
        rows.push_back (c.data());
    if (frames > 0)
        out.interleave (rows.data(), (unsigned long) frames);
    if (out.writePCMSamples (-1) != (std::int64_t) frames)
    {
        error = "cannot write all samples to " + path;
        return false;
    }
    return true;
}

juce::File fileArgument (const std::string& path)
{
    return juce::File::getCurrentWorkingDirectory().getChildFile (juce::String::fromUTF8 (path.c_str()));
}
} // namespace PMTools

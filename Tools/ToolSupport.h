#pragma once

// What the command-line tools share: argument parsing, synthetic room-like impulse responses,
// a logger that keeps the engine's messages for error reports, a progress bar and file output.

#include "Engine/PMConvolver.h"

#include <juce_core/juce_core.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <map>
#include <string>
#include <vector>

namespace PMTools
{
/** --name value and --flag arguments; anything else is an error. */
class Arguments
{
public:
    /** valueOptions take a value, flagOptions do not. Returns false with error set. */
    bool parse (int argc, char** argv, const std::vector<std::string>& valueOptions,
                const std::vector<std::string>& flagOptions, std::string& error);
    bool has (const std::string& name) const { return values.count (name) > 0; }
    std::string get (const std::string& name, const std::string& fallback = {}) const;
    /** The option's value as an int in [lo, hi]; false with error set when it is not one. */
    bool getInt (const std::string& name, int lo, int hi, int& out, std::string& error) const;

private:
    std::map<std::string, std::string> values;
};

/** An exponentially decaying noise tail after a direct sound and a few early reflections:
    enough like a room to hear, and reproducible from the seed. */
std::vector<float> roomImpulse (size_t length, int sampleRate, unsigned seed, double rt60Seconds, double delaySeconds);

/** Keeps the engine's log lines so that a tool can print why something failed. */
class KeepingLogger : public juce::Logger
{
public:
    void logMessage (const juce::String& message) override;
    juce::String last() const;
    juce::StringArray lines() const;

private:
    mutable std::mutex mutex;
    juce::StringArray kept;
};

/** A progress bar on stderr, shown only once the job has taken more than a second. */
class ProgressBar
{
public:
    void update (double fraction);
    void finish();

private:
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point lastDraw {};
    bool shown = false;
};

/** Writes equally long channels as a 32-bit float WAV (WAVEX above two channels). */
bool writeFloatWav (const juce::String& path, const std::vector<std::vector<float>>& channels, int sampleRate,
                    juce::String& error);

/** A path given on the command line, relative to the working directory. */
juce::File fileArgument (const std::string& path);
} // namespace PMTools

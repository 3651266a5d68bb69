#pragma once

// The one class through which the system reads and writes sound files (libsndfile underneath).
// A value-like owner of one file handle, its information record and one block of interleaved
// float samples. Used by one thread at a time; never on the audio thread.

#include "Engine/PMTypes.h"

#include <juce_core/juce_core.h>
#include <sndfile.h>

namespace PM
{
class SoundFile
{
public:
    SF_INFO info {};
    SNDFILE* handle = nullptr;
    juce::File path;
    ArrayOf<float> samples;
    ArrayOf<float>* const samplesRef = &samples;
    std::int64_t blockFrames = 0;
    char errorText[256] = {};

    SoundFile() = default;
    SoundFile (const juce::String& filePath, int mode);
    SoundFile (const juce::File& file, int mode);
    ~SoundFile();
    SoundFile (const SoundFile&) = delete;

    /** Opens path for reading (SFM_READ) or writing (SFM_WRITE); closes an open file first.
        Returns the handle, or null with the library's message in errorText. */
    SNDFILE* open (const char* filePath, int mode);
    SNDFILE* open (const juce::String& filePath, int mode);
    SNDFILE* open (const juce::File& file, int mode);
    /** Opens `path` if it is set and exists; otherwise null and nothing changes. */
    SNDFILE* open (int mode);
    int close();

    void setFilePath (const char* p) { path = juce::File (juce::String::fromUTF8 (p)); }
    void setFilePath (const juce::String& p) { path = juce::File (p); }
    void setFilePath (const juce::File& f) { path = f; }
    void setFP (SNDFILE* h) { handle = h; }
    SNDFILE* getFP() const { return handle; }

    /** Sizes the block for blockFrames (or info.frames) x info.channels zeroed floats; does
        nothing without frames or channels. Throws std::bad_alloc on an impossible size. */
    void createSamplesBlock();
    void createSamplesBlock (int channels);
    void deleteSamplesBlock();
    /** Reads blockFrames frames into the block (sizing it first if there is none); returns the
        number of frames read, 0 when nothing is open. */
    std::int64_t readPCMSamples();
    /** Reads the whole open file into a fresh block. False, with the reason in problem, when the
        file is cut short, holds samples that are not finite (NaN, infinity) or does not fit
        in memory: impulse responses are only taken from files read whole and sound. */
    bool readAllChecked (juce::String& problem);
    /** Writes `frames` frames of the block (all blockFrames when negative); returns frames written. */
    std::int64_t writePCMSamples (long frames);
    std::int64_t writePCMSamples (ArrayOf<float>& data);
    std::int64_t seekPCMSamples (SNDFILE* h, long frames, int whence);

    void interleave (const float** channels, unsigned long frames);
    void interleave (ArrayOfArrays<float>& data, unsigned long frames);
    void deinterleave (float** channels, unsigned long frames);
    void deinterleave (float** channels);
    void deinterleave (ArrayOfArrays<float>& data);

    int setTag (int id, const char* text);
    const char* getTag (int id);
    int getSndInfo (char* buffer, int command);
    /** Type, sub-format, "samples: F", "Fs: R", and "mono" / "stereo" / "N channels". */
    juce::StringArray retrieveSoundFileInfo();
    static juce::String getTypeFormatDescription (int format, int command);
    /** Copies the "Bit Width" line of the library's log for h (at most 20 chars) into out. */
    static bool getBitDepth (SNDFILE* h, int command, char* out);
    /** Writes "hh:mm:ss" for frames at sampleRate into out (which holds at least 32 chars). */
    static int calculateSndDuration (char* out, int sampleRate, int frames);

    bool hasXchannels (int n) const { return info.channels == n; }
    bool samplerateIs (int rate) const { return info.samplerate == rate; }
    bool isMono() const { return info.channels == 1; }

    void Copy (const SoundFile& other);
    SoundFile& operator= (const SoundFile& other);
};
} // namespace PM

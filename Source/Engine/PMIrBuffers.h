#pragma once

// Impulse responses in the engine's form: each cell keeps its samples and the spectra of its
// uniform partitions; the matrix owns rows (outputs) x columns (inputs) cells. Everything here
// runs on the message thread, on the filter that is not playing; the audio thread and the
// workers only read the spectra of the playing filter's matrix.

#include "PMFftSpec.h"
#include "PMTypes.h"

#include <juce_core/juce_core.h>

namespace PM
{
class SoundFile;

class IrSpectrum
{
public:
    int row = 0;
    int column = 0;
    juce::File file;
    ArrayOf<float> timeData;
    ArrayOfComplexVectors spectra;
    int partitions = 1;
    std::uint64_t partitionLength = 0;
    bool loaded = false;

    IrSpectrum (int r, int c) : row (r), column (c) {}
    ~IrSpectrum() = default;
    IrSpectrum (const IrSpectrum&) = delete;

    void destroy();
    /** The first info.frames samples of the file's block (a mono file: its whole channel). */
    void set (SoundFile& soundFile);
    void set (ArrayOf<float>& samples);
    void set (const float* samples, unsigned long n);
    /** Copies samples and file; spectra and partitioning are not copied. */
    void set (const IrSpectrum& other);
    IrSpectrum& operator= (const IrSpectrum& other) { set (other); return *this; }
    void makeDelta (unsigned long n, unsigned long position);
    void makeZero (unsigned long n);
    void setFilePath (const juce::String& p) { file = juce::File (p); }
    void setFilePath (const juce::File& f) { file = f; }

    /** Partition rule and zeroed spectra, no transform. */
    void alloc (int fftSize, int length);
    /** Cuts the samples into partitions of N/2 (scaled by gain) and transforms each. */
    void process (int length, FftSpec& fftSpec, float gain);
    void resize (FftSpec& fftSpec, float gain) { process (0, fftSpec, gain); }
    void clear();

    /** P = ceil(L / (N/2)) partitions of N/2 samples for L > 0; L = 0 keeps the partitioning. */
    void applyPartitionRule (std::uint64_t length, std::uint64_t fftSize);
};

class SquareArrayOfIrSpectrum
{
public:
    IrSpectrum** cells = nullptr;
    int rows = 0;
    int cols = 0;
    float minValue = 0.0f;
    float maxValue = 0.0f;
    float gain = 1.0f;

    SquareArrayOfIrSpectrum() = default;
    ~SquareArrayOfIrSpectrum() { destroy(); }
    SquareArrayOfIrSpectrum (const SquareArrayOfIrSpectrum&) = delete;

    void create (int numRows, int numCols, unsigned long length, unsigned long fftSize);
    void destroy();
    /** Pads every cell to the longest impulse response; returns that length (0: all empty). */
    std::uint64_t align();
    void process (int length, FftSpec& fftSpec, float processGain);
    void resize (FftSpec& fftSpec);
    void clear();
    /** Hands rows, cols, extremes, gain and cells to target (whose old cells are deleted). */
    void move (SquareArrayOfIrSpectrum& target);
    /** Copies the samples and files of the overlapping cells; length receives cell (0,0)'s length. */
    void copyTimeDomainDataTo (SquareArrayOfIrSpectrum& target, unsigned long* length);
    void findMaxMin();
    float absMax() const;
    float absMin() const;
    bool isFilled() const;

    IrSpectrum* cell (int r, int c) const { return cells[r * cols + c]; }
    int cellCount() const { return rows * cols; }
    /** Samples per cell after align(): the length of cell (0, 0), 0 without cells. */
    std::uint64_t length() const { return cells != nullptr ? cells[0]->timeData.length : 0; }
    int partitionCount() const { return cells != nullptr ? cells[0]->partitions : 0; }

    /** Reads a whole matrix file (Multi, or One-to-One in its one- or multichannel form) into
        the time data of the cells. Negative inputs/outputs mean the matrix's cols/rows.
        Returns the IR length written, or 0 with the reason in *error (the matrix is then
        unchanged unless a cell write itself failed). */
    unsigned long loadFromFile (const juce::String& path, bool multi, int inputs, int outputs,
                                juce::String* error = nullptr);
};
} // namespace PM

// pelmark-demo: writes a demo matrix (two sources heard at four listening positions of a
// synthetic room, Multi layout) and a two-channel demo signal into a folder.

#include "ToolSupport.h"

#include <cmath>
#include <cstdio>
#include <random>

int main (int argc, char** argv)
{
    if (argc != 2 || std::string (argv[1]) == "--help")
    {
        std::puts ("usage: pelmark-demo FOLDER\n"
                   "Writes FOLDER/demo-matrix.wav (Multi layout: 4 outputs x 2 inputs, 1 s room-like impulse\n"
                   "responses at 48 kHz) and FOLDER/demo-input.wav (2 channels, 4 s: clicks and a sweep).");
        return argc == 2 ? 0 : 2;
    }
    const juce::File folder = PMTools::fileArgument (argv[1]);
    if (! folder.createDirectory())
    {
        std::fprintf (stderr, "pelmark-demo: error: cannot create %s\n", folder.getFullPathName().toRawUTF8());
        return 1;
    }
    const int rate = 48000, inputs = 2, outputs = 4;
    const size_t irLength = (size_t) rate;

    // Output o hears input i after a delay that grows with their distance, with its own tail.
    std::vector<std::vector<float>> matrix ((size_t) outputs);
    for (int o = 0; o < outputs; ++o)
        for (int i = 0; i < inputs; ++i)
        {
            const double distance = 2.0 + 3.0 * std::abs (o - 1.5 * i);
            const auto ir = PMTools::roomImpulse (irLength, rate, unsigned (10 * o + i), 0.8, distance / 343.0);
            matrix[(size_t) o].insert (matrix[(size_t) o].end(), ir.begin(), ir.end());
        }

    // Input 0: a click every half second; input 1: a quiet logarithmic sweep from 100 Hz to 8 kHz.
    const size_t length = (size_t) (4 * rate);
    std::vector<std::vector<float>> signal (2, std::vector<float> (length, 0.0f));
    for (size_t t = 0; t < length; t += (size_t) rate / 2)
        signal[0][t] = 0.9f;
    const double f0 = 100.0, f1 = 8000.0, seconds = 3.0;
    const double k = std::log (f1 / f0) / seconds;
    for (size_t t = 0; t < (size_t) (seconds * rate); ++t)
    {
        const double time = double (t) / rate;
        signal[1][t] = (float) (0.3 * std::sin (2.0 * M_PI * f0 * (std::exp (k * time) - 1.0) / k));
    }

    juce::String error;
    const auto matrixPath = folder.getChildFile ("demo-matrix.wav").getFullPathName();
    const auto inputPath = folder.getChildFile ("demo-input.wav").getFullPathName();
    if (! PMTools::writeFloatWav (matrixPath, matrix, rate, error) || ! PMTools::writeFloatWav (inputPath, signal, rate, error))
    {
        std::fprintf (stderr, "pelmark-demo: error: %s\n", error.toRawUTF8());
        return 1;
    }
    std::printf ("pelmark-demo: wrote %s and %s\n", matrixPath.toRawUTF8(), inputPath.toRawUTF8());
    return 0;
}

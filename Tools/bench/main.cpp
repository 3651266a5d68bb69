// pelmark-bench: drives the engine offline, block after block, on synthetic matrices and noise,
// and prints per workload the CPU seconds (all threads) and wall seconds per second of audio.
// Before every call it sleeps in 20 us steps until the previous partition's workers are done,
// so the engine never spins and the CPU figure counts the convolution work itself.

#include "Engine/PMFftSpec.h"
#include "ToolSupport.h"

#include <sys/resource.h>

#include <cstdio>
#include <random>

namespace
{
struct Workload
{
    std::string name;
    int inputs, outputs, irLength, block, fftSize;  // fftSize 0: zero latency
    double targetCpu;                                 // CPU s per audio s to stay under; 0: none
};

const Workload standardWorkloads[] = {
    { "W1", 2, 2, 48000, 512, 1024, 0.0 },
    { "W2", 8, 8, 16384, 512, 1024, 0.16 },
    { "W3", 16, 16, 8192, 256, 0, 0.70 },
    { "W4", 32, 32, 4096, 512, 1024, 0.82 },
    { "W5", 64, 64, 2048, 1024, 2048, 0.86 },
};

double cpuSeconds()
{
    rusage u {};
    getrusage (RUSAGE_SELF, &u);
    return double (u.ru_utime.tv_sec + u.ru_stime.tv_sec) + 1e-6 * double (u.ru_utime.tv_usec + u.ru_stime.tv_usec);
}

void usage()
{
    std::puts (
        "usage: pelmark-bench [--workload W1|W2|W3|W4|W5|all] [--custom INxOUT,IR,BLOCK,FFT|zl]\n"
        "                     [--seconds S] [--rate HZ] [--setup-cost]\n"
        "Runs the convolution engine offline and prints, per workload, the CPU seconds used by\n"
        "all threads per second of audio, the wall seconds per second of audio and the real-time\n"
        "factor (audio seconds per wall second). Default: all five standard workloads, 20 s each.\n"
        "  --custom 16x16,8192,256,zl   inputs x outputs, IR length, block, FFT size or zl (zero latency)\n"
        "  --setup-cost                 also time the creation of 128 FFT set-ups of N = 8192");
}

bool parseCustom (const std::string& text, Workload& w)
{
    int ins = 0, outs = 0, ir = 0, block = 0;
    char fft[32] = {};
    if (std::sscanf (text.c_str(), "%dx%d,%d,%d,%31s", &ins, &outs, &ir, &block, fft) != 5)
        return false;
    w = { "custom", ins, outs, ir, block, std::string (fft) == "zl" ? 0 : std::atoi (fft), 0.0 };
    return ins >= 1 && ins <= 64 && outs >= 1 && outs <= 64 && ir >= 1 && block >= 1 && block <= 16384
           && (w.fftSize == 0 || (w.fftSize >= 64 && (w.fftSize & (w.fftSize - 1)) == 0));
}

bool run (const Workload& w, double seconds, int rate)
{
    juce::TemporaryFile tmp (".wav");
    std::vector<std::vector<float>> channels ((size_t) w.outputs);
    for (int o = 0; o < w.outputs; ++o)
        for (int i = 0; i < w.inputs; ++i)
        {
            const auto ir = PMTools::roomImpulse ((size_t) w.irLength, rate, unsigned (o * 64 + i), 0.5, 0.002);
            channels[(size_t) o].insert (channels[(size_t) o].end(), ir.begin(), ir.end());
        }
    juce::String error;
    if (! PMTools::writeFloatWav (tmp.getFile().getFullPathName(), channels, rate, error))
    {
        std::fprintf (stderr, "pelmark-bench: error: %s\n", error.toRawUTF8());
        return false;
    }
    channels.clear();

    PM::FixedProperties p;
    p.numInputs = w.inputs;
    p.numOutputs = w.outputs;
    p.fft = w.fftSize == 0 ? 1024 : w.fftSize;
    p.zeroLatencyOn = w.fftSize == 0;
    p.blockLength = w.block;
    p.rate = rate;
    auto logger = std::make_shared<PMTools::KeepingLogger>();
    PM::Convolver cv;
    cv.setLogger (logger);
    cv.create (p);
    if (cv.setFilterMatrix (tmp.getFile().getFullPathName(), w.inputs, w.outputs) <= 0)
    {
        std::fprintf (stderr, "pelmark-bench: error: %s\n", logger->last().toRawUTF8());
        return false;
    }

    const size_t channelsNeeded = (size_t) std::max (w.inputs, w.outputs);
    std::vector<std::vector<float>> buffers (channelsNeeded, std::vector<float> ((size_t) w.block));
    std::vector<float*> ptrs;
    for (auto& b : buffers)
        ptrs.push_back (b.data());
    std::mt19937 rng (7);
    std::uniform_real_distribution<float> noise (-0.5f, 0.5f);
    std::vector<float> noiseBlock ((size_t) w.block * 16);
    for (auto& v : noiseBlock)
        v = noise (rng);
    auto processOne = [&] (size_t k)
    {
        for (size_t c = 0; c < (size_t) w.inputs; ++c)
            std::copy_n (noiseBlock.begin() + (long) (((k + c) % 16) * (size_t) w.block), w.block, buffers[c].begin());
        cv.waitForWorkersIdle();
        cv.process (const_cast<const float**> (ptrs.data()), w.inputs, ptrs.data(), w.outputs, (unsigned long) w.block);
    };

    // Let the matrix change finish and the caches warm up before measuring.
    size_t k = 0;
    while (cv.changeInProgress())
        processOne (k++);
    for (int i = 0; i < 50; ++i)
        processOne (k++);

    const auto blocks = (size_t) std::ceil (seconds * rate / w.block);
    const double cpu0 = cpuSeconds();
    const auto wall0 = std::chrono::steady_clock::now();
    for (size_t b = 0; b < blocks; ++b)
        processOne (k++);
    cv.waitForWorkersIdle();
    const double wall = std::chrono::duration<double> (std::chrono::steady_clock::now() - wall0).count();
    const double cpu = cpuSeconds() - cpu0;
    const double audio = double (blocks * (size_t) w.block) / rate;

    char fft[16];
    std::snprintf (fft, sizeof (fft), "%s", w.fftSize == 0 ? "zero-lat" : std::to_string (w.fftSize).c_str());
    std::printf ("%-6s %2dx%-2d IR %6d block %5d FFT %-8s  CPU %.3f s/s  wall %.3f s/s  real-time x%.1f",
                 w.name.c_str(), w.inputs, w.outputs, w.irLength, w.block, fft, cpu / audio, wall / audio, audio / wall);
    if (w.targetCpu > 0)
        std::printf ("  (target CPU <= %.2f: %s)", w.targetCpu, cpu / audio <= w.targetCpu ? "met" : "MISSED");
    std::printf ("\n");
    std::fflush (stdout);
    if (cv.status.load() != 0)
        std::printf ("       engine status 0x%X during the run\n", cv.status.load());
    return true;
}

void setupCost()
{
    const auto t0 = std::chrono::steady_clock::now();
    { PM::FftSpec first (8192, 0); }
    const auto t1 = std::chrono::steady_clock::now();
    std::vector<std::unique_ptr<PM::FftSpec>> specs;
    for (int i = 0; i < 128; ++i)
        specs.push_back (std::make_unique<PM::FftSpec> (8192, 0));
    const auto t2 = std::chrono::steady_clock::now();
    std::printf ("FFT set-up N=8192: first in the process (plans made) %.1f ms; 128 more set-ups %.2f ms\n",
                 1e3 * std::chrono::duration<double> (t1 - t0).count(), 1e3 * std::chrono::duration<double> (t2 - t1).count());
}
} // namespace

int main (int argc, char** argv)
{
    PMTools::Arguments args;
    std::string error;
    if (! args.parse (argc, argv, { "workload", "custom", "seconds", "rate" }, { "help", "setup-cost" }, error))
    {
        std::fprintf (stderr, "pelmark-bench: error: %s (see --help)\n", error.c_str());
        return 2;
    }
    if (args.has ("help"))
    {
        usage();
        return 0;
    }
    int seconds = 20, rate = 48000;
    if (! args.getInt ("seconds", 1, 3600, seconds, error) || ! args.getInt ("rate", 8000, 384000, rate, error))
    {
        std::fprintf (stderr, "pelmark-bench: error: %s\n", error.c_str());
        return 2;
    }
    std::vector<Workload> chosen;
    if (args.has ("custom"))
    {
        Workload w;
        if (! parseCustom (args.get ("custom"), w))
        {
            std::fprintf (stderr, "pelmark-bench: error: --custom wants INxOUT,IR,BLOCK,FFT|zl, e.g. 16x16,8192,256,zl\n");
            return 2;
        }
        chosen.push_back (w);
    }
    const std::string which = args.get ("workload", args.has ("custom") ? "" : "all");
    for (const auto& w : standardWorkloads)
        if (which == "all" || which == w.name)
            chosen.push_back (w);
    if (chosen.empty())
    {
        std::fprintf (stderr, "pelmark-bench: error: no workload named '%s' (W1 to W5, or all)\n", which.c_str());
        return 2;
    }
    if (args.has ("setup-cost"))
        setupCost();
    for (const auto& w : chosen)
        if (! run (w, seconds, rate))
            return 1;
    return 0;
}

// pelmark-render checked from outside: its output is the plain matrix convolution, its raw
// output the engine's (latency N/2, level 4), and bad input ends in one clear line and a
// non-zero exit code.

#include "Engine/EngineHarness.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace PMTest;

namespace
{
struct Result
{
    int exitCode;
    std::string output;  // stdout and stderr
};

Result render (const std::string& arguments)
{
    const std::string command = std::string (PM_RENDER_PATH) + " " + arguments + " 2>&1";
    Result r { -1, {} };
    if (FILE* p = popen (command.c_str(), "r"))
    {
        char line[4096];
        while (std::fgets (line, sizeof (line), p) != nullptr)
            r.output += line;
        const int status = pclose (p);
        r.exitCode = WIFEXITED (status) ? WEXITSTATUS (status) : -1;
    }
    return r;
}

Channels readAll (const juce::String& path)
{
    PM::SoundFile f (path, SFM_READ);
    if (f.getFP() == nullptr)
        return {};
    f.readPCMSamples();
    Channels c ((size_t) f.info.channels, std::vector<float> ((size_t) f.info.frames));
    for (size_t ch = 0; ch < c.size(); ++ch)
        for (size_t t = 0; t < c[ch].size(); ++t)
            c[ch][t] = f.samples[t * c.size() + ch];
    return c;
}
} // namespace

TEST (RenderTool, WritesThePlainMatrixConvolution)
{
    TempFolder tmp;
    const Matrix m = randomMatrix (3, 2, 1700, 5);
    ASSERT_TRUE (writeMultiFile (tmp.path ("m.wav"), m));
    const Channels x = { randomSignal (5000, 1, 0.5f), randomSignal (5000, 2, 0.5f) };
    ASSERT_TRUE (writeSoundFile (tmp.path ("in.wav"), x));
    const auto ref = referenceOutput (m, x, false);

    const auto q = [&] (const char* name) { return "'" + tmp.path (name).toStdString() + "'"; };
    for (const std::string options : { "", "--block 300", "--fft 4096 --block 1024", "--zero-latency --block 128" })
    {
        SCOPED_TRACE (options);
        const auto r = render ("--matrix " + q ("m.wav") + " --input " + q ("in.wav") + " --output " + q ("out.wav") + " " + options);
        ASSERT_EQ (r.exitCode, 0) << r.output;
        const auto y = readAll (tmp.path ("out.wav"));
        ASSERT_EQ (y.size(), 3u);
        ASSERT_EQ (y[0].size(), 5000u + 1700u - 1u);
        for (size_t o = 0; o < 3; ++o)
            for (size_t t = 0; t < y[o].size(); ++t)
                ASSERT_NEAR (y[o][t], ref[o][t], 2e-4) << "output " << o << " sample " << t;
    }

    const auto raw = render ("--matrix " + q ("m.wav") + " --input " + q ("in.wav") + " --output " + q ("raw.wav") + " --raw --fft 2048");
    ASSERT_EQ (raw.exitCode, 0) << raw.output;
    const auto y = readAll (tmp.path ("raw.wav"));
    ASSERT_EQ (y[1].size(), 5000u + 1700u - 1u + 1024u);
    for (size_t t = 0; t < 1024; ++t)
        ASSERT_NEAR (y[1][t], 0.0f, 1e-4);
    for (size_t t = 1024; t < y[1].size(); ++t)
        ASSERT_NEAR (y[1][t], 4.0 * ref[1][t - 1024], 1e-3) << t;
}

TEST (RenderTool, BadInputGivesOneLineAndAnExitCode)
{
    TempFolder tmp;
    ASSERT_TRUE (writeMultiFile (tmp.path ("m.wav"), randomMatrix (2, 2, 100, 1)));
    ASSERT_TRUE (writeSoundFile (tmp.path ("mono.wav"), { randomSignal (100, 1) }));
    ASSERT_TRUE (writeSoundFile (tmp.path ("stereo.wav"), { randomSignal (100, 1), randomSignal (100, 2) }));
    ASSERT_TRUE (writeSoundFile (tmp.path ("rate.wav"), { randomSignal (100, 1), randomSignal (100, 2) }, 44100));
    tmp.dir.getChildFile ("text.wav").replaceWithText ("not audio");
    const auto q = [&] (const char* name) { return "'" + tmp.path (name).toStdString() + "'"; };
    const auto out = " --output " + q ("out.wav");

    struct Case { std::string args; int code; const char* says; };
    const Case cases[] = {
        { "", 2, "--matrix is required" },
        { "--matrix " + q ("m.wav") + " --input " + q ("stereo.wav") + out + " --block 0", 2, "--block" },
        { "--matrix " + q ("m.wav") + " --input " + q ("stereo.wav") + out + " --fft 1000", 2, "power of two" },
        { "--matrix " + q ("m.wav") + " --input " + q ("stereo.wav") + out + " --fft 1024 --block 1024", 2, "longer than half" },
        { "--matrix " + q ("m.wav") + " --input " + q ("stereo.wav") + out + " --mode diagonal", 2, "--mode" },
        { "--matrix " + q ("m.wav") + " --bogus", 2, "unknown option" },
        { "--matrix " + q ("missing.wav") + " --input " + q ("stereo.wav") + out, 1, "cannot open matrix file" },
        { "--matrix " + q ("text.wav") + " --input " + q ("stereo.wav") + out, 1, "cannot open matrix file" },
        { "--matrix " + q ("m.wav") + " --input " + q ("text.wav") + out, 1, "cannot open input file" },
        { "--matrix " + q ("m.wav") + " --input " + q ("mono.wav") + out + " --inputs 2", 1, "fewer than the 2 inputs" },
        { "--matrix " + q ("m.wav") + " --input " + q ("stereo.wav") + out + " --outputs 3", 1, "channel" },
        { "--matrix " + q ("m.wav") + " --input " + q ("rate.wav") + out, 1, "Hz" },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.args);
        const auto r = render (c.args);
        EXPECT_EQ (r.exitCode, c.code) << r.output;
        EXPECT_NE (r.output.find (c.says), std::string::npos) << r.output;
        EXPECT_EQ (std::count (r.output.begin(), r.output.end(), '\n'), 1) << r.output;
    }
    EXPECT_EQ (render ("--help").exitCode, 0);
}

// pelmark-render: convolves a sound file with a matrix file offline through the real-time engine.
// By default the engine's latency (N/2 samples) and level (4) are removed, so the output is the
// plain matrix convolution: input length plus the impulse responses' tail.

#include "Files/PMSoundFile.h"
#include "ToolSupport.h"

#include <cstdio>

namespace
{
const char* const usageText =
    "usage: pelmark-render --matrix FILE --input FILE --output FILE [options]\n"
    "Convolves every input channel with the impulse-response matrix and writes the outputs\n"
    "(output o = sum over inputs i of input i convolved with cell (o, i)).\n"
    "  --mode multi|one-to-one   layout of the matrix file (default multi: one channel per output,\n"
    "                            each holding the inputs' IRs back to back; one-to-one: the diagonal)\n"
    "  --inputs I                input channels (default: the input file's channel count)\n"
    "  --outputs O               output channels (default: the matrix file's channel count, or I\n"
    "                            for a single-channel one-to-one file)\n"
    "  --fft N                   FFT size, a power of two from 64 (default: 1024, or 2 x block)\n"
    "  --zero-latency            FFT size 2 x block (rounded up to a power of two)\n"
    "  --block B                 block length fed to the engine (default 512)\n"
    "  --raw                     keep the engine's latency of N/2 samples and its level of 4\n"
    "  --ignore-rate             render even if the matrix and input sample rates differ\n"
    "Output: 32-bit float WAV at the input's sample rate.";

int fail (int code, const juce::String& message)
{
    std::fprintf (stderr, "pelmark-render: error: %s\n", message.toRawUTF8());
    return code;
}
} // namespace

int main (int argc, char** argv)
{
    PMTools::Arguments args;
    std::string error;
    if (! args.parse (argc, argv, { "matrix", "input", "output", "mode", "inputs", "outputs", "fft", "block" },
                      { "help", "zero-latency", "raw", "ignore-rate" }, error))
        return fail (2, juce::String (error) + " (see --help)");
    if (args.has ("help"))
    {
        std::puts (usageText);
        return 0;
    }
    for (const char* required : { "matrix", "input", "output" })
        if (! args.has (required))
            return fail (2, juce::String ("--") + required + " is required (see --help)");
    const std::string mode = args.get ("mode", "multi");
    if (mode != "multi" && mode != "one-to-one")
        return fail (2, "--mode must be multi or one-to-one, not '" + juce::String (mode) + "'");
    if (args.has ("fft") && args.has ("zero-latency"))
        return fail (2, "--fft and --zero-latency exclude each other");

    int block = 512, fft = 0, inputs = 0, outputs = 0;
    if (! args.getInt ("block", 1, 65536, block, error) || ! args.getInt ("fft", 64, 1 << 20, fft, error)
        || ! args.getInt ("inputs", 1, 64, inputs, error) || ! args.getInt ("outputs", 1, 64, outputs, error))
        return fail (2, error);
    if (fft != 0 && (fft & (fft - 1)) != 0)
        return fail (2, "--fft must be a power of two");
    if (fft != 0 && block > fft / 2)
        return fail (2, "--block " + juce::String (block) + " is longer than half of --fft " + juce::String (fft));
    if (fft == 0)
        fft = std::max (1024, PM::PropertiesBase::roundUpToPowerOfTwo (2 * block));

    const juce::File matrixFile = PMTools::fileArgument (args.get ("matrix"));
    const juce::File inputFile = PMTools::fileArgument (args.get ("input"));
    const juce::File outputFile = PMTools::fileArgument (args.get ("output"));

    PM::SoundFile matrix (matrixFile, SFM_READ);
    if (matrix.getFP() == nullptr)
        return fail (1, "cannot open matrix file " + matrixFile.getFullPathName() + ": " + juce::String (matrix.errorText));
    PM::SoundFile in (inputFile, SFM_READ);
    if (in.getFP() == nullptr)
        return fail (1, "cannot open input file " + inputFile.getFullPathName() + ": " + juce::String (in.errorText));
    if (! args.has ("ignore-rate") && matrix.info.samplerate != in.info.samplerate)
        return fail (1, "the matrix is at " + juce::String (matrix.info.samplerate) + " Hz and the input at "
                            + juce::String (in.info.samplerate) + " Hz (--ignore-rate renders anyway)");

    if (inputs == 0)
        inputs = std::min (in.info.channels, 64);
    if (in.info.channels < inputs)
        return fail (1, "the input file has " + juce::String (in.info.channels) + " channel(s), fewer than the "
                            + juce::String (inputs) + " inputs");
    if (outputs == 0)
        outputs = mode == "one-to-one" && matrix.info.channels == 1 ? inputs : std::min (matrix.info.channels, 64);
    if (mode == "one-to-one" && inputs != outputs)
        return fail (1, "the one-to-one layout needs as many inputs as outputs (" + juce::String (inputs) + " and "
                            + juce::String (outputs) + ")");
    matrix.close();

    PM::FixedProperties config;
    config.numInputs = inputs;
    config.numOutputs = outputs;
    config.fft = fft;
    config.zeroLatencyOn = args.has ("zero-latency");
    config.blockLength = block;
    config.rate = in.info.samplerate;
    config.matrixMode = mode == "multi" ? 1 : 2;
    auto logger = std::make_shared<PMTools::KeepingLogger>();
    PM::Convolver engine;
    engine.setLogger (logger);
    engine.create (config);
    if (engine.setFilterMatrix (matrixFile.getFullPathName(), inputs, outputs) <= 0)
        return fail (1, "cannot use " + matrixFile.getFullPathName() + " as a matrix: "
                            + logger->last().fromFirstOccurrenceOf (": ", false, false));

    // Buffers: one per channel the engine touches, processed in place as a host does.
    const auto channels = (size_t) std::max (inputs, outputs);
    std::vector<std::vector<float>> buffers (channels, std::vector<float> ((size_t) block, 0.0f));
    std::vector<float*> ptrs;
    for (auto& b : buffers)
        ptrs.push_back (b.data());
    auto runBlock = [&] (size_t n)
    {
        engine.waitForWorkersIdle();
        engine.process (const_cast<const float**> (ptrs.data()), inputs, ptrs.data(), outputs, (unsigned long) n);
    };
    while (engine.changeInProgress())
    {
        for (auto& b : buffers)
            std::fill (b.begin(), b.end(), 0.0f);
        runBlock ((size_t) block);
    }

    const int half = engine.activeFilter()->halfSize;
    const auto irLength = (std::int64_t) engine.activeFilter()->irLength;
    const bool raw = args.has ("raw");
    const std::int64_t inFrames = in.info.frames;
    const std::int64_t outFrames = inFrames + std::max<std::int64_t> (irLength - 1, 0) + (raw ? half : 0);
    const std::int64_t skip = raw ? 0 : half;
    const float level = raw ? 1.0f : 0.25f;

    PM::SoundFile out;
    out.info.samplerate = in.info.samplerate;
    out.info.channels = outputs;
    out.info.format = (outputs > 2 ? SF_FORMAT_WAVEX : SF_FORMAT_WAV) | SF_FORMAT_FLOAT;
    if (out.open (outputFile, SFM_WRITE) == nullptr)
        return fail (1, "cannot write " + outputFile.getFullPathName() + ": " + juce::String (out.errorText));
    out.info.frames = block;
    out.createSamplesBlock();
    in.blockFrames = block;
    in.createSamplesBlock();

    PMTools::ProgressBar progress;
    std::int64_t fed = 0, written = 0, engineTime = 0;
    std::vector<const float*> outRows ((size_t) outputs);
    while (written < outFrames)
    {
        const auto n = (size_t) block;
        std::int64_t got = 0;
        if (fed < inFrames)
        {
            got = in.readPCMSamples();
            if (got <= 0 && fed < inFrames)
            {
                out.close();
                outputFile.deleteFile();
                return fail (1, "the input file ends after " + juce::String (fed) + " of " + juce::String (inFrames)
                                    + " frames (truncated?)");
            }
        }
        for (size_t c = 0; c < (size_t) inputs; ++c)
            for (size_t k = 0; k < n; ++k)
                buffers[c][k] = (std::int64_t) k < got ? in.samples[k * (size_t) in.info.channels + c] : 0.0f;
        for (size_t c = (size_t) inputs; c < channels; ++c)
            std::fill (buffers[c].begin(), buffers[c].end(), 0.0f);
        runBlock (n);
        fed += got;

        // Output samples before `skip` are the engine's latency.
        const std::int64_t from = std::max<std::int64_t> (0, skip - engineTime);
        engineTime += (std::int64_t) n;
        if (from >= (std::int64_t) n)
            continue;
        const auto count = (size_t) std::min<std::int64_t> ((std::int64_t) n - from, outFrames - written);
        for (size_t o = 0; o < (size_t) outputs; ++o)
        {
            if (level != 1.0f)
                PM::Dsp::scale (buffers[o].data() + from, level, buffers[o].data() + from, count);
            outRows[o] = buffers[o].data() + from;
        }
        out.interleave (outRows.data(), (unsigned long) count);
        if (out.writePCMSamples ((long) count) != (std::int64_t) count)
            return fail (1, "cannot write to " + outputFile.getFullPathName());
        written += (std::int64_t) count;
        progress.update (double (written) / double (std::max<std::int64_t> (outFrames, 1)));
    }
    progress.finish();
    engine.waitForWorkersIdle();
    if (engine.status.load() != 0)
        return fail (1, "the engine reported status 0x" + juce::String::toHexString (engine.status.load()));
    std::printf ("pelmark-render: wrote %s (%d channel(s), %lld frames at %d Hz; IR length %lld, FFT %d%s)\n",
                 outputFile.getFullPathName().toRawUTF8(), outputs, (long long) written, in.info.samplerate,
                 (long long) irLength, engine.activeFilter()->fftSize, raw ? ", raw engine output" : "");
    return 0;
}

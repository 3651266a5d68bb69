#include "PMFftSpec.h"

#include <cmath>

namespace PM
{
std::uint64_t FftSpec::log2For (int n) noexcept
{
    if (n < 1)
        return 0;
    // ln 2 rounded to single precision and widened: the rounding the set-up has always used.
    return (std::uint64_t) (std::log ((double) n) / 0.69314718246459961 + 0.5);
}

void FftSpec::create (int n, int /*radix: only radix 2 exists*/)
{
    destroy();
    const std::uint64_t l = log2For (n);
    setup = Dsp::createFftSetup ((unsigned long) l);
    if (setup != nullptr)
    {
        log2n = l;
        size = 1 << l;
    }
}

void FftSpec::destroy() noexcept
{
    if (log2n != 0)
        Dsp::destroyFftSetup (setup);
    setup = nullptr;
    log2n = 0;
    size = 0;
}
} // namespace PM

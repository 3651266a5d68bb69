#pragma once

// The FFT set-up of one size, owned by a filter or a worker. create/destroy run on the message
// (control) thread; the transforms of the vector layer use it on the audio or worker thread.

#include "PMVectorDsp.h"

#include <cstdint>

namespace PM
{
class FftSpec
{
public:
    int size = 0;                       // N = 2^log2n; 0 without a set-up
    Dsp::FftSetup* setup = nullptr;     // valid exactly when log2n != 0
    std::uint64_t log2n = 0;

    FftSpec() = default;
    FftSpec (int n, int radix) { create (n, radix); }
    ~FftSpec() { destroy(); }
    FftSpec (const FftSpec&) = delete;
    FftSpec& operator= (const FftSpec&) = delete;

    /** Builds a set-up for the power of two nearest to n. On failure size and log2n stay 0. */
    void create (int n, int radix);
    void destroy() noexcept;

    /** log2n for n as the set-up computes it: log2(n) rounded to the nearest integer. */
    static std::uint64_t log2For (int n) noexcept;
};
} // namespace PM

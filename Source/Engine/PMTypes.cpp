#include "PMTypes.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace PM
{
namespace detail
{
constexpr std::size_t blockAlignment = 64;

std::size_t checkedProduct (std::size_t a, std::size_t b)
{
    if (a != 0 && b > SIZE_MAX / a)
        throw std::bad_alloc();
    return a * b;
}

void* allocateZeroed (std::size_t n, std::size_t elementSize)
{
    if (n == 0)
        return nullptr;
    std::size_t bytes = checkedProduct (n, elementSize);
    // aligned_alloc wants a multiple of the alignment
    if (bytes > SIZE_MAX - blockAlignment)
        throw std::bad_alloc();
    bytes = (bytes + blockAlignment - 1) / blockAlignment * blockAlignment;
    void* p = std::aligned_alloc (blockAlignment, bytes);
    if (p == nullptr)
        throw std::bad_alloc();
    std::memset (p, 0, bytes);
    return p;
}

void release (void* p) noexcept
{
    std::free (p);
}

void zero (void* p, std::size_t bytes) noexcept
{
    if (p != nullptr && bytes > 0)
        std::memset (p, 0, bytes);
}
} // namespace detail

// ---------------------------------------------------------------------------------------------
template <>
float ArrayOf<float>::findMax() noexcept
{
    maxValue = length > 0 ? Dsp::maxValue (data, length) : 0.0f;
    return maxValue;
}

template <>
float ArrayOf<float>::findMin() noexcept
{
    minValue = length > 0 ? Dsp::minValue (data, length) : 0.0f;
    return minValue;
}

template <>
float ArrayOf<float>::mean() const noexcept { return Dsp::mean (data, length); }
template <>
float ArrayOf<float>::rms() const noexcept { return Dsp::rms (data, length); }
template <>
float ArrayOf<float>::squareRms() const noexcept { return Dsp::meanSquare (data, length); }

template <>
int ArrayOf<int>::findMax() noexcept
{
    int m = length > 0 ? data[0] : 0;
    for (std::uint64_t i = 1; i < length; ++i)
        m = data[i] > m ? data[i] : m;
    maxValue = m;
    return m;
}

template <>
int ArrayOf<int>::findMin() noexcept
{
    int m = length > 0 ? data[0] : 0;
    for (std::uint64_t i = 1; i < length; ++i)
        m = data[i] < m ? data[i] : m;
    minValue = m;
    return m;
}

// ---------------------------------------------------------------------------------------------
void ComplexVector::create (unsigned long n)
{
    destroy();
    real = static_cast<float*> (detail::allocateZeroed (n, sizeof (float)));
    try
    {
        imag = static_cast<float*> (detail::allocateZeroed (n, sizeof (float)));
    }
    catch (...)
    {
        destroy();
        throw;
    }
    length = n;
    filled = 0;
}

void ComplexVector::destroy() noexcept
{
    detail::release (real);
    detail::release (imag);
    real = imag = nullptr;
    length = filled = 0;
}

void ComplexVector::clear() noexcept
{
    Dsp::clear (real, length);
    Dsp::clear (imag, length);
    filled = 0;
}

void ComplexVector::copyFrom (const ComplexVector& other) noexcept
{
    const std::uint64_t k = length < other.length ? length : other.length;
    Dsp::copy (other.real, real, k);
    Dsp::copy (other.imag, imag, k);
    filled = k;
}

void ComplexVector::append (const ComplexVector& other) noexcept
{
    append (other.real, other.imag, (unsigned long) other.length);
}

void ComplexVector::append (const float* re, const float* im, unsigned long n) noexcept
{
    const std::uint64_t room = length - filled;
    const std::uint64_t k = n < room ? n : room;
    if (re != nullptr)
        Dsp::copy (re, real + filled, k);
    if (im != nullptr)
        Dsp::copy (im, imag + filled, k);
    filled += k;
}

// ---------------------------------------------------------------------------------------------
void ArrayOfComplexVectors::create (unsigned long numVectors, unsigned long vectorLength)
{
    destroy();
    if (numVectors == 0)
        return;
    vectors = new ComplexVector[numVectors];
    count = numVectors;
    try
    {
        for (unsigned long i = 0; i < numVectors; ++i)
            vectors[i].create (vectorLength);
    }
    catch (...)
    {
        destroy();
        throw;
    }
}

void ArrayOfComplexVectors::clear() noexcept
{
    for (std::uint64_t i = 0; i < count; ++i)
        vectors[i].clear();
}

void ArrayOfComplexVectors::destroy() noexcept
{
    delete[] vectors;
    vectors = nullptr;
    count = 0;
}

void ArrayOfComplexVectors::copyFrom (const ArrayOfComplexVectors& other) noexcept
{
    const std::uint64_t n = count < other.count ? count : other.count;
    if (n == 0)
        return;
    const std::uint64_t ls = vectors[0].length;
    const std::uint64_t lo = other.vectors[0].length;
    for (std::uint64_t v = 0; v < n; ++v)
    {
        ComplexVector& dst = vectors[v];
        const ComplexVector& src = other.vectors[v];
        if (ls == lo)
        {
            dst.copyFrom (src);
        }
        else if (lo > ls && ls > 0)
        {
            const std::uint64_t r = lo / ls;
            for (std::uint64_t j = 0; j < ls; ++j)
            {
                dst.real[j] = src.real[j * r];
                dst.imag[j] = src.imag[j * r];
            }
        }
        else if (lo > 0)
        {
            const std::uint64_t r = ls / lo;
            const float k = 1.0f / float (r);
            for (std::uint64_t j = 0; j < lo; ++j)
                for (std::uint64_t m = 0; m < r; ++m)
                {
                    dst.real[j * r + m] = src.real[j] * k;
                    dst.imag[j * r + m] = src.imag[j] * k;
                }
        }
    }
}

ArrayOfComplexVectors& ArrayOfComplexVectors::operator= (const ArrayOfComplexVectors& other) noexcept
{
    const std::uint64_t n = count < other.count ? count : other.count;
    for (std::uint64_t v = 0; v < n; ++v)
        vectors[v].copyFrom (other.vectors[v]);
    return *this;
}

// ---------------------------------------------------------------------------------------------
void ThumbData::create (unsigned long bins)
{
    ArrayOf<float>::create (bins);
    valid = false;
}

void ThumbData::reset() noexcept
{
    Dsp::clear (data, length);
    valid = false;
}

void ThumbData::set (const float* samples, unsigned long n, float scaleFactor) noexcept
{
    const std::uint64_t bins = length;
    if (bins < n)
    {
        if (bins == 0)
            return;
        const std::uint64_t w = n / bins;
        for (std::uint64_t j = 0; j < bins; ++j)
        {
            const float hi = Dsp::maxValue (samples + j * w, w);
            const float lo = Dsp::minValue (samples + j * w, w);
            data[j] = scaleFactor * (std::fabs (lo) < std::fabs (hi) ? hi : lo);
        }
    }
    else
    {
        Dsp::scale (samples, scaleFactor, data, n);
    }
    findMax();
    findMin();
    valid = true;
}

// ---------------------------------------------------------------------------------------------
void IndexCircularBuffer::create (unsigned long n)
{
    ArrayOf<int>::create (n);
    reset (false);
}

void IndexCircularBuffer::reset (bool reversed) noexcept
{
    const std::uint64_t n = length;
    for (std::uint64_t i = 0; i < n; ++i)
        data[i] = (reversed && i > 0) ? int (n - i) : int (i);
}

void IndexCircularBuffer::rotateLeft() noexcept
{
    if (length < 2)
        return;
    const int first = data[0];
    std::memmove (data, data + 1, (length - 1) * sizeof (int));
    data[length - 1] = first;
}

void IndexCircularBuffer::rotateRight() noexcept
{
    if (length < 2)
        return;
    const int last = data[length - 1];
    std::memmove (data + 1, data, (length - 1) * sizeof (int));
    data[0] = last;
}

// ---------------------------------------------------------------------------------------------
float PMRms (float* p, unsigned long n)
{
    return Dsp::rms (p, n);
}

bool zeroCheck (float* p, unsigned long n)
{
    if (Dsp::rms (p, n) == 0.0f)
    {
        std::printf ("Null output\n");
        return false;
    }
    return true;
}
} // namespace PM

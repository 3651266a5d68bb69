#pragma once

// Small owning containers of the engine. Only create() allocates; clear, element access,
// rotations and the vector operations are allocation-free and may run on the audio thread.
// None of them locks: the owners decide which thread touches what (create/destroy on the
// message thread while the owning filter is not processing).

#include "PMVectorDsp.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace PM
{
/** The address of one matrix cell: row = output channel, column = input channel. */
struct Cell
{
    int row = 0;
    int column = 0;

    Cell() = default;
    Cell (int r, int c) : row (r), column (c) {}
    virtual ~Cell() = default;
    Cell (const Cell&) = default;
    Cell& operator= (const Cell&) = default;
    bool operator== (const Cell& o) const { return row == o.row && column == o.column; }
};

namespace detail
{
/** Allocates n zeroed elements, 64-byte aligned; a byte count that would overflow throws
    std::bad_alloc instead of wrapping around. n = 0 gives null. */
void* allocateZeroed (std::size_t n, std::size_t elementSize);
void release (void* p) noexcept;
void zero (void* p, std::size_t bytes) noexcept;
/** a x b, or std::bad_alloc when the product does not fit a size_t. */
std::size_t checkedProduct (std::size_t a, std::size_t b);
} // namespace detail

/** A one-dimensional array that caches its extreme values. */
template <typename T>
class ArrayOf
{
public:
    T* data = nullptr;
    std::uint64_t length = 0;
    T maxValue = 0;
    T minValue = 0;

    ArrayOf() = default;
    explicit ArrayOf (unsigned long n) { ArrayOf::create (n); }
    virtual ~ArrayOf() { freeData(); }
    ArrayOf (const ArrayOf&) = delete;
    ArrayOf& operator= (const ArrayOf&) = delete;

    /** Resizes to n zeroed elements; a same-size call keeps the block and clears it. */
    virtual void create (unsigned long n)
    {
        if (n != length || (n > 0 && data == nullptr))
        {
            freeData();
            data = static_cast<T*> (detail::allocateZeroed (n, sizeof (T)));
            length = n;
        }
        else if (n > 0)
        {
            detail::zero (data, n * sizeof (T));
        }
    }

    /** Frees the elements; length and cached extremes become 0. */
    void destroy() noexcept { freeData(); }

    T findMax() noexcept;
    T findMin() noexcept;
    float mean() const noexcept;
    float rms() const noexcept;
    float squareRms() const noexcept;

    T& operator[] (std::size_t i) noexcept { return data[i]; }
    const T& operator[] (std::size_t i) const noexcept { return data[i]; }

private:
    void freeData() noexcept
    {
        detail::release (data);
        data = nullptr;
        length = 0;
        maxValue = 0;
        minValue = 0;
    }
};

/** Channels x samples in one block; row r starts at element r x length. */
template <typename T>
class ArrayOfArrays
{
public:
    T* data = nullptr;
    std::uint64_t rows = 0;
    std::uint64_t length = 0;

    ArrayOfArrays() = default;
    virtual ~ArrayOfArrays() { ArrayOfArrays::destroy(); }
    ArrayOfArrays (const ArrayOfArrays&) = delete;
    ArrayOfArrays& operator= (const ArrayOfArrays&) = delete;

    virtual void clear()
    {
        if (data != nullptr)
            detail::zero (data, rows * length * sizeof (T));
    }

    /** Always reallocates rows x length zeroed elements. */
    virtual void create (unsigned long numRows, unsigned long rowLength)
    {
        destroy();
        data = static_cast<T*> (detail::allocateZeroed (detail::checkedProduct (numRows, rowLength), sizeof (T)));
        rows = numRows;
        length = rowLength;
        clear();
    }

    virtual void destroy()
    {
        detail::release (data);
        data = nullptr;
        rows = 0;
        length = 0;
    }

    T* row (std::uint64_t r) noexcept { return data + r * length; }
    const T* row (std::uint64_t r) const noexcept { return data + r * length; }
};

/** A split-complex vector: the form in which the engine holds every spectrum. */
class ComplexVector
{
public:
    float* real = nullptr;
    float* imag = nullptr;
    std::uint64_t length = 0;
    std::uint64_t filled = 0;

    ComplexVector() = default;
    explicit ComplexVector (unsigned long n) { create (n); }
    ~ComplexVector() { destroy(); }
    ComplexVector (const ComplexVector&) = delete;

    void create (unsigned long n);
    void destroy() noexcept;
    void clear() noexcept;
    void copyFrom (const ComplexVector& other) noexcept;
    ComplexVector& operator= (const ComplexVector& other) noexcept { copyFrom (other); return *this; }
    void append (const ComplexVector& other) noexcept;
    ComplexVector& operator+= (const ComplexVector& other) noexcept { append (other); return *this; }
    void append (const float* re, const float* im, unsigned long n) noexcept;

    /** The split-complex view the vector layer works on; no data is copied. */
    Dsp::SplitComplex split() noexcept { return { real, imag }; }
    Dsp::ConstSplitComplex split() const noexcept { return { real, imag }; }
};

/** An array of equally long complex vectors: partition spectra, or input spectra per channel. */
class ArrayOfComplexVectors
{
public:
    ComplexVector* vectors = nullptr;
    std::uint64_t count = 0;

    ArrayOfComplexVectors() = default;
    ~ArrayOfComplexVectors() { destroy(); }
    ArrayOfComplexVectors (const ArrayOfComplexVectors&) = delete;

    void create (unsigned long numVectors, unsigned long vectorLength);
    void clear() noexcept;
    void destroy() noexcept;
    float realAt (unsigned long i, unsigned long j) const noexcept { return vectors[i].real[j]; }
    float imagAt (unsigned long i, unsigned long j) const noexcept { return vectors[i].imag[j]; }
    /** Copies, decimating or spreading when the vector lengths differ. */
    void copyFrom (const ArrayOfComplexVectors& other) noexcept;
    ArrayOfComplexVectors& operator= (const ArrayOfComplexVectors& other) noexcept;

    ComplexVector& operator[] (std::size_t i) noexcept { return vectors[i]; }
    const ComplexVector& operator[] (std::size_t i) const noexcept { return vectors[i]; }
};

/** A waveform thumbnail: one bin per horizontal pixel, each the extreme of its samples. */
class ThumbData : public ArrayOf<float>
{
public:
    bool valid = false;

    void create (unsigned long bins) override;
    void reset() noexcept;
    void set (const float* samples, unsigned long n, float scale) noexcept;
    void set (ArrayOf<float>& samples, float scale) noexcept { set (samples.data, (unsigned long) samples.length, scale); }
};

/** A ring of partition indices: entry k names the segment played k partitions from now. */
class IndexCircularBuffer : public ArrayOf<int>
{
public:
    void create (unsigned long n) override;
    void reset (bool reversed) noexcept;
    void rotateLeft() noexcept;
    void rotateRight() noexcept;
};

/** Root mean square of n floats. */
float PMRms (float* p, unsigned long n);
/** False (and "Null output" on stdout) when the n floats are all exactly zero. */
bool zeroCheck (float* p, unsigned long n);

// ArrayOf members that go through the vector layer; int arrays use plain loops.
template <>
float ArrayOf<float>::findMax() noexcept;
template <>
float ArrayOf<float>::findMin() noexcept;
template <>
float ArrayOf<float>::mean() const noexcept;
template <>
float ArrayOf<float>::rms() const noexcept;
template <>
float ArrayOf<float>::squareRms() const noexcept;
template <>
int ArrayOf<int>::findMax() noexcept;
template <>
int ArrayOf<int>::findMin() noexcept;
} // namespace PM

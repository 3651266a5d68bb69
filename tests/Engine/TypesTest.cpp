#include "Engine/PMTypes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <new>

using namespace PM;

namespace
{
template <typename T>
std::vector<T> contents (const ArrayOf<T>& a)
{
    return std::vector<T> (a.data, a.data + a.length);
}
} // namespace

TEST (ArrayOf, SameSizeCreateKeepsBlockClearsDataKeepsExtremes)
{
    ArrayOf<float> a (8);
    for (int i = 0; i < 8; ++i)
        a[i] = float (i - 3);
    EXPECT_EQ (a.findMax(), 4.0f);
    EXPECT_EQ (a.findMin(), -3.0f);
    float* block = a.data;
    a.create (8);
    EXPECT_EQ (a.data, block);
    EXPECT_EQ (contents (a), std::vector<float> (8, 0.0f));
    EXPECT_EQ (a.maxValue, 4.0f);
    a.create (9);
    EXPECT_EQ (a.length, 9u);
    EXPECT_EQ (a.maxValue, 0.0f);
    EXPECT_EQ (contents (a), std::vector<float> (9, 0.0f));
}

TEST (ArrayOf, StatisticsAndExtremes)
{
    ArrayOf<float> a (3);
    a[0] = -3; a[1] = 1; a[2] = 2;
    EXPECT_EQ (a.findMax(), 2.0f);
    EXPECT_EQ (a.maxValue, 2.0f);
    EXPECT_EQ (a.findMin(), -3.0f);
    a[0] = 1; a[1] = 2; a[2] = 3;
    EXPECT_FLOAT_EQ (a.mean(), 2.0f);
    EXPECT_FLOAT_EQ (a.squareRms(), 14.0f / 3.0f);
    ArrayOf<float> b (2);
    b[0] = 3; b[1] = 4;
    EXPECT_FLOAT_EQ (b.rms(), std::sqrt (12.5f));
    EXPECT_FLOAT_EQ (PMRms (b.data, 2), std::sqrt (12.5f));
    ArrayOf<float> z (4);
    EXPECT_FALSE (zeroCheck (z.data, 4));
    EXPECT_TRUE (zeroCheck (b.data, 2));
}

TEST (ArrayOf, OverflowingSizesAreAllocationFailures)
{
    ArrayOf<float> a;
    EXPECT_THROW (a.create (std::numeric_limits<unsigned long>::max() / 2), std::bad_alloc);
    ArrayOfArrays<float> aa;
    EXPECT_THROW (aa.create (1ul << 40, 1ul << 40), std::bad_alloc);
    EXPECT_EQ (aa.data, nullptr);
    EXPECT_EQ (aa.rows, 0u);
}

TEST (ArrayOfArrays, CreateZeroesRowsAndDestroyEmpties)
{
    ArrayOfArrays<float> a;
    a.create (2, 5);
    a.row (1)[4] = 7.0f;
    EXPECT_EQ (a.data[9], 7.0f);
    a.create (2, 5);
    EXPECT_EQ (a.data[9], 0.0f);
    a.destroy();
    EXPECT_EQ (a.data, nullptr);
    EXPECT_EQ (a.rows, 0u);
    EXPECT_EQ (a.length, 0u);
}

TEST (IndexCircularBuffer, RotationsAndResets)
{
    IndexCircularBuffer ring;
    ring.create (4);
    EXPECT_EQ (contents (ring), (std::vector<int> { 0, 1, 2, 3 }));
    ring.rotateLeft();
    EXPECT_EQ (contents (ring), (std::vector<int> { 1, 2, 3, 0 }));
    ring.reset (false);
    ring.rotateRight();
    EXPECT_EQ (contents (ring), (std::vector<int> { 3, 0, 1, 2 }));
    ring.reset (true);
    EXPECT_EQ (contents (ring), (std::vector<int> { 0, 3, 2, 1 }));
    IndexCircularBuffer empty;
    empty.rotateLeft();
    empty.rotateRight();
    EXPECT_EQ (empty.length, 0u);
}

TEST (ThumbData, BinsTakeTheExtremeOfLargerMagnitude)
{
    ThumbData t;
    t.create (4);
    EXPECT_FALSE (t.valid);
    const float s[] = { 0, -5, 1, 2, 3, -3, 0.5f, 0 };
    t.set (s, 8, 1.0f);
    EXPECT_EQ (contents<float> (t), (std::vector<float> { -5, 2, -3, 0.5f }));
    EXPECT_EQ (t.maxValue, 2.0f);
    EXPECT_EQ (t.minValue, -5.0f);
    EXPECT_TRUE (t.valid);

    ThumbData wide;
    wide.create (8);
    for (int i = 0; i < 8; ++i)
        wide[i] = 9.0f;
    const float few[] = { 1, 2, 3, 4 };
    wide.set (few, 4, 2.0f);
    EXPECT_EQ (contents<float> (wide), (std::vector<float> { 2, 4, 6, 8, 9, 9, 9, 9 }));
    wide.reset();
    EXPECT_FALSE (wide.valid);
    EXPECT_EQ (wide[5], 0.0f);
}

TEST (ComplexVector, AppendCopyAndClear)
{
    ComplexVector a (4), b (3);
    for (int i = 0; i < 3; ++i)
    {
        b.real[i] = float (i + 1);
        b.imag[i] = float (-i - 1);
    }
    a.filled = 2;
    a.append (b);
    EXPECT_EQ (a.filled, 4u);
    EXPECT_EQ (a.real[2], 1.0f);
    EXPECT_EQ (a.imag[3], -2.0f);
    a.append (nullptr, b.imag, 3);  // full: nothing more fits
    EXPECT_EQ (a.filled, 4u);

    ComplexVector c (2);
    c.copyFrom (b);
    EXPECT_EQ (c.filled, 2u);
    EXPECT_EQ (c.real[1], 2.0f);
    c.clear();
    EXPECT_EQ (c.real[1], 0.0f);
    EXPECT_EQ (c.filled, 0u);
    Dsp::SplitComplex view = c.split();
    EXPECT_EQ (view.realp, c.real);
    EXPECT_EQ (view.imagp, c.imag);
}

TEST (ArrayOfComplexVectors, CopyResamplesBetweenLengths)
{
    ArrayOfComplexVectors empty;
    empty.create (0, 512);
    EXPECT_EQ (empty.count, 0u);
    empty.clear();

    ArrayOfComplexVectors longer, shorter;
    longer.create (2, 8);
    shorter.create (2, 4);
    for (int j = 0; j < 8; ++j)
        longer[1].real[j] = float (j);
    shorter.copyFrom (longer);  // decimate by 2
    EXPECT_EQ (shorter.realAt (1, 3), 6.0f);

    for (int j = 0; j < 4; ++j)
        shorter[0].imag[j] = float (j + 1);
    longer.copyFrom (shorter);  // spread by 2, scaled by 1/2
    EXPECT_EQ (longer.imagAt (0, 6), 2.0f);
    EXPECT_EQ (longer.imagAt (0, 7), 2.0f);

    ArrayOfComplexVectors same;
    same.create (3, 4);
    same = shorter;
    EXPECT_EQ (same.imagAt (0, 3), 4.0f);
}

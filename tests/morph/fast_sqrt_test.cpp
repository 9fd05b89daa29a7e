#include "morph/fast_sqrt.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace {

class FastSqrtTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { InitFastSqrt(); }
};

float FromBits(uint32_t bits) {
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

TEST_F(FastSqrtTest, ExactSquaresComeOutExact) {
    EXPECT_EQ(FastSqrt(0.0f), 0.0f);
    EXPECT_EQ(FastSqrt(0.25f), 0.5f);
    EXPECT_EQ(FastSqrt(1.0f), 1.0f);
    EXPECT_EQ(FastSqrt(4.0f), 2.0f);
    EXPECT_EQ(FastSqrt(9.0f), 3.0f);
    EXPECT_EQ(FastSqrt(1024.0f), 32.0f);
    EXPECT_EQ(FastSqrt(1.0f / 1024.0f), 1.0f / 32.0f);
}

TEST_F(FastSqrtTest, TwoGivesTheNearestFloatToRootTwo) {
    EXPECT_EQ(FastSqrt(2.0f), static_cast<float>(std::sqrt(2.0)));
    EXPECT_EQ(FastSqrt(2.0f), 1.41421354f);
}

TEST_F(FastSqrtTest, RelativeErrorStaysWithinTwoToTheMinusSixteenOverAllNormals) {
    // Every 251st bit pattern of the positive normal floats, both exponent parities.
    double worst = 0.0;
    for (uint64_t bits = 0x00800000u; bits < 0x7F800000u; bits += 251) {
        float x = FromBits(static_cast<uint32_t>(bits));
        double exact = std::sqrt(static_cast<double>(x));
        double err = std::fabs(static_cast<double>(FastSqrt(x)) - exact) / exact;
        if (err > worst) worst = err;
        ASSERT_LE(err, std::ldexp(1.0, -16)) << "x = " << x;
    }
    // The truncation of the low 8 mantissa bits must show: an exact root everywhere would
    // mean the table is bypassed.
    EXPECT_GT(worst, std::ldexp(1.0, -20));
}

TEST_F(FastSqrtTest, TableEntriesAreMantissasOfTheirRoots) {
    // Entry i (even exponent) is the root of 2(1 + i/32768); entry 32768 + i of 1 + i/32768.
    for (uint32_t i : {0u, 1u, 12345u, 32767u}) {
        float evenRoot = static_cast<float>(std::sqrt(2.0 * (1.0 + i / 32768.0)));
        float oddRoot = static_cast<float>(std::sqrt(1.0 + i / 32768.0));
        uint32_t e, o;
        std::memcpy(&e, &evenRoot, 4);
        std::memcpy(&o, &oddRoot, 4);
        EXPECT_EQ(sqrtMantissaTable[i], e & 0x7FFFFFu);
        EXPECT_EQ(sqrtMantissaTable[32768u + i], o & 0x7FFFFFu);
    }
}

}  // namespace

// The helper's limits follow the validated picture: never below what its pixels alone take,
// growing with the picture, and as large as the largest allowed when the size is not known.
#include "image/decode_budget.h"

#include <gtest/gtest.h>

TEST(DecodeBudget, FollowsThePictureItIsFor) {
    auto header = [](long long w, long long h) {
        ImageHeader result;
        result.format = ImageFormat::kPng;
        result.width = w;
        result.height = h;
        return result;
    };
    DecodeBudget small = DecodeBudgetFor(header(319, 239), 4000);
    DecodeBudget photo = DecodeBudgetFor(header(4000, 3000), 4000000);
    DecodeBudget largest = DecodeBudgetFor(header(16384, 16384), 1 << 20);
    DecodeBudget unknown = DecodeBudgetFor(header(-1, -1), 1 << 20);
    for (const DecodeBudget* budget : {&small, &photo, &largest, &unknown}) {
        EXPECT_GE(budget->wallSeconds, budget->cpuSeconds);
        EXPECT_GT(budget->cpuSeconds, 0);
    }
    EXPECT_LT(small.cpuSeconds, largest.cpuSeconds);
    EXPECT_LE(small.cpuSeconds, photo.cpuSeconds);
    EXPECT_LT(small.memoryMiB, photo.memoryMiB);
    // The reply's own RGBA pixels and the file must fit, with the libraries besides.
    EXPECT_GT(largest.memoryMiB, (16384LL * 16384 * 4 + (1 << 20)) >> 20);
    EXPECT_GT(DecodeBudgetFor(header(1000, 1000), 3LL << 30).memoryMiB, 3LL << 10);
    EXPECT_EQ(unknown.memoryMiB, largest.memoryMiB);
    EXPECT_EQ(unknown.cpuSeconds, largest.cpuSeconds);
}

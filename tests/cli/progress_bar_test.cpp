// The progress bar's text: the part done, the frames written, their rate and the time left,
// estimated only once there is something to estimate from.
#include "cli/progress_bar.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

TEST(ProgressLine, SaysFramesRateAndTimeLeft) {
    struct Case {
        float fraction;
        int written, frames;
        double seconds;
        std::vector<std::string> holds;
        std::vector<std::string> lacks;
    };
    const Case cases[] = {
        {0.25f, 5, 20, 10, {" 25%", "5/20 frames", "0.5 frames/s", "0:30 left"}, {"done"}},
        {0.0f, 0, 20, 3, {"  0%", "0/20 frames", "0.0 frames/s"}, {"left"}},  // nothing to estimate from
        {0.5f, 0, 1, 10, {" 50%", "0:10 left"}, {"frames"}},                  // a single frame
        {0.5f, 1, 2, 4000, {"1:06:40 left"}, {}},
        {1.0f, 20, 20, 8, {"100%", "20/20 frames", "2.5 frames/s", "done in 0:08"}, {"left"}},
        {1.7f, 3, 3, 1, {"100%"}, {"170"}},  // clamped
    };
    for (const Case& c : cases) {
        std::string line = ProgressLine(c.fraction, c.written, c.frames, c.seconds);
        for (const std::string& part : c.holds) EXPECT_NE(std::string::npos, line.find(part)) << line << " lacks " << part;
        for (const std::string& part : c.lacks) EXPECT_EQ(std::string::npos, line.find(part)) << line << " holds " << part;
    }
    // The bar fills in proportion.
    std::string quarter = ProgressLine(0.25f, 0, 1, 1), whole = ProgressLine(1.0f, 0, 1, 1);
    size_t quarterFill = std::count(quarter.begin(), quarter.end(), '#'), wholeFill = std::count(whole.begin(), whole.end(), '#');
    EXPECT_EQ(wholeFill / 4, quarterFill);
}

}  // namespace

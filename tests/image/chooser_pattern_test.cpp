// The choosers' patterns: each keeps its own list as a prefix and gains, once each, the
// extensions of every format the program reads, and never those of palettes.
#include "image/chooser_pattern.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<std::string> PatternExtensions(const std::string& pattern) {
    std::vector<std::string> extensions;
    const size_t open = pattern.find('{');
    std::istringstream in(pattern.substr(open + 1, pattern.rfind('}') - open - 1));
    std::string extension;
    while (std::getline(in, extension, ',')) extensions.push_back(extension);
    return extensions;
}

bool Lists(const std::vector<std::string>& listed, const std::string& extension) {
    return std::find(listed.begin(), listed.end(), extension) != listed.end();
}

}  // namespace

TEST(ChooserPattern, KeepsItsOwnListAndGainsEveryReadableExtensionOnce) {
    // The extensions that the README's table of formats says are read.
    const std::vector<std::string> documented = {
        "png", "jpg", "jpeg", "bmp", "tif", "tiff", "webp", "heic", "heif", "avif", "tga", "pcx", "dds",
        "pnm", "ppm", "sgi", "raw", "gif", "mng", "psd", "psp", "cut", "dcx", "ico", "lbm", "lif", "mdl", "pcd",
        "pic", "wal"};
    struct Case {
        std::string pattern;
        bool listsPalettes;
    };
    const Case cases[] = {
        {"*.{bmp,cut,dcx,dds,ico,jpg,lbm,lif,mdl,pcd,pcx,pic,png,pnm,psd,psp,raw,sgi,tga,tif,wal,act,pal}", true},
        {"*.{jpg,png,bmp,tga,gif}", false},
        {"*.{png}", false},
    };
    for (const Case& c : cases) {
        const std::string grown = WithEveryReadableExtension(c.pattern);
        SCOPED_TRACE(grown);
        const std::string open = c.pattern.substr(0, c.pattern.size() - 1);
        EXPECT_EQ(grown.compare(0, open.size(), open), 0) << "the original list is not kept as it was";
        EXPECT_EQ(grown.back(), '}');
        const std::vector<std::string> listed = PatternExtensions(grown);
        EXPECT_EQ(std::set<std::string>(listed.begin(), listed.end()).size(), listed.size()) << "listed twice";
        for (const std::string& extension : documented) EXPECT_TRUE(Lists(listed, extension)) << extension;
        EXPECT_EQ(Lists(listed, "pal"), c.listsPalettes);
        EXPECT_EQ(Lists(listed, "act"), c.listsPalettes);
        EXPECT_EQ(WithEveryReadableExtension(grown), grown);
    }
    EXPECT_EQ(WithEveryReadableExtension("*.mrf"), "*.mrf");
}

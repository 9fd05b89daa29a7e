#include "document/mrf_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <cstring>
#include <functional>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "image/pixel_image.h"
#include "morph/morph_scene.h"
#include "support/small_disk.h"
#include "support/temp_folder.h"

namespace {

using Bytes = std::vector<unsigned char>;

uint32_t Bits(float f) {
    uint32_t b;
    std::memcpy(&b, &f, 4);
    return b;
}

void SetU32(Bytes& bytes, size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<unsigned char>(value >> (8 * i));
}

uint32_t U32At(const Bytes& bytes, size_t offset) {
    return bytes[offset] | bytes[offset + 1] << 8 | bytes[offset + 2] << 16 | static_cast<uint32_t>(bytes[offset + 3]) << 24;
}

// A set-up as the editor would hand it to the writer: two named images and pairs of lists.
struct Scene : MorphScene {

    Scene(const std::string& pathA, const std::string& pathB, size_t pairs, unsigned seed = 3) {
        imageA.fileName = pathA;
        imageB.fileName = pathB;
        std::mt19937 random(seed);
        std::uniform_real_distribution<float> coordinate(-0.5f, 1.5f);
        for (size_t i = 0; i < pairs; ++i) {
            segmentsA.emplace_back(Point(coordinate(random), coordinate(random)), Point(coordinate(random), coordinate(random)));
            segmentsB.emplace_back(Point(coordinate(random), coordinate(random)), Point(coordinate(random), coordinate(random)));
        }
    }

    Bytes Encode() const {
        Bytes bytes;
        EXPECT_EQ(0, EncodeMorphDocument(settings, bytes));
        return bytes;
    }
};

// The record a loader fills: lists of its own.
struct Loaded {
    SegmentList listA, listB;
    MorphSettings settings;
    Loaded() {
        settings.segmentsA = &listA;
        settings.segmentsB = &listB;
    }
    int Read(const Bytes& bytes) { return ReadMorphBuffer(bytes.data(), bytes.size(), settings); }
};

bool SameEndpointBits(const SegmentList& a, const SegmentList& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (Bits(a[i].P.x) != Bits(b[i].P.x) || Bits(a[i].P.y) != Bits(b[i].P.y) || Bits(a[i].Q.x) != Bits(b[i].Q.x) ||
            Bits(a[i].Q.y) != Bits(b[i].Q.y)) {
            return false;
        }
    }
    return true;
}

TEST(MrfWriter, WritesTheDocumentLayoutByteForByte) {
    Scene scene("a.png", "dir/b.bmp", 2);
    scene.settings.warpFrac = 0.25f;
    scene.settings.dissoveFrac = 0.75f;
    Bytes bytes = scene.Encode();
    ASSERT_EQ(44u + 6 + 10 + 2 * 32, bytes.size());
    EXPECT_EQ(Bytes({'M', 'R', 'F', 0}), Bytes(bytes.begin(), bytes.begin() + 4));
    EXPECT_EQ(1u, U32At(bytes, 4));
    EXPECT_EQ(44u, U32At(bytes, 8));
    EXPECT_EQ(6u, U32At(bytes, 12));
    EXPECT_EQ(10u, U32At(bytes, 16));
    EXPECT_EQ(2u, U32At(bytes, 20));
    // warpFrac is stored before dissoveFrac.
    EXPECT_EQ(Bits(0.25f), U32At(bytes, 24));
    EXPECT_EQ(Bits(0.75f), U32At(bytes, 28));
    EXPECT_EQ(Bits(0.01f), U32At(bytes, 32));
    EXPECT_EQ(Bits(2.0f), U32At(bytes, 36));
    EXPECT_EQ(Bits(0.2f), U32At(bytes, 40));
    EXPECT_EQ(std::string("a.png", 6), std::string(bytes.begin() + 44, bytes.begin() + 50));
    EXPECT_EQ(std::string("dir/b.bmp", 10), std::string(bytes.begin() + 50, bytes.begin() + 60));
    const SegmentList& a = scene.segmentsA;
    const SegmentList& b = scene.segmentsB;
    const float second[8] = {a[1].P.x, a[1].P.y, a[1].Q.x, a[1].Q.y, b[1].P.x, b[1].P.y, b[1].Q.x, b[1].Q.y};
    for (int k = 0; k < 8; ++k) EXPECT_EQ(Bits(second[k]), U32At(bytes, 60 + 32 + 4 * k)) << k;
}

TEST(MrfFile, SaveAndLoadRestoreEveryEndpointBitForBitInOrder) {
    TempFolder folder;
    std::string path = folder.File("scene.mrf");
    Scene scene("/images/left face.png", "right.tga", 257);
    // Values a text format would lose: a denormal, a negative zero, the largest float.
    scene.segmentsA[3].P.x = 1e-40f;
    scene.segmentsA[4].Q.y = -0.0f;
    scene.segmentsB[5].P.y = 3.4028235e38f;
    ASSERT_EQ(0, WriteMorphFile(path, scene.settings));
    EXPECT_EQ(44u + 22 + 10 + 257 * 32, ReadWholeFile(path).size());
    Loaded loaded;
    ASSERT_EQ(0, ReadMorphFile(path, loaded.settings));
    EXPECT_TRUE(SameEndpointBits(scene.segmentsA, loaded.listA));
    EXPECT_TRUE(SameEndpointBits(scene.segmentsB, loaded.listB));
    EXPECT_EQ("/images/left face.png", loaded.settings.imagePathA);
    EXPECT_EQ("right.tga", loaded.settings.imagePathB);
    EXPECT_EQ(0.5f, loaded.settings.warpFrac);
    EXPECT_EQ(0.2f, loaded.settings.p);
    EXPECT_EQ(std::vector<std::string>{"scene.mrf"}, folder.Entries());
}

TEST(MrfFile, NoPairsGiveAShortDocumentThatEmptiesTheLists) {
    Scene scene("a", "bb", 0);
    Bytes bytes = scene.Encode();
    EXPECT_EQ(44u + 2 + 3, bytes.size());
    Loaded loaded;
    loaded.listA.resize(4);
    loaded.listB.resize(4);
    ASSERT_EQ(0, loaded.Read(bytes));
    EXPECT_TRUE(loaded.listA.empty());
    EXPECT_TRUE(loaded.listB.empty());
}

TEST(MrfFile, BackslashesAreWrittenAsTheyAreAndReadAsSlashes) {
    Scene scene("C:\\pics\\a.png", "..\\b.png", 1);
    Bytes bytes = scene.Encode();
    EXPECT_EQ('\\', bytes[44 + 2]);
    Loaded loaded;
    ASSERT_EQ(0, loaded.Read(bytes));
    EXPECT_EQ("C:/pics/a.png", loaded.settings.imagePathA);
    EXPECT_EQ("../b.png", loaded.settings.imagePathB);
}

// Each malformed document of the format's failure list, made by changing a valid one.
struct Malformed {
    const char* name;
    std::function<void(Bytes&)> change;
    const char* reason;  // what the reader says, so that no case passes for the wrong failure
};

void PrintTo(const Malformed& m, std::ostream* out) { *out << m.name; }

class MrfReaderRefuses : public testing::TestWithParam<Malformed> {};

TEST_P(MrfReaderRefuses, TheDocument) {
    Scene scene("first.png", "second.png", 3);
    Bytes bytes = scene.Encode();
    GetParam().change(bytes);
    Loaded loaded;
    std::string reason;
    EXPECT_EQ(-1, ReadMorphBuffer(bytes.data(), bytes.size(), loaded.settings, reason));
    EXPECT_EQ(GetParam().reason, reason);
}

const size_t kRecords = 44 + 10 + 11;  // where the records of the document above begin
const char kNoMagic[] = "it does not begin with the bytes M, R, F and zero of a morph document";

INSTANTIATE_TEST_SUITE_P(
    Cases, MrfReaderRefuses,
    testing::Values(
        Malformed{"Empty", [](Bytes& b) { b.clear(); }, "the document is empty"},
        Malformed{"EndsInsideHeader", [](Bytes& b) { b.resize(11); }, "the document ends inside its 12-byte header, after 11 bytes"},
        Malformed{"EndsInsideBlock", [](Bytes& b) { b.resize(43); }, "the document ends inside its 32-byte parameter block, after 31 bytes"},
        Malformed{"VersionTwo", [](Bytes& b) { SetU32(b, 4, 2); }, "version 2 is newer than this reader"},
        Malformed{"VersionHuge", [](Bytes& b) { SetU32(b, 4, 0xFFFFFFFFu); }, "version 4294967295 is newer than this reader"},
        Malformed{"FourthMagicByteNotZero", [](Bytes& b) { b[3] = ' '; }, kNoMagic},
        Malformed{"OtherMagic", [](Bytes& b) { b[0] = 'm'; }, kNoMagic},
        Malformed{"PathLengthA65536", [](Bytes& b) { SetU32(b, 12, 65536); }, "the path length of image A is 65536, above the limit of 65535"},
        Malformed{"PathLengthB65536", [](Bytes& b) { SetU32(b, 16, 65536); }, "the path length of image B is 65536, above the limit of 65535"},
        Malformed{"PairCount65536", [](Bytes& b) { SetU32(b, 20, 65536); }, "the pair count is 65536, above the limit of 65535"},
        Malformed{"PairCountHuge", [](Bytes& b) { SetU32(b, 20, 0xFFFFFFFFu); }, "the pair count is 4294967295, above the limit of 65535"},
        Malformed{"PathLengthAZero", [](Bytes& b) { SetU32(b, 12, 0); }, "the path field of image A has length 0"},
        Malformed{"PathLengthBZero", [](Bytes& b) { SetU32(b, 16, 0); }, "the path field of image B has length 0"},
        Malformed{"EndsInsidePaths", [](Bytes& b) { b.resize(50); }, "the document ends inside the path of image A (6 of its 10 bytes)"},
        Malformed{"EndsInsideRecords", [](Bytes& b) { b.resize(kRecords + 2 * 32 + 31); }, "the pair records end inside pair 2 of 3"},
        Malformed{"OneRecordMissing", [](Bytes& b) { b.resize(kRecords + 2 * 32); }, "the pair records end before pair 2 of 3"},
        Malformed{"PairCountAboveRecords", [](Bytes& b) { SetU32(b, 20, 4); }, "the pair records end before pair 3 of 4"},
        Malformed{"PathsOffsetPastTheEnd", [](Bytes& b) { SetU32(b, 8, static_cast<uint32_t>(b.size()) + 1); }, "the document ends before the path of image A"},
        Malformed{"PathsOffsetLargest", [](Bytes& b) { SetU32(b, 8, 0xFFFFFFFFu); }, "the document ends before the path of image A"},
        Malformed{"PathLengthsPastTheEnd", [](Bytes& b) { SetU32(b, 12, 65535); }, "the document ends inside the path of image A (117 of its 65535 bytes)"}),
    [](const testing::TestParamInfo<Malformed>& info) { return std::string(info.param.name); });

TEST(MrfReader, AcceptsVersionZero) {
    Scene scene("a.png", "b.png", 2);
    Bytes bytes = scene.Encode();
    SetU32(bytes, 4, 0);
    Loaded loaded;
    EXPECT_EQ(0, loaded.Read(bytes));
    EXPECT_EQ(2u, loaded.listA.size());
}

TEST(MrfReader, LimitsOf65535PathBytesAndPairsPass) {
    std::string longPath(65534, 'p');
    Scene scene(longPath, "b.png", 65535);
    Bytes bytes = scene.Encode();
    EXPECT_EQ(65535u, U32At(bytes, 12));
    EXPECT_EQ(65535u, U32At(bytes, 20));
    Loaded loaded;
    ASSERT_EQ(0, loaded.Read(bytes));
    EXPECT_EQ(longPath, loaded.settings.imagePathA);
    EXPECT_EQ(65535u, loaded.listB.size());
    EXPECT_TRUE(SameEndpointBits(scene.segmentsB, loaded.listB));
}

TEST(MrfReader, HonoursALargerPathsOffset) {
    Scene scene("a.png", "b.png", 2);
    Bytes bytes = scene.Encode();
    bytes.insert(bytes.begin() + 44, 13, 0xEE);
    SetU32(bytes, 8, 44 + 13);
    Loaded loaded;
    ASSERT_EQ(0, loaded.Read(bytes));
    EXPECT_EQ("a.png", loaded.settings.imagePathA);
    EXPECT_EQ("b.png", loaded.settings.imagePathB);
    EXPECT_TRUE(SameEndpointBits(scene.segmentsA, loaded.listA));
}

TEST(MrfReader, IgnoresTrailingBytes) {
    Scene scene("a.png", "b.png", 2);
    Bytes bytes = scene.Encode();
    bytes.insert(bytes.end(), 100, 0x42);
    Loaded loaded;
    ASSERT_EQ(0, loaded.Read(bytes));
    EXPECT_TRUE(SameEndpointBits(scene.segmentsB, loaded.listB));
}

TEST(MrfReader, TakesAPathFieldWithoutZeroByteWhole) {
    Scene scene("a.png", "b.png", 1);
    Bytes bytes = scene.Encode();
    bytes[44 + 5] = 'x';  // the zero byte that ends "a.png"
    Loaded loaded;
    ASSERT_EQ(0, loaded.Read(bytes));
    EXPECT_EQ("a.pngx", loaded.settings.imagePathA);
    EXPECT_EQ("b.png", loaded.settings.imagePathB);
}

TEST(MrfReader, StopsAPathAtItsFirstZeroByte) {
    Scene scene("ab\\cd", "b.png", 1);
    Bytes bytes = scene.Encode();
    bytes[44 + 1] = 0;
    Loaded loaded;
    ASSERT_EQ(0, loaded.Read(bytes));
    EXPECT_EQ("a", loaded.settings.imagePathA);
}

TEST(MrfReader, FileReaderRefusesLikeTheBufferReader) {
    TempFolder folder;
    Loaded loaded;
    EXPECT_EQ(-1, ReadMorphFile(folder.File("absent.mrf"), loaded.settings));
    EXPECT_EQ(-1, ReadMorphFile(folder.path, loaded.settings));
    Scene scene("a.png", "b.png", 2);
    Bytes bytes = scene.Encode();
    SetU32(bytes, 8, static_cast<uint32_t>(bytes.size()) + 1);
    WriteWholeFile(folder.File("offset.mrf"), std::string(bytes.begin(), bytes.end()));
    EXPECT_EQ(-1, ReadMorphFile(folder.File("offset.mrf"), loaded.settings));
    bytes = scene.Encode();
    bytes.resize(bytes.size() - 1);
    WriteWholeFile(folder.File("short.mrf"), std::string(bytes.begin(), bytes.end()));
    std::string reason;
    EXPECT_EQ(-1, ReadMorphFile(folder.File("short.mrf"), loaded.settings, reason));
    EXPECT_EQ("the pair records end inside pair 1 of 2", reason);
    // A FIFO without a writer would block a plain open for ever.
    ASSERT_EQ(0, mkfifo(folder.File("pipe.mrf").c_str(), 0600));
    EXPECT_EQ(-1, ReadMorphFile(folder.File("pipe.mrf"), loaded.settings, reason));
    EXPECT_EQ("is a FIFO, not a regular file", reason);
}

TEST(MrfReader, NeedsListsToFill) {
    Scene scene("a.png", "b.png", 1);
    Bytes bytes = scene.Encode();
    MorphSettings noLists;
    EXPECT_EQ(-1, ReadMorphBuffer(bytes.data(), bytes.size(), noLists));
}

TEST(MrfWriter, RefusesWhatTheReaderWouldRefuseAndWritesNothing) {
    TempFolder folder;
    std::string path = folder.File("refused.mrf");
    Scene tooMany("a.png", "b.png", 65536);
    EXPECT_EQ(-1, WriteMorphFile(path, tooMany.settings));
    Scene longPath(std::string(65535, 'p'), "b.png", 1);
    EXPECT_EQ(-1, WriteMorphFile(path, longPath.settings));
    Scene longPathB("a.png", std::string(65535, 'p'), 1);
    EXPECT_EQ(-1, WriteMorphFile(path, longPathB.settings));
    Scene uneven("a.png", "b.png", 3);
    uneven.segmentsB.pop_back();
    EXPECT_EQ(-1, WriteMorphFile(path, uneven.settings));
    EXPECT_TRUE(folder.Entries().empty());
}

TEST(MrfWriter, FailedSaveLeavesTheEarlierFileIntact) {
    TempFolder folder;
    std::string path = folder.File("kept.mrf");
    Scene first("a.png", "b.png", 2);
    ASSERT_EQ(0, WriteMorphFile(path, first.settings));
    std::string earlier = ReadWholeFile(path);
    Scene refused("a.png", "b.png", 65536);
    EXPECT_EQ(-1, WriteMorphFile(path, refused.settings));
    EXPECT_EQ(earlier, ReadWholeFile(path));
    EXPECT_EQ(-1, WriteMorphFile(folder.File("missing/folder/x.mrf"), first.settings));
    EXPECT_EQ(std::vector<std::string>{"kept.mrf"}, folder.Entries());
}

TEST(MrfWriter, FullDiskFailsWithTheReasonAndKeepsTheEarlierFile) {
    SmallDisk disk("64k");
    if (!disk.Available()) GTEST_SKIP() << disk.whyNot;
    std::string path = disk.File("kept.mrf");
    Scene small("a.png", "b.png", 1);
    ASSERT_EQ(0, WriteMorphFile(path, small.settings));
    std::string earlier = ReadWholeFile(path);
    Scene big("a.png", "b.png", 4000);  // 128 KB of records
    std::string reason;
    EXPECT_EQ(-1, WriteMorphFile(path, big.settings, reason));
    EXPECT_EQ("No space left on device", reason);
    EXPECT_EQ(earlier, ReadWholeFile(path));
    EXPECT_EQ(std::vector<std::string>{"kept.mrf"}, disk.Entries());
}

// A write that fails part-way (the file-size limit stops it after 4096 bytes) in a child
// process: the earlier document must survive whole and no temporary file may remain.
TEST(MrfWriterDeathTest, WriteFailingPartWayKeepsTheEarlierFile) {
    TempFolder folder;
    std::string path = folder.File("big.mrf");
    Scene small("a.png", "b.png", 1);
    ASSERT_EQ(0, WriteMorphFile(path, small.settings));
    std::string earlier = ReadWholeFile(path);
    Scene big("a.png", "b.png", 1000);
    auto failPartWay = [&]() {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        bool failed = WriteMorphFile(path, big.settings) == -1;
        bool intact = ReadWholeFile(path) == earlier;
        bool clean = folder.Entries().size() == 1;
        std::_Exit(failed && intact && clean ? 0 : 1);
    };
    EXPECT_EXIT(failPartWay(), testing::ExitedWithCode(0), "");
}

TEST(ToForwardSlashes, StopsAtTheFirstZeroByteAndTheSize) {
    char text[] = {'a', '\\', 'b', '\0', '\\', 'c'};
    ToForwardSlashes(text, sizeof text);
    EXPECT_EQ(0, std::memcmp(text, "a/b\0\\c", 6));
    char noZero[] = {'\\', '\\', '\\'};
    ToForwardSlashes(noZero, 2);
    EXPECT_EQ(0, std::memcmp(noZero, "//\\", 3));
}

}  // namespace

// quarro-sequence-before DOCUMENT FRAMES PATTERN: renders a sequence the way quarro-render did
// before its frame pipeline, for bench/sequence.sh to compare against: each frame rendered with
// 4 workers, then written through the image library's PNG writer, one after the other.
// The document's image paths are taken relative to the document's folder.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "document/mrf_file.h"
#include "image/image_file.h"
#include "morph/fast_sqrt.h"
#include "morph/image_morpher.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: quarro-sequence-before DOCUMENT FRAMES PATTERN\n");
        return 2;
    }
    InitFastSqrt();
    const std::string document = argv[1], pattern = argv[3];
    const int frames = std::atoi(argv[2]);
    std::string folder = document.substr(0, document.find_last_of('/') + 1);
    SegmentList segmentsA, segmentsB;
    CPixelImage imageA, imageB, output;
    MorphSettings settings;
    settings.segmentsA = &segmentsA;
    settings.segmentsB = &segmentsB;
    if (frames < 2 || ReadMorphFile(document, settings) != 0 || imageA.Load(folder + settings.imagePathA) != 0 ||
        imageB.Load(folder + settings.imagePathB) != 0) {
        std::fprintf(stderr, "quarro-sequence-before: %s could not be read\n", document.c_str());
        return 1;
    }
    settings.imageA = &imageA;
    settings.imageB = &imageB;
    settings.outputImage = &output;
    settings.a = 0.01f;
    settings.b = 2.0f;
    settings.p = 0.2f;
    settings.outputWidth = static_cast<uint32_t>(imageA.width);
    settings.outputHeight = static_cast<uint32_t>(imageA.height);
    CImageMorpher engine;
    engine.SetThreadCount(4);
    for (int index = 0; index < frames; ++index) {
        settings.warpFrac = settings.dissoveFrac = static_cast<float>(index / static_cast<double>(frames - 1));
        if (engine.StartMorph(settings) != 0) return 1;
        engine.WaitUntilIdle();
        char path[4096];
        std::snprintf(path, sizeof path, pattern.c_str(), index);
        if (WriteImageFile(path, output) != 0) return 1;
    }
    return 0;
}

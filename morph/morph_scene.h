// One morph's inputs and output held in one place: both pictures, both segment lists, the
// output image, and settings whose five pointers refer to them. For the renderer, the demo
// and benchmark generators and the tests, which own what the window's editor owns.
#pragma once

#include "image/pixel_image.h"
#include "morph/morph_settings.h"
#include "morph/segment_list.h"

struct MorphScene {
    CPixelImage imageA, imageB, output;
    SegmentList segmentsA, segmentsB;
    // Points at the members above; fractions, constants and output size are the owner's.
    MorphSettings settings;

    MorphScene() { Wire(); }
    // A copy owns copies of the pictures and lists, and its settings point at them.
    MorphScene(const MorphScene& other)
        : imageA(other.imageA), imageB(other.imageB), output(other.output), segmentsA(other.segmentsA),
          segmentsB(other.segmentsB), settings(other.settings) {
        Wire();
    }
    MorphScene& operator=(const MorphScene& other) {
        imageA = other.imageA;
        imageB = other.imageB;
        output = other.output;
        segmentsA = other.segmentsA;
        segmentsB = other.segmentsB;
        settings = other.settings;
        Wire();
        return *this;
    }

    void AddPair(const LineSegment& onA, const LineSegment& onB) {
        segmentsA.push_back(onA);
        segmentsB.push_back(onB);
    }

private:
    void Wire() {
        settings.imageA = &imageA;
        settings.imageB = &imageB;
        settings.outputImage = &output;
        settings.segmentsA = &segmentsA;
        settings.segmentsB = &segmentsB;
    }
};

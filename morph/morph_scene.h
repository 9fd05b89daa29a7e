// One morph's inputs and output held in one place: both pictures, both segment lists, the
// output image, and settings whose five pointers refer to them. For the renderer, the demo
// and benchmark generators and the tests, which own what the window's editor owns; and the
// one function that points a record at pictures and lists held elsewhere.
#pragma once

#include "image/pixel_image.h"
#include "morph/morph_settings.h"
#include "morph/segment_list.h"

// Points the five pointers of `settings` at the given pictures, output and lists.
inline void PointSettingsAt(MorphSettings& settings, CPixelImage& imageA, CPixelImage& imageB, CPixelImage& output,
                            SegmentList& segmentsA, SegmentList& segmentsB) {
    settings.imageA = &imageA;
    settings.imageB = &imageB;
    settings.outputImage = &output;
    settings.segmentsA = &segmentsA;
    settings.segmentsB = &segmentsB;
}

// What a scene owns, copied member by member.
struct MorphSceneData {
    CPixelImage imageA, imageB, output;
    SegmentList segmentsA, segmentsB;
};

struct MorphScene : MorphSceneData {
    // Points at the members above; fractions, constants and output size are the owner's.
    MorphSettings settings;

    MorphScene() { Wire(); }
    // A copy owns copies of the pictures and lists, and its settings point at them.
    MorphScene(const MorphScene& other) : MorphSceneData(other), settings(other.settings) { Wire(); }
    MorphScene& operator=(const MorphScene& other) {
        MorphSceneData::operator=(other);
        settings = other.settings;
        Wire();
        return *this;
    }

    void AddPair(const LineSegment& onA, const LineSegment& onB) {
        segmentsA.push_back(onA);
        segmentsB.push_back(onB);
    }

private:
    void Wire() { PointSettingsAt(settings, imageA, imageB, output, segmentsA, segmentsB); }
};

// quarro-make-demo FOLDER: draws the two demo pictures (a narrow face, and a wider face
// further right with its features spread out), saves them as FOLDER/demo_a.png and
// FOLDER/demo_b.png, and writes FOLDER/demo.mrf with segment pairs along the matching
// features. The document names the pictures relative to its own folder.
#include <cmath>
#include <cstdio>
#include <string>

#include "document/mrf_file.h"
#include "image/image_file.h"
#include "morph/morph_scene.h"

namespace {

const int kWidth = 319;
const int kHeight = 239;

// A face in the engine's working units (x from 0 at the left edge to 1 at the right, y from
// 0 at the top to 1 at the bottom). Every marked length is a power of two and every value is
// exact in binary, so the warp at fraction 0 and 1 leaves the end pictures in place.
struct Face {
    float cx, cy, halfWidth, halfHeight;  // the head, an ellipse
    float eyeLeft, eyeRight, eyeY;        // the eyes sit at the ends of the eye line
    float mouthLeft, mouthRight, mouthY;
    float eyeRadius;                      // pixels
    unsigned char skin[3];
    unsigned char sky[3];
};

void SetPixel(CPixelImage& image, int x, int y, const unsigned char* rgb) {
    unsigned char* p = image.pixels + (static_cast<size_t>(y) * image.width + x) * 4;
    p[0] = rgb[0];
    p[1] = rgb[1];
    p[2] = rgb[2];
    p[3] = 255;
}

void Draw(const Face& f, CPixelImage& image) {
    image.Allocate(kWidth, kHeight, 4);
    const unsigned char dark[3] = {30, 30, 40};
    const unsigned char white[3] = {250, 250, 250};
    const unsigned char lips[3] = {170, 30, 40};
    const unsigned char ground[3] = {60, 140, 60};
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            // Pixel centre, in pixels and in working units.
            float px = x + 0.5f, py = y + 0.5f;
            float ux = px / kWidth, uy = py / kHeight;
            // The sky darkens towards the top; a strip of ground runs along the bottom.
            unsigned char sky[3];
            for (int k = 0; k < 3; ++k) sky[k] = static_cast<unsigned char>(f.sky[k] * (0.6f + 0.4f * uy));
            const unsigned char* colour = uy > 0.9f ? ground : sky;
            float ex = (ux - f.cx) / f.halfWidth, ey = (uy - f.cy) / f.halfHeight;
            if (ex * ex + ey * ey < 1.0f) colour = f.skin;
            float eyeY = f.eyeY * kHeight;
            float eye = std::fmin(std::hypot(px - f.eyeLeft * kWidth, py - eyeY), std::hypot(px - f.eyeRight * kWidth, py - eyeY));
            if (eye < f.eyeRadius) colour = white;
            if (eye < f.eyeRadius * 0.5f) colour = dark;
            if (ux >= f.mouthLeft && ux <= f.mouthRight && std::fabs(py - f.mouthY * kHeight) < 4.0f) colour = lips;
            SetPixel(image, x, y, colour);
        }
    }
}

// A segment from working units to the document's coordinates, whose y runs upward.
LineSegment Segment(float x0, float y0, float x1, float y1) {
    return LineSegment(Point(x0, 1.0f - y0), Point(x1, 1.0f - y1));
}

// Pairs along the eyes, the mouth, and the head's width and height, in the same order on
// both faces.
void AddSegments(const Face& f, SegmentList& list) {
    list.push_back(Segment(f.eyeLeft, f.eyeY, f.eyeRight, f.eyeY));
    list.push_back(Segment(f.mouthLeft, f.mouthY, f.mouthRight, f.mouthY));
    list.push_back(Segment(f.cx - f.halfWidth, f.cy, f.cx + f.halfWidth, f.cy));
    list.push_back(Segment(f.cx, f.cy - f.halfHeight, f.cx, f.cy + f.halfHeight));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: quarro-make-demo FOLDER\n");
        return 2;
    }
    const std::string folder = argv[1];
    // A narrow yellow face on the left; a wide red one on the right with its features spread.
    const Face faceA = {0.3125f, 0.4375f, 0.125f, 0.25f, 0.25f, 0.375f, 0.375f, 0.25f, 0.375f, 0.5625f,
                        10.0f, {240, 200, 60}, {90, 150, 230}};
    const Face faceB = {0.625f, 0.46875f, 0.25f, 0.25f, 0.5f, 0.75f, 0.375f, 0.5f, 0.75f, 0.59375f,
                        14.0f, {230, 120, 90}, {240, 170, 110}};

    MorphScene scene;
    Draw(faceA, scene.imageA);
    Draw(faceB, scene.imageB);
    if (scene.imageA.Save(folder + "/demo_a.png") != 0 || scene.imageB.Save(folder + "/demo_b.png") != 0) {
        std::fprintf(stderr, "quarro-make-demo: could not write the pictures into %s\n", folder.c_str());
        return 1;
    }
    // The document names its pictures relative to its own folder, and carries the parameters
    // a document saved by the window carries.
    scene.imageA.fileName = "demo_a.png";
    scene.imageB.fileName = "demo_b.png";
    AddSegments(faceA, scene.segmentsA);
    AddSegments(faceB, scene.segmentsB);
    if (WriteMorphFile(folder + "/demo.mrf", scene.settings) != 0) {
        std::fprintf(stderr, "quarro-make-demo: could not write %s/demo.mrf\n", folder.c_str());
        return 1;
    }
    return 0;
}

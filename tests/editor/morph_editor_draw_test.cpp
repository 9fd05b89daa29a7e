// What the editor draws, read back from its GL frame buffer under Mesa's software GL.
#include <cmath>

#include "editor_fixture.h"
#include "image/image_file.h"
#include "support/recording_dialogs.h"
#include "support/temp_folder.h"

namespace {

// Widget position of a segment point (normalized, y upward) over the image rectangle.
void SegmentPointOnScreen(const CImageViewport& v, const Point& p, float& wx, float& wy) {
    int x0, y0, x1, y1;
    v.GetImageRect(&x0, &y0, &x1, &y1);
    float sx = static_cast<float>(x1 - x0 + 1), sy = static_cast<float>(y1 - y0 + 1);
    wx = static_cast<float>(x0) + p.x * sx - 0.5f;
    wy = static_cast<float>(y1) - (p.y * sy + 0.5f);
}

// Rows holding at least one pixel of the colour inside a (2r+1)-square around (x, y).
int RowsWithColour(const ScreenShot& s, float x, float y, int r, const std::function<bool(const Rgb&)>& test) {
    int cx = static_cast<int>(std::lround(x)), cy = static_cast<int>(std::lround(y));
    int rows = 0;
    for (int row = cy - r; row <= cy + r; ++row)
        if (s.Count(cx - r, row, cx + r + 1, row + 1, test) > 0) ++rows;
    return rows;
}

bool IsGreen(const Rgb& c) { return c.IsGreen(); }
bool IsRed(const Rgb& c) { return c.IsRed(); }
bool NotBlack(const Rgb& c) { return !c.IsBlack(); }

using EditorDrawing = EditorTest;

TEST_F(EditorDrawing, WithoutImagesTheAreaIsBlack) {
    ScreenShot s = Capture();
    ASSERT_EQ(s.width, kWidth);
    EXPECT_EQ(s.Count(0, 0, kWidth, kHeight, NotBlack), 0);
    // Segments without images are not drawn either.
    editor->controller->AddPair(Point(0.2f, 0.2f), Point(0.8f, 0.8f));
    s = Capture();
    EXPECT_EQ(s.Count(0, 0, kWidth, kHeight, NotBlack), 0);
}

TEST_F(EditorDrawing, ImageLoadedIntoSlotZeroShowsOnlyInTheLeftPanelWhereItIsFitted) {
    TempFolder folder;
    CPixelImage picture;
    // Top half orange, bottom half blue: the first stored row must come out at the top.
    FillImage(picture, 161, 121, [](int, int row) { return row < 60 ? Rgb{230, 120, 20} : Rgb{20, 60, 220}; });
    ASSERT_EQ(WriteImageFile(folder.File("a.png"), picture), 0);
    ASSERT_EQ(editor->LoadImage(0, folder.File("a.png")), 0);

    // 161 x 121 in 263 x 440 is fitted at 263 / 161: 263 x 197 widget pixels at (10, 10).
    ScreenShot s = Capture();
    const int x0 = 10, y0 = 10, x1 = 273, y1 = 207;
    EXPECT_EQ(s.Count(0, 0, kWidth, kHeight, NotBlack), s.Count(x0, y0, x1, y1, NotBlack));
    EXPECT_GE(s.Count(x0, y0, x1, y1, NotBlack), (x1 - x0) * (y1 - y0) - 2 * (x1 - x0 + y1 - y0));
    auto orange = [](const Rgb& c) { return c.r == 230 && c.g == 120 && c.b == 20; };
    auto blue = [](const Rgb& c) { return c.r == 20 && c.g == 60 && c.b == 220; };
    EXPECT_TRUE(orange(s.At(x0 + 1, y0 + 1)));
    EXPECT_TRUE(orange(s.At(x1 - 2, y0 + 1)));
    EXPECT_TRUE(orange(s.At(140, 100)));
    EXPECT_TRUE(blue(s.At(140, 115)));
    EXPECT_TRUE(blue(s.At(x0 + 1, y1 - 2)));
    EXPECT_TRUE(blue(s.At(x1 - 2, y1 - 2)));
    EXPECT_TRUE(s.At(x0 - 1, 100).IsBlack());
    EXPECT_TRUE(s.At(140, y1 + 1).IsBlack());
    EXPECT_TRUE(s.At(x1 + 1, 100).IsBlack());
}

TEST_F(EditorDrawing, SegmentsAreGreenWithAnEndDotAndTheSelectedPairRedInBothPanels) {
    SetImage(0, 201, 151, Plain(128, 128, 128));
    SetImage(1, 99, 187, Plain(128, 128, 128));
    SetImage(2, 57, 43, Plain(128, 128, 128));
    editor->controller->AddPair(Point(0.2f, 0.7f), Point(0.8f, 0.7f));
    editor->controller->AddPair(Point(0.3f, 0.3f), Point(0.7f, 0.3f));
    editor->controller->selected = 1;
    ScreenShot s = Capture();

    for (int panel = 0; panel < 2; ++panel) {
        SCOPED_TRACE(panel);
        const CImageViewport& v = *editor->viewports[panel];
        float px, py, qx, qy, mx, my;
        SegmentPointOnScreen(v, Point(0.2f, 0.7f), px, py);
        SegmentPointOnScreen(v, Point(0.8f, 0.7f), qx, qy);
        SegmentPointOnScreen(v, Point(0.5f, 0.7f), mx, my);
        // Pair 0: a green line, a dot spanning several rows at its end and none at its start.
        EXPECT_GE(RowsWithColour(s, mx, my, 2, IsGreen), 1);
        EXPECT_GE(RowsWithColour(s, qx, qy, 3, IsGreen), 3);
        EXPECT_LE(RowsWithColour(s, px, py, 3, IsGreen), 1);
        EXPECT_EQ(RowsWithColour(s, mx, my, 3, IsRed), 0);

        // Pair 1, selected: red in both panels, with its end dot.
        SegmentPointOnScreen(v, Point(0.5f, 0.3f), mx, my);
        SegmentPointOnScreen(v, Point(0.7f, 0.3f), qx, qy);
        EXPECT_GE(RowsWithColour(s, mx, my, 2, IsRed), 1);
        EXPECT_GE(RowsWithColour(s, qx, qy, 3, IsRed), 3);
        EXPECT_EQ(RowsWithColour(s, mx, my, 3, IsGreen), 0);
    }
    // The output panel carries no segments.
    EXPECT_EQ(s.Count(566, 0, kWidth, kHeight, IsGreen), 0);
    EXPECT_EQ(s.Count(566, 0, kWidth, kHeight, IsRed), 0);
    EXPECT_GT(s.Count(566, 0, kWidth, kHeight, NotBlack), 0);

    // Without a selection both pairs are green.
    editor->controller->selected = -1;
    s = Capture();
    EXPECT_EQ(s.Count(0, 0, kWidth, kHeight, IsRed), 0);
}

TEST_F(EditorDrawing, ZoomedAndPannedImageIsClippedToItsPanel) {
    // Colour encodes the pixel's column and row, so the shift can be checked.
    SetImage(0, 101, 97, [](int column, int row) { return Rgb{2 * column + 1, 2 * row + 1, 77}; });
    CImageViewport& v = *editor->viewports[0];
    v.SetZoom(5.0f);
    v.SetOffset(-100, -30);  // 505 x 485: its top-left corner lies left of and above the window
    ASSERT_EQ(v.offsetX, -100);
    ASSERT_EQ(v.offsetY, -30);
    ScreenShot s = Capture();

    // The panel is covered, nothing outside it is drawn.
    const int x0 = 10, y0 = 10, x1 = 273, y1 = 450;
    EXPECT_EQ(s.Count(x0, y0, x1, y1, NotBlack), (x1 - x0) * (y1 - y0));
    EXPECT_EQ(s.Count(0, 0, kWidth, kHeight, NotBlack), (x1 - x0) * (y1 - y0));

    // Widget pixel (x, y) shows image pixel ((x + 90) / 5, (y + 20) / 5), give or take one.
    for (int y : {12, 100, 257, 448})
        for (int x : {11, 60, 200, 272}) {
            Rgb c = s.At(x, y);
            int column = (x + 90) / 5, row = (y + 20) / 5;
            EXPECT_NEAR(c.r, 2 * column + 1, 2) << x << "," << y;
            EXPECT_NEAR(c.g, 2 * row + 1, 2) << x << "," << y;
            EXPECT_EQ(c.b, 77);
        }
}

TEST_F(EditorDrawing, SegmentsBesideTheImageAreClippedToThePanel) {
    SetImage(0, 101, 97, Plain(128, 128, 128));
    editor->controller->AddPair(Point(-0.5f, 0.5f), Point(3.5f, 0.5f));
    ScreenShot s = Capture();
    EXPECT_GT(s.Count(10, 0, 273, kHeight, IsGreen), 200);  // across the whole panel
    EXPECT_EQ(s.Count(0, 0, 10, kHeight, IsGreen), 0);
    EXPECT_EQ(s.Count(273, 0, kWidth, kHeight, IsGreen), 0);
}

TEST_F(EditorDrawing, OutputImageIsShownAtItsOwnSizeFromThePanelCorner) {
    FillImage(editor->images[2], 53, 41, Plain(200, 10, 90));
    ScreenShot s = Capture();
    // Never fitted: zoom 1.0 at the right panel's origin (576, 10).
    EXPECT_EQ(s.Count(0, 0, kWidth, kHeight, NotBlack), 53 * 41);
    EXPECT_EQ(s.Count(576, 10, 576 + 53, 10 + 41, NotBlack), 53 * 41);
    // A bigger frame after a further morph shows at once, with the same zoom and offset.
    FillImage(editor->images[2], 71, 45, Plain(200, 10, 90));
    s = Capture();
    EXPECT_EQ(s.Count(576, 10, 576 + 71, 10 + 45, NotBlack), 71 * 45);
    EXPECT_EQ(editor->viewports[2]->imageWidth, 71);
}

TEST_F(EditorDrawing, ResizingLaysThePanelsOutAgainAndKeepsTheViewports) {
    SetImage(1, 31, 29, Plain(40, 200, 200));
    CImageViewport& v = *editor->viewports[1];
    float zoom = v.zoom;
    editor->size(640, 400);  // third 213: panel 1 at (223, 10), 193 x 380
    ScreenShot s = Capture();
    EXPECT_EQ(v.originX, 223);
    EXPECT_EQ(v.viewWidth, 193);
    EXPECT_EQ(v.viewHeight, 380);
    EXPECT_EQ(v.zoom, zoom);
    int x0, y0, x1, y1;
    v.GetImageRect(&x0, &y0, &x1, &y1);
    EXPECT_EQ(s.Count(0, 0, 640, 400, NotBlack), (x1 - x0) * (y1 - y0));
    EXPECT_EQ(s.Count(x0, y0, x1, y1, NotBlack), (x1 - x0) * (y1 - y0));
}

}  // namespace

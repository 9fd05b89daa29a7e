#include "editor/image_viewport.h"

#include <gtest/gtest.h>

namespace {

// The editor's panel for its 850 x 460 size: 263 x 440 at (10, 10).
CImageViewport MainWindowPanel() {
    CImageViewport v;
    v.SetOrigin(10, 10);
    v.SetViewSize(263, 440);
    return v;
}

TEST(ImageViewport, StartsWithItsDefaults) {
    CImageViewport v;
    EXPECT_EQ(v.originX, 0);
    EXPECT_EQ(v.originY, 0);
    EXPECT_EQ(v.viewWidth, 1);
    EXPECT_EQ(v.viewHeight, 1);
    EXPECT_EQ(v.offsetX, 0);
    EXPECT_EQ(v.offsetY, 0);
    EXPECT_EQ(v.imageWidth, 1);
    EXPECT_EQ(v.imageHeight, 1);
    EXPECT_FLOAT_EQ(v.zoom, 1.0f);
    EXPECT_FLOAT_EQ(v.minZoom, 0.2f);
    EXPECT_FLOAT_EQ(v.maxZoom, 5.0f);
}

TEST(ImageViewport, LargeImageFitsAtMinimumZoomAndPansWithinItsLimits) {
    CImageViewport v = MainWindowPanel();
    v.SetImageSize(4000, 3000);
    v.Fit(WholeImage);
    EXPECT_EQ(v.zoom, 0.2f);  // 263 / 4000 = 0.06575 raised to the limit
    EXPECT_EQ(v.ScaledWidth(), 800);
    EXPECT_EQ(v.ScaledHeight(), 600);
    EXPECT_EQ(v.offsetX, 0);
    EXPECT_EQ(v.offsetY, 0);

    v.Pan(-10000, -10000);
    EXPECT_EQ(v.offsetX, -536);
    EXPECT_EQ(v.offsetY, -159);
    v.Pan(-1, -1);
    EXPECT_EQ(v.offsetX, -536);
    EXPECT_EQ(v.offsetY, -159);
    v.Pan(300, 100);
    EXPECT_EQ(v.offsetX, -236);
    EXPECT_EQ(v.offsetY, -59);
    v.Pan(10000, 10000);
    EXPECT_EQ(v.offsetX, 0);
    EXPECT_EQ(v.offsetY, 0);
}

TEST(ImageViewport, SmallImageIsEnlargedAtMostFiveTimesAndMovesInsideThePanel) {
    CImageViewport v = MainWindowPanel();
    v.SetImageSize(10, 10);
    v.Fit(WholeImage);
    EXPECT_EQ(v.zoom, 5.0f);  // not 26.3
    int x0, y0, x1, y1;
    v.GetImageRect(&x0, &y0, &x1, &y1);
    EXPECT_EQ(x0, 10);
    EXPECT_EQ(y0, 10);
    EXPECT_EQ(x1, 60);
    EXPECT_EQ(y1, 60);

    v.SetOffset(10000, 10000);
    EXPECT_EQ(v.offsetX, 214);  // one pixel beyond the panel's far edge is allowed
    EXPECT_EQ(v.offsetY, 391);
    v.SetOffset(-5, -5);
    EXPECT_EQ(v.offsetX, 0);
    EXPECT_EQ(v.offsetY, 0);
    v.SetOffset(214, 391);
    EXPECT_EQ(v.offsetX, 214);
    EXPECT_EQ(v.offsetY, 391);
}

TEST(ImageViewport, FitModesPickTheirRatioAndResetTheOffset) {
    CImageViewport v = MainWindowPanel();
    v.SetImageSize(319, 239);
    v.SetOffset(-3, -4);

    v.Fit(ActualSize);
    EXPECT_EQ(v.zoom, 1.0f);
    EXPECT_EQ(v.offsetX, 0);
    EXPECT_EQ(v.offsetY, 0);

    v.Fit(FitWidth);
    EXPECT_EQ(v.zoom, 263.0f / 319.0f);
    v.Fit(FitHeight);
    EXPECT_EQ(v.zoom, 440.0f / 239.0f);
    v.Fit(WholeImage);
    EXPECT_EQ(v.zoom, 263.0f / 319.0f);
}

TEST(ImageViewport, IgnoresSizesThatAreNotPositive) {
    CImageViewport v = MainWindowPanel();
    v.SetImageSize(319, 239);
    v.SetImageSize(0, 50);
    v.SetImageSize(50, -1);
    EXPECT_EQ(v.imageWidth, 319);
    EXPECT_EQ(v.imageHeight, 239);
    v.SetViewSize(0, 12);
    v.SetViewSize(12, -3);
    EXPECT_EQ(v.viewWidth, 263);
    EXPECT_EQ(v.viewHeight, 440);
    v.SetZoomLimits(0.0f, 3.0f);
    v.SetZoomLimits(0.5f, -1.0f);
    EXPECT_EQ(v.minZoom, 0.2f);
    EXPECT_EQ(v.maxZoom, 5.0f);
}

TEST(ImageViewport, SetImageSizeKeepsZoomAndOffset) {
    CImageViewport v = MainWindowPanel();
    v.SetImageSize(4000, 3000);
    v.Fit(WholeImage);
    v.Pan(-500, -100);
    v.SetImageSize(31, 17);
    EXPECT_EQ(v.zoom, 0.2f);
    EXPECT_EQ(v.offsetX, -500);
    EXPECT_EQ(v.offsetY, -100);
}

TEST(ImageViewport, SetZoomClampsToTheLimitsWithoutClampingTheOffset) {
    CImageViewport v = MainWindowPanel();
    v.SetImageSize(101, 77);
    v.SetZoom(9.0f);
    EXPECT_EQ(v.zoom, 5.0f);
    v.SetZoom(0.01f);
    EXPECT_EQ(v.zoom, 0.2f);
    v.SetZoom(1.25f);
    EXPECT_EQ(v.zoom, 1.25f);

    v.SetZoom(5.0f);
    v.SetOffset(-200, -100);  // 505 x 385: wider than the panel, not taller
    EXPECT_EQ(v.offsetX, -200);
    EXPECT_EQ(v.offsetY, 0);
    v.SetZoom(0.2f);  // now 20 x 15 with the offset left where it was
    EXPECT_EQ(v.offsetX, -200);
    v.ClampOffset();
    EXPECT_EQ(v.offsetX, 0);

    v.SetZoomLimits(0.5f, 2.0f);
    v.SetZoom(3.0f);
    EXPECT_EQ(v.zoom, 2.0f);
}

TEST(ImageViewport, ZoomAboutKeepsThePointUnderThePointer) {
    CImageViewport v = MainWindowPanel();
    v.SetImageSize(319, 601);
    v.Fit(ActualSize);
    float u0, w0;
    v.WidgetToImage(100, 80, &u0, &w0);
    EXPECT_FLOAT_EQ(u0, 90.0f / 319.0f);
    EXPECT_FLOAT_EQ(w0, 70.0f / 601.0f);

    v.ZoomAbout(0.5f, 100, 80);
    EXPECT_EQ(v.zoom, 1.5f);
    // The image moved up and left by about half the distance to the pointer...
    EXPECT_NEAR(v.offsetX, -45, 1);
    EXPECT_NEAR(v.offsetY, -35, 1);
    // ...so the same image point is under the pointer, to within one widget pixel.
    float u1, w1;
    v.WidgetToImage(100, 80, &u1, &w1);
    EXPECT_NEAR(u1 * 319.0f * 1.5f, u0 * 319.0f * 1.5f, 1.0f);
    EXPECT_NEAR(w1 * 601.0f * 1.5f, w0 * 601.0f * 1.5f, 1.0f);

    v.ZoomAbout(-0.5f, 100, 80);
    EXPECT_EQ(v.zoom, 1.0f);
    EXPECT_NEAR(v.offsetX, 0, 1);
    EXPECT_NEAR(v.offsetY, 0, 1);
}

TEST(ImageViewport, ZoomAboutAtTheLimitMovesOnlyByTheChangeMade) {
    CImageViewport v = MainWindowPanel();
    v.SetImageSize(319, 239);
    v.SetZoom(4.5f);
    v.SetOffset(-400, -300);
    float u0, w0;
    v.WidgetToImage(150, 200, &u0, &w0);

    v.ZoomAbout(2.0f, 150, 200);  // asks for 6.5, gets 5.0
    EXPECT_EQ(v.zoom, 5.0f);
    float d = 5.0f - 4.5f;
    EXPECT_EQ(v.offsetX, -400 - static_cast<int>(d * u0 * 319.0f));
    EXPECT_EQ(v.offsetY, -300 - static_cast<int>(d * w0 * 239.0f));

    int x = v.offsetX, y = v.offsetY;
    v.ZoomAbout(1.0f, 150, 200);  // no change possible: nothing moves
    EXPECT_EQ(v.zoom, 5.0f);
    EXPECT_EQ(v.offsetX, x);
    EXPECT_EQ(v.offsetY, y);

    v.ZoomAbout(-100.0f, 150, 200);
    EXPECT_EQ(v.zoom, 0.2f);
    EXPECT_GE(v.offsetX, 0);  // 63 x 47 now fits and is clamped inside the panel
    EXPECT_GE(v.offsetY, 0);
    EXPECT_LE(v.offsetX + v.ScaledWidth(), 264);
    EXPECT_LE(v.offsetY + v.ScaledHeight(), 441);
}

TEST(ImageViewport, MapsWidgetPixelsToNormalizedImageCoordinates) {
    CImageViewport v = MainWindowPanel();
    v.SetImageSize(201, 99);
    v.SetZoom(2.0f);
    v.SetOffset(0, 0);
    float u, w;
    v.WidgetToImage(10, 10, &u, &w);
    EXPECT_EQ(u, 0.0f);
    EXPECT_EQ(w, 0.0f);
    v.WidgetToImage(10 + 402, 10 + 198, &u, &w);
    EXPECT_EQ(u, 1.0f);
    EXPECT_EQ(w, 1.0f);
    // Beside the image (in the panel, or in the margin) the values leave 0..1.
    v.WidgetToImage(5, 300, &u, &w);
    EXPECT_LT(u, 0.0f);
    EXPECT_GT(w, 1.0f);
    // Either output may be left out.
    float only = -1.0f;
    v.WidgetToImage(211, 10, &only, nullptr);
    EXPECT_FLOAT_EQ(only, 0.5f);
    v.WidgetToImage(211, 10, nullptr, nullptr);
}

TEST(ImageViewport, ReportsPanelAndImageRectangles) {
    CImageViewport v;
    v.SetOrigin(293, 10);
    v.SetViewSize(263, 440);
    v.SetImageSize(37, 23);
    v.SetZoom(3.0f);
    v.SetOffset(20, 30);
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    v.GetViewRect(&x0, &y0, &x1, &y1);
    EXPECT_EQ(x0, 293);
    EXPECT_EQ(y0, 10);
    EXPECT_EQ(x1, 556);
    EXPECT_EQ(y1, 450);
    v.GetImageRect(&x0, &y0, &x1, &y1);
    EXPECT_EQ(x0, 313);
    EXPECT_EQ(y0, 40);
    EXPECT_EQ(x1, 313 + 111);
    EXPECT_EQ(y1, 40 + 69);
    int right = 0;
    v.GetImageRect(nullptr, nullptr, &right, nullptr);
    EXPECT_EQ(right, 424);
}

}  // namespace

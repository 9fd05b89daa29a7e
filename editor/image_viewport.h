// The geometry of one editor panel: where the panel lies in the widget, the size of the image
// it shows, the zoom and the scroll offset. Maps widget pixels (y downward) to normalized
// image coordinates and keeps the scaled image from being scrolled away. No toolkit, no GL.
#pragma once

enum FitMode { ActualSize = 0, WholeImage = 1, FitWidth = 2, FitHeight = 3 };

class CImageViewport {
public:
    int originX = 0, originY = 0;
    int viewWidth = 1, viewHeight = 1;
    // The scaled image's top-left corner relative to the panel's origin.
    int offsetX = 0, offsetY = 0;
    int imageWidth = 1, imageHeight = 1;
    // Widget pixels per image pixel, kept within minZoom..maxZoom.
    float zoom = 1.0f;
    float minZoom = 0.2f, maxZoom = 5.0f;

    void SetOrigin(int x, int y);
    // Ignored unless both are greater than 0.
    void SetViewSize(int width, int height);
    // Ignored unless both are greater than 0; zoom and offset are left as they are.
    void SetImageSize(int width, int height);
    void SetOffset(int x, int y);
    void Pan(int dx, int dy);
    // An image that fits stays wholly inside the panel (one pixel of slack at the far edge);
    // a larger one always covers the panel.
    void ClampOffset();
    // Ignored unless both are greater than 0.
    void SetZoomLimits(float min, float max);
    // Clamps to the limits; the offset is not clamped again.
    void SetZoom(float z);
    // Zooms to the mode's ratio and moves the image to the panel's top-left corner.
    void Fit(FitMode mode);
    // Changes the zoom by step, keeping the image point under widget position (x, y) in place
    // (up to truncation and clamping).
    void ZoomAbout(float step, int x, int y);
    // u: 0 at the image's left edge, 1 at its right; w: 0 at its top edge, 1 at its bottom.
    void WidgetToImage(int x, int y, float* u, float* w) const;
    // The scaled image in widget pixels; it may extend beyond the panel.
    void GetImageRect(int* x0, int* y0, int* x1, int* y1) const;
    // The panel in widget pixels.
    void GetViewRect(int* x0, int* y0, int* x1, int* y1) const;

    int ScaledWidth() const { return static_cast<int>(static_cast<float>(imageWidth) * zoom); }
    int ScaledHeight() const { return static_cast<int>(static_cast<float>(imageHeight) * zoom); }
};

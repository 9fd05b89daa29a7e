#include "editor/image_viewport.h"

namespace {

// One axis of the clamp: limit is the view size plus one pixel of slack.
int ClampAxis(int offset, int scaled, int view) {
    int limit = view + 1;
    if (scaled <= view) {
        if (offset < 0) return 0;
        if (offset + scaled > limit) return limit - scaled;
    } else {
        if (offset > 0) return 0;
        if (offset + scaled < limit) return limit - scaled;
    }
    return offset;
}

void Store(int* out, int value) {
    if (out != nullptr) *out = value;
}

}  // namespace

void CImageViewport::SetOrigin(int x, int y) {
    originX = x;
    originY = y;
}

void CImageViewport::SetViewSize(int width, int height) {
    if (width <= 0 || height <= 0) return;
    viewWidth = width;
    viewHeight = height;
}

void CImageViewport::SetImageSize(int width, int height) {
    if (width <= 0 || height <= 0) return;
    imageWidth = width;
    imageHeight = height;
}

void CImageViewport::SetOffset(int x, int y) {
    offsetX = x;
    offsetY = y;
    ClampOffset();
}

void CImageViewport::Pan(int dx, int dy) {
    offsetX += dx;
    offsetY += dy;
    ClampOffset();
}

void CImageViewport::ClampOffset() {
    offsetX = ClampAxis(offsetX, ScaledWidth(), viewWidth);
    offsetY = ClampAxis(offsetY, ScaledHeight(), viewHeight);
}

void CImageViewport::SetZoomLimits(float min, float max) {
    if (!(min > 0.0f) || !(max > 0.0f)) return;
    minZoom = min;
    maxZoom = max;
}

void CImageViewport::SetZoom(float z) {
    if (z < minZoom)
        zoom = minZoom;
    else if (z > maxZoom)
        zoom = maxZoom;
    else
        zoom = z;
}

void CImageViewport::Fit(FitMode mode) {
    float rx = static_cast<float>(viewWidth) / static_cast<float>(imageWidth);
    float ry = static_cast<float>(viewHeight) / static_cast<float>(imageHeight);
    float z = 1.0f;
    switch (mode) {
        case ActualSize: z = 1.0f; break;
        case WholeImage: z = rx < ry ? rx : ry; break;
        case FitWidth: z = rx; break;
        case FitHeight: z = ry; break;
    }
    SetZoom(z);
    SetOffset(0, 0);
}

void CImageViewport::ZoomAbout(float step, int x, int y) {
    float u = 0.0f, w = 0.0f;
    WidgetToImage(x, y, &u, &w);
    float old = zoom;
    SetZoom(zoom + step);
    float d = zoom - old;
    int dx = static_cast<int>(d * u * static_cast<float>(imageWidth));
    int dy = static_cast<int>(d * w * static_cast<float>(imageHeight));
    SetOffset(offsetX - dx, offsetY - dy);
}

void CImageViewport::WidgetToImage(int x, int y, float* u, float* w) const {
    if (u != nullptr)
        *u = static_cast<float>(x - originX - offsetX) / (static_cast<float>(imageWidth) * zoom);
    if (w != nullptr)
        *w = static_cast<float>(y - originY - offsetY) / (static_cast<float>(imageHeight) * zoom);
}

void CImageViewport::GetImageRect(int* x0, int* y0, int* x1, int* y1) const {
    Store(x0, originX + offsetX);
    Store(y0, originY + offsetY);
    Store(x1, originX + offsetX + ScaledWidth());
    Store(y1, originY + offsetY + ScaledHeight());
}

void CImageViewport::GetViewRect(int* x0, int* y0, int* x1, int* y1) const {
    Store(x0, originX);
    Store(y0, originY);
    Store(x1, originX + viewWidth);
    Store(y1, originY + viewHeight);
}

// A shown 850 x 460 editor on the test's X display, with helpers that build images, send
// toolkit mouse events through the editor's handle() and read back what is on the screen.
#pragma once

#include <FL/Fl.H>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "editor/morph_editor.h"

struct Rgb {
    int r = 0, g = 0, b = 0;
    bool IsBlack() const { return r == 0 && g == 0 && b == 0; }
    bool IsGreen() const { return r < 60 && g > 200 && b < 60; }
    bool IsRed() const { return r > 200 && g < 60 && b < 60; }
};

// What the editor's X window shows, top row first.
struct ScreenShot {
    int width = 0, height = 0;
    std::vector<Rgb> pixels;
    Rgb At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
    // Number of pixels in [x0, x1) x [y0, y1) that satisfy the test.
    int Count(int x0, int y0, int x1, int y1, const std::function<bool(const Rgb&)>& test) const {
        int n = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x)
                if (x >= 0 && y >= 0 && x < width && y < height && test(At(x, y))) ++n;
        return n;
    }
};

// An RGBA image whose pixel (column, row) is fill(column, row), row 0 at the top.
inline void FillImage(CPixelImage& image, int width, int height, const std::function<Rgb(int, int)>& fill) {
    image.Allocate(width, height, 4);
    for (int row = 0; row < height; ++row)
        for (int column = 0; column < width; ++column) {
            Rgb c = fill(column, row);
            unsigned char* p = image.pixels + (static_cast<size_t>(row) * width + column) * 4;
            p[0] = static_cast<unsigned char>(c.r);
            p[1] = static_cast<unsigned char>(c.g);
            p[2] = static_cast<unsigned char>(c.b);
            p[3] = 255;
        }
}

inline std::function<Rgb(int, int)> Plain(int r, int g, int b) {
    return [=](int, int) { return Rgb{r, g, b}; };
}

class EditorTest : public ::testing::Test {
protected:
    static constexpr int kWidth = 850;
    static constexpr int kHeight = 460;

    void SetUp() override;
    void TearDown() override;
    // Redraws and grabs the window's pixels from the X server.
    ScreenShot Capture();

    // Puts an image into a slot the way a successful load does, without the file layer.
    void SetImage(int slot, int width, int height, const std::function<Rgb(int, int)>& fill) {
        FillImage(editor->images[slot], width, height, fill);
        editor->viewports[slot]->SetImageSize(width, height);
        editor->viewports[slot]->Fit(WholeImage);
    }

    // One toolkit mouse event at widget position (x, y) with the given held buttons and keys
    // (FL_BUTTON1, FL_BUTTON3, FL_SHIFT) and, for presses and releases, the button.
    int Send(int event, int x, int y, int state, int button = 0) {
        Fl::e_x = x;
        Fl::e_y = y;
        Fl::e_state = state;
        Fl::e_keysym = FL_Button + button;
        return editor->handle(event);
    }
    int PressLeft(int x, int y, int keys = 0) { return Send(FL_PUSH, x, y, FL_BUTTON1 | keys, FL_LEFT_MOUSE); }
    int DragLeft(int x, int y, int keys = 0) { return Send(FL_DRAG, x, y, FL_BUTTON1 | keys); }
    int ReleaseLeft(int x, int y, int keys = 0) { return Send(FL_RELEASE, x, y, keys, FL_LEFT_MOUSE); }
    int PressRight(int x, int y, int keys = 0) { return Send(FL_PUSH, x, y, FL_BUTTON3 | keys, FL_RIGHT_MOUSE); }
    int DragRight(int x, int y, int keys = 0) { return Send(FL_DRAG, x, y, FL_BUTTON3 | keys); }
    int ReleaseRight(int x, int y, int keys = 0) { return Send(FL_RELEASE, x, y, keys, FL_RIGHT_MOUSE); }

    std::unique_ptr<CMorphEditor> editor;
};

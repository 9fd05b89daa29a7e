#include "editor_fixture.h"

#include <FL/x.H>

void EditorTest::SetUp() {
    const char* name = std::getenv("DISPLAY");
    Display* probe = name != nullptr ? XOpenDisplay(name) : nullptr;
    ASSERT_NE(probe, nullptr) << "the editor tests need an X display with OpenGL (set DISPLAY)";
    XCloseDisplay(probe);
    fl_open_display();
    editor = std::make_unique<CMorphEditor>(0, 0, kWidth, kHeight);
    editor->end();
    ASSERT_TRUE(editor->can_do()) << "no double-buffered RGB OpenGL visual";
    editor->show();
    // A new window is drawn once the server has exposed it; its damage is cleared then.
    for (int i = 0; i < 500 && (!editor->shown() || editor->damage() != 0); ++i) Fl::wait(0.01);
    ASSERT_TRUE(editor->shown());
    ASSERT_EQ(editor->damage(), 0) << "the editor window was never exposed";
}

void EditorTest::TearDown() {
    if (editor) editor->hide();
    editor.reset();
    Fl::flush();
}

ScreenShot EditorTest::Capture() {
    editor->redraw();
    Fl::flush();
    XSync(fl_display, False);
    ScreenShot screen;
    int width = editor->w(), height = editor->h();
    XImage* image = XGetImage(fl_display, fl_xid(editor.get()), 0, 0, width, height, AllPlanes, ZPixmap);
    EXPECT_NE(image, nullptr);
    if (image == nullptr) return screen;
    screen.width = width;
    screen.height = height;
    screen.pixels.resize(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            unsigned long p = XGetPixel(image, x, y);
            screen.pixels[static_cast<size_t>(y) * width + x] =
                Rgb{static_cast<int>((p >> 16) & 0xff), static_cast<int>((p >> 8) & 0xff), static_cast<int>(p & 0xff)};
        }
    XDestroyImage(image);
    return screen;
}

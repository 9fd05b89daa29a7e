#include "editor_fixture.h"

#include <FL/gl.h>
#include <FL/x.H>
#include <unistd.h>

void EditorTest::SetUp() {
    // A busy X server now and then refuses a connection: try for a few seconds, then hand
    // the connection to the toolkit so that it does not open a second one.
    if (fl_display == nullptr) {
        const char* name = std::getenv("DISPLAY");
        Display* display = nullptr;
        for (int attempt = 0; attempt < 50 && name != nullptr && display == nullptr; ++attempt) {
            display = XOpenDisplay(name);
            if (display == nullptr) usleep(100000);
        }
        ASSERT_NE(display, nullptr) << "the editor tests need an X display with OpenGL (set DISPLAY)";
        fl_open_display(display);
    }
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
    // The toolkit's own redraw first (it clears the damage the tests look at), then one more
    // draw whose back buffer is read before any swap: unlike the window on the X server, the
    // back buffer is not spoilt by other test programs' windows on the same display.
    editor->redraw();
    Fl::flush();
    editor->make_current();
    editor->draw();
    glFinish();
    ScreenShot screen;
    int width = editor->w(), height = editor->h();
    std::vector<unsigned char> rgba(static_cast<size_t>(width) * height * 4);
    glReadBuffer(GL_BACK);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    screen.width = width;
    screen.height = height;
    screen.pixels.resize(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const unsigned char* p = &rgba[(static_cast<size_t>(height - 1 - y) * width + x) * 4];
            screen.pixels[static_cast<size_t>(y) * width + x] = Rgb{p[0], p[1], p[2]};
        }
    return screen;
}

#include "app/ui_fixture.h"

#include <FL/Fl.H>
#include <FL/x.H>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "morph/fast_sqrt.h"

void FillPattern(CPixelImage& image, int w, int h, int seed) {
    image.Allocate(w, h, 4);
    ASSERT_NE(image.pixels, nullptr);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            unsigned char* px = image.pixels + (static_cast<size_t>(y) * w + x) * 4;
            px[0] = static_cast<unsigned char>((x * 7 + seed * 31) & 255);
            px[1] = static_cast<unsigned char>((y * 5 + seed * 17) & 255);
            px[2] = static_cast<unsigned char>(((x ^ y) * 3 + seed * 71) & 255);
            px[3] = 255;
        }
    }
}

namespace {

// A shared X server now and then refuses one of many simultaneous connections; the toolkit
// would end the process on that, so the connection is made here, with a few retries.
bool ConnectDisplay() {
    if (fl_display != nullptr) return true;
    for (int attempt = 0; attempt < 50; ++attempt) {
        Display* d = XOpenDisplay(nullptr);
        if (d != nullptr) {
            fl_open_display(d);
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

}  // namespace

void UiTest::SetUp() {
    const char* display = std::getenv("DISPLAY");
    ASSERT_TRUE(display != nullptr && display[0] != '\0') << "the window tests need an X display (DISPLAY)";
    ASSERT_TRUE(ConnectDisplay()) << "cannot connect to the X display " << display;
    InitFastSqrt();
    ui = new CMorphUI();
    gMorphUI = ui;
    ui->mainWindow->show();
    Pump();
}

void UiTest::TearDown() {
    if (ui != nullptr) {
        ui->morpher.WaitUntilIdle();
        // Delivers the wake-ups that still point at this window.
        Pump(0.1);
        ui->TakeMorphEnd();
        Fl::remove_timeout(ProgressTick);
        gMorphUI = nullptr;
        ui->aboutWindow->hide();
        ui->mainWindow->hide();
        Pump(0.02);
        delete ui->aboutWindow;
        delete ui->mainWindow;
        delete ui;
        ui = nullptr;
    }
}

bool UiTest::PumpUntil(const std::function<bool()>& condition, double seconds) {
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        Fl::wait(0.01);
    }
    return true;
}

void UiTest::Pump(double seconds) {
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    do {
        Fl::wait(0.01);
    } while (std::chrono::steady_clock::now() < end);
}

bool UiTest::WaitForMorphEnd(double seconds) {
    return PumpUntil([this] { return !ui->morphRunning; }, seconds);
}

std::string UiTest::TempPath(const std::string& name) const { return folder.File(name); }

std::string UiTest::WriteImage(const std::string& name, int w, int h, int seed) {
    CPixelImage image;
    FillPattern(image, w, h, seed);
    std::string path = TempPath(name);
    EXPECT_EQ(image.Save(path), 0) << path;
    return path;
}

void UiTest::FillSlot(int slot, int w, int h, int seed) {
    FillPattern(ui->editor->images[slot], w, h, seed);
    ui->editor->images[slot].fileName = TempPath("memory" + std::to_string(slot) + ".png");
}

void UiTest::AddPair(float ax, float ay, float bx, float by, float cx, float cy, float dx, float dy) {
    ui->editor->controller->segmentsA.push_back(LineSegment(Point(ax, ay), Point(bx, by)));
    ui->editor->controller->segmentsB.push_back(LineSegment(Point(cx, cy), Point(dx, dy)));
}

std::vector<Fl_Widget*> UiTest::LockedControls() const {
    return {ui->loadAButton, ui->loadBButton, ui->saveImageButton, ui->morphButton,
            ui->widthInput,  ui->heightInput, ui->interpSlider};
}

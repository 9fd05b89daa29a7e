#include "editor/morph_editor.h"

#include <FL/Fl.H>
#include <FL/gl.h>

#include <cstdio>
#include <vector>

#include "editor/dialogs.h"
#include "files/output_path.h"
#include "files/printable_name.h"
#include "image/chooser_pattern.h"
#include "image/image_file.h"

namespace {

// The segments of panel 0 (list A) or 1 (list B) over the image rectangle (x0, y0)-(x1, y1),
// green with the selected pair red; each segment has a 4-pixel dot at its end point Q only
// (none at P), which shows its direction. Panel 2 has none.
void DrawSegments(const CSegmentController& controller, int panel, float x0, float y0, float x1, float y1) {
    if (panel == 2) return;
    const SegmentList& segments = panel == 0 ? controller.segmentsA : controller.segmentsB;
    float sx = x1 - x0 + 1.0f;
    float sy = y1 - y0 + 1.0f;
    glColor3f(0.0f, 1.0f, 0.0f);
    glPushMatrix();
    // y grows upward from the image's bottom edge, like the segment coordinates.
    glTranslatef(x0, y1, 0.0f);
    glScalef(1.0f, -1.0f, 1.0f);
    for (size_t i = 0; i < segments.size(); ++i) {
        const LineSegment& s = segments[i];
        bool isSelected = static_cast<int>(i) == controller.selected;
        if (isSelected) glColor3f(1.0f, 0.0f, 0.0f);
        glBegin(GL_LINES);
        glVertex2f(s.P.x * sx - 0.5f, s.P.y * sy + 0.5f);
        glVertex2f(s.Q.x * sx - 0.5f, s.Q.y * sy + 0.5f);
        glEnd();
        glPointSize(4.0f);
        glBegin(GL_POINTS);
        glVertex2f(s.Q.x * sx - 0.5f, s.Q.y * sy + 0.5f);
        glEnd();
        if (isSelected) glColor3f(0.0f, 1.0f, 0.0f);
    }
    glPopMatrix();
}

}  // namespace

CMorphEditor::CMorphEditor(int x, int y, int w, int h, const char* label) : Fl_Gl_Window(x, y, w, h, label) {
    // Double-buffered RGB without the depth buffer of the toolkit's default mode.
    Fl_Gl_Window::mode(FL_DOUBLE);
    activePanel = 2;
    inputEnabled = true;
    for (auto& viewport : viewports) viewport = std::make_unique<CImageViewport>();
    controller = std::make_unique<CSegmentController>();
    mode = Add;
    pressX = pressY = lastX = lastY = 0;
    // Every draw lays the panels out again; doing it now as well means an image loaded
    // before the first draw is fitted to its real panel, not to the 1 x 1 default.
    LayoutPanels();
}

CMorphEditor::~CMorphEditor() {
    controller.reset();
    for (int i = 2; i >= 0; --i) viewports[i].reset();
}

int CMorphEditor::GetImageSize(int slot, int& width, int& height) const {
    if (slot < 0 || slot > 2) return 1;
    width = images[slot].width;
    height = images[slot].height;
    return 0;
}

CImageViewport* CMorphEditor::GetViewport(int panel) {
    if (panel < 0 || panel > 2) return nullptr;
    return viewports[panel].get();
}

bool CMorphEditor::IsReadyToMorph() const { return !images[0].IsEmpty() && !images[1].IsEmpty(); }

void CMorphEditor::ExportSettings(MorphSettings& settings) {
    settings.imageA = &images[0];
    settings.imageB = &images[1];
    settings.outputImage = &images[2];
    controller->ExportLists(settings);
}

void CMorphEditor::LayoutPanels() {
    int third = w() / 3;
    for (int i = 0; i < 3; ++i) {
        viewports[i]->SetOrigin(i * third + 10, 10);
        viewports[i]->SetViewSize(third - 20, h() - 20);
    }
}

void CMorphEditor::draw() {
    int W = w(), H = h();
    if (!valid()) {
        valid(1);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glOrtho(0.0, W, 0.0, H, -1.0, 1.0);
        glViewport(0, 0, W, H);
        glMatrixMode(GL_MODELVIEW);
        glDrawBuffer(GL_FRONT_AND_BACK);
        glDisable(GL_DEPTH_TEST);
        glDisable(GL_LIGHTING);
        glDisable(GL_CULL_FACE);
        glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    }

    // From here on, widget pixels with y downward.
    glPushMatrix();
    glLoadIdentity();
    glTranslatef(0.0f, static_cast<float>(H), 0.0f);
    glScalef(1.0f, -1.0f, 1.0f);

    LayoutPanels();

    GLboolean scissorWasOn = glIsEnabled(GL_SCISSOR_TEST);
    GLint scissorBox[4] = {0, 0, 0, 0};
    if (scissorWasOn) glGetIntegerv(GL_SCISSOR_BOX, scissorBox);

    glClear(GL_COLOR_BUFFER_BIT);
    glEnable(GL_SCISSOR_TEST);
    for (int slot = 0; slot < 3; ++slot) DrawPanel(slot);

    if (scissorWasOn)
        glScissor(scissorBox[0], scissorBox[1], scissorBox[2], scissorBox[3]);
    else
        glDisable(GL_SCISSOR_TEST);

    glPopMatrix();
    glDrawBuffer(GL_BACK);
    glFlush();
}

void CMorphEditor::DrawPanel(int slot) {
    const CPixelImage& image = images[slot];
    // glDrawPixels reads width x height x 4 bytes: anything else is not drawn rather than
    // read past its buffer.
    if (image.IsEmpty() || image.bytesPerPixel != 4 || image.width <= 0 || image.height <= 0) return;
    CImageViewport& viewport = *viewports[slot];
    viewport.SetImageSize(image.width, image.height);

    int vx0, vy0, vx1, vy1;
    viewport.GetViewRect(&vx0, &vy0, &vx1, &vy1);
    // Counted from the window's bottom, but the equal top and bottom margins make it the panel.
    glScissor(vx0, vy0, vx1 - vx0, vy1 - vy0);

    int x0, y0, x1, y1;
    viewport.GetImageRect(&x0, &y0, &x1, &y1);

    GLfloat zoomX = 1.0f, zoomY = 1.0f;
    glGetFloatv(GL_ZOOM_X, &zoomX);
    glGetFloatv(GL_ZOOM_Y, &zoomY);
    glPixelZoom(static_cast<float>(x1 - x0) / static_cast<float>(image.width),
                -static_cast<float>(y1 - y0) / static_cast<float>(image.height));
    // A raster position outside the window would be invalid and drop the whole image, so
    // start from a corner that is always inside and move by a bitmap of no pixels.
    glRasterPos2i(0, 0);
    glBitmap(0, 0, 0.0f, 0.0f, static_cast<float>(x0), static_cast<float>(-y0), nullptr);
    glDrawPixels(image.width, image.height, GL_RGBA, GL_UNSIGNED_BYTE, image.pixels);
    glPixelZoom(zoomX, zoomY);

    DrawSegments(*controller, slot, static_cast<float>(x0), static_cast<float>(y0), static_cast<float>(x1),
                 static_cast<float>(y1));
}

int CMorphEditor::handle(int event) {
    if (!inputEnabled) return 0;
    switch (event) {
        case FL_PUSH: return OnPush();
        case FL_RELEASE: return OnRelease();
        case FL_DRAG: return OnDrag();
        case FL_MOUSEWHEEL: return OnMouseWheel();
        default: return Fl_Gl_Window::handle(event);
    }
}

int CMorphEditor::PanelAt(int x) const {
    int third = w() / 3;
    if (x > 10 && x < third - 10) return 0;
    if (x > third + 10 && x < 2 * third - 10) return 1;
    return 2;
}

void CMorphEditor::MapToSegmentPoint(int x, int y, float& u, float& v) const {
    float w = 0.0f;
    viewports[activePanel]->WidgetToImage(x, y, &u, &w);
    v = 1.0f - w;
}

int CMorphEditor::OnPush() {
    int x = Fl::event_x(), y = Fl::event_y();
    activePanel = PanelAt(x);
    float u = 0.0f, v = 0.0f;
    MapToSegmentPoint(x, y, u, v);
    int state = Fl::event_state();
    int result = 0;
    if (state & FL_BUTTON1) {
        result = controller->Push(activePanel, mode, u, v, true);
    } else if (state & FL_BUTTON3) {
        pressX = lastX = x;
        pressY = lastY = y;
        result = 1;
    }
    redraw();
    return result;
}

int CMorphEditor::OnDrag() {
    int x = Fl::event_x(), y = Fl::event_y();
    float u = 0.0f, v = 0.0f;
    MapToSegmentPoint(x, y, u, v);
    int state = Fl::event_state();
    bool shift = (state & FL_SHIFT) != 0;
    int result = 0;
    if (state & FL_BUTTON1) {
        result = controller->Drag(activePanel, mode, u, v, true, shift);
    } else if (state & FL_BUTTON3) {
        CImageViewport& viewport = *viewports[activePanel];
        if (shift)
            viewport.ZoomAbout(static_cast<float>(y - lastY) * -0.01f, pressX, pressY);
        else
            viewport.Pan(x - lastX, y - lastY);
        lastX = x;
        lastY = y;
        result = 1;
    }
    redraw();
    return result;
}

int CMorphEditor::OnRelease() {
    int x = Fl::event_x(), y = Fl::event_y();
    float u = 0.0f, v = 0.0f;
    MapToSegmentPoint(x, y, u, v);
    int result = 0;
    int button = Fl::event_button();
    if (button == FL_LEFT_MOUSE) {
        result = controller->Release(activePanel, mode, u, v, Fl::event_state(FL_SHIFT) != 0);
    } else if (button == FL_RIGHT_MOUSE) {
        result = 1;
    }
    redraw();
    return result;
}

int CMorphEditor::OnMouseWheel() {
    redraw();
    return 0;
}

int CMorphEditor::LoadImage(int slot, const std::string& path) {
    if (slot < 0 || slot > 2) {
        ShowAlert("Attempt to load into invalid image (should never happen!)");
        redraw();
        return 1;
    }
    ImageFileRead read;
    read.path = path;
    read.result = ReadImageFile(path, read.image, read.reason, &read.colour);
    return PlaceImage(slot, read);
}

int CMorphEditor::PlaceImage(int slot, ImageFileRead& read) {
    int result = 0;
    if (read.result != 0) {
        std::fprintf(stderr, "quarro: could not load image %s: %s\n", PrintableName(read.path).c_str(),
                     PrintableName(read.reason).c_str());
        ShowAlert("Could not load image %s", PrintableName(read.path).c_str());
        result = 1;
    } else {
        // A colour profile that could not be used leaves the picture as stored: said on stderr.
        if (read.colour.warning) {
            std::fprintf(stderr, "quarro: image %s: %s\n", PrintableName(read.path).c_str(),
                         PrintableName(read.colour.note).c_str());
        }
        images[slot].Swap(read.image);
        images[slot].fileName = read.path;
        viewports[slot]->SetImageSize(images[slot].width, images[slot].height);
        viewports[slot]->Fit(WholeImage);
    }
    redraw();
    return result;
}

int CMorphEditor::SaveImage(int slot, const std::string& path) {
    if (slot < 0 || slot > 2 || images[slot].IsEmpty()) {
        ShowAlert("Attempt to save to invalid image (should never happen!)");
        return 1;
    }
    // The pictures the frame is made from are never written over, however the name is spelt.
    CInputFiles inputs;
    inputs.Add(images[0].fileName, "image A");
    inputs.Add(images[1].fileName, "image B");
    std::string reason;
    if (inputs.CheckOutput(path, reason) != 0) {
        std::fprintf(stderr, "%s: %s\n", PrintableName(path).c_str(), PrintableName(reason).c_str());
        ShowAlert("Error saving image file %s", PrintableName(path).c_str());
        return 1;
    }
    if (images[slot].Save(path) != 0) {
        ShowAlert("Error saving image file %s", PrintableName(path).c_str());
        return 1;
    }
    return 0;
}

bool CMorphEditor::LoadDocumentImage(int slot, ImageFileRead& read) {
    std::string path = read.path;
    for (int result = PlaceImage(slot, read);; result = LoadImage(slot, path)) {
        if (result == 0) return true;
        if (!AskYesNo("Unable to load image %s. Search for it manually?", PrintableName(path).c_str())) return false;
        // The few formats the window first searched for, then every other one it reads.
        static const std::string kSearchFilter = WithEveryReadableExtension("*.{jpg,png,bmp,tga,gif}");
        std::string chosen = ChooseFile("Select an image", kSearchFilter.c_str(), path);
        if (chosen.empty()) return false;
        path = chosen;
    }
}

void CMorphEditor::ApplyMorphDocument(const MorphSettings& settings) {
    // Both pictures are read at once; each is then placed, or its failure shown, A's first.
    std::vector<ImageFileRead> reads(2);
    reads[0].path = settings.imagePathA;
    reads[1].path = settings.imagePathB;
    ReadImageFiles(reads);
    if (!LoadDocumentImage(0, reads[0]) || !LoadDocumentImage(1, reads[1])) {
        ShowAlert("Error loading MRF file: image loading failure.");
        return;
    }
    images[2].Clear();
    static const SegmentList kNoSegments;
    controller->ReplaceAll(settings.segmentsA != nullptr ? *settings.segmentsA : kNoSegments,
                           settings.segmentsB != nullptr ? *settings.segmentsB : kNoSegments);
}

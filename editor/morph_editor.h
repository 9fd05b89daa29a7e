// The OpenGL editor widget: three side-by-side panels showing image A, image B and the
// output image, with the segment pairs drawn over A and B. It owns the three images, their
// viewports and the segment controller; the rest of the program reaches them only here.
#pragma once

#include <FL/Fl_Gl_Window.H>

#include <memory>
#include <string>

#include "editor/edit_mode.h"
#include "editor/image_viewport.h"
#include "editor/segment_controller.h"
#include "image/decode_client.h"
#include "image/pixel_image.h"
#include "morph/morph_settings.h"

class CMorphEditor : public Fl_Gl_Window {
public:
    CMorphEditor(int x, int y, int w, int h, const char* label = nullptr);
    ~CMorphEditor() override;

    void draw() override;
    int handle(int event) override;

    // Image slots: 0 image A, 1 image B, 2 the output image.
    // Stores the slot image's size; 0, or 1 (outputs untouched) for a slot outside 0..2.
    int GetImageSize(int slot, int& width, int& height) const;
    // The viewport of panel 0, 1 or 2; nullptr for any other index.
    CImageViewport* GetViewport(int panel);
    // True when images A and B both hold pixels; the segment pairs are not looked at.
    bool IsReadyToMorph() const;
    // Points the record's three images and two segment lists at the editor's own.
    void ExportSettings(MorphSettings& settings);

    // 0 on success, 1 after the editor has shown its own alert. LoadImage fits the slot's
    // viewport to the new image and redraws in every case.
    int LoadImage(int slot, const std::string& path);
    int SaveImage(int slot, const std::string& path);
    // Loads the document's images (asking the user to find missing ones), then empties the
    // output image and replaces the segment pairs. Requests no redraw.
    void ApplyMorphDocument(const MorphSettings& settings);

    void SetEditMode(EditMode m) { mode = m; }
    // While false every event is refused (a morph is running).
    void SetInputEnabled(bool enabled) { inputEnabled = enabled; }

    int OnPush();
    int OnDrag();
    int OnRelease();
    int OnMouseWheel();
    int PanelAt(int x) const;

    int activePanel = 2;
    CPixelImage images[3];
    std::unique_ptr<CImageViewport> viewports[3];
    std::unique_ptr<CSegmentController> controller;
    EditMode mode = Add;
    int pressX = 0, pressY = 0;
    int lastX = 0, lastY = 0;
    bool inputEnabled = true;

private:
    void LayoutPanels();
    void DrawPanel(int slot);
    // The widget position (x, y) as a segment point of the active panel: normalized, y upward.
    void MapToSegmentPoint(int x, int y, float& u, float& v) const;
    // Puts a picture read for slot 0..2 in place and fits its viewport, or shows why it could
    // not be read; redraws in every case. 0, or 1 after the alert.
    int PlaceImage(int slot, ImageFileRead& read);
    // Places one picture of a document, already read, in slot 0 or 1, asking the user to find
    // it while it cannot be loaded; false when the user declines or cancels.
    bool LoadDocumentImage(int slot, ImageFileRead& read);
};

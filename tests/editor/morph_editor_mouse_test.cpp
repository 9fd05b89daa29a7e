// Toolkit mouse events sent through the editor's handle(): the segment lists and the
// panel viewports they change.
#include "editor_fixture.h"
#include "support/recording_dialogs.h"

namespace {

class EditorMouse : public EditorTest {
protected:
    void SetUp() override {
        EditorTest::SetUp();
        if (HasFatalFailure()) return;
        // 161 x 121 fitted into 263 x 440 at zoom 263/161; 99 x 187 at 440/187.
        SetImage(0, 161, 121, Plain(128, 128, 128));
        SetImage(1, 99, 187, Plain(128, 128, 128));
        Capture();
    }

    // The segment point (normalized, y upward) under widget position (x, y) of a panel.
    Point Expected(int panel, int x, int y) const {
        const CImageViewport& v = *editor->viewports[panel];
        float u = static_cast<float>(x - v.originX - v.offsetX) / (static_cast<float>(v.imageWidth) * v.zoom);
        float w = static_cast<float>(y - v.originY - v.offsetY) / (static_cast<float>(v.imageHeight) * v.zoom);
        return Point(u, 1.0f - w);
    }

    RecordingDialogs dialogs;
};

TEST_F(EditorMouse, LeftPressDragReleaseInAddModeDrawsAPairInBothImages) {
    EXPECT_EQ(PressLeft(60, 150), 1);
    EXPECT_EQ(editor->activePanel, 0);
    EXPECT_EQ(DragLeft(120, 130), 1);
    EXPECT_EQ(DragLeft(200, 100), 1);
    EXPECT_EQ(ReleaseLeft(210, 90), 1);
    const SegmentList& a = editor->controller->segmentsA;
    const SegmentList& b = editor->controller->segmentsB;
    ASSERT_EQ(a.size(), 1u);
    ASSERT_EQ(b.size(), 1u);
    EXPECT_EQ(a[0].P, Expected(0, 60, 150));
    EXPECT_EQ(a[0].Q, Expected(0, 210, 90));
    EXPECT_EQ(b[0], a[0]);
    EXPECT_NEAR(a[0].P.x, 50.0f / 263.0f, 1e-6);
    EXPECT_NEAR(a[0].P.y, 1.0f - 140.0f / (121.0f * 263.0f / 161.0f), 1e-6);
    EXPECT_EQ(editor->controller->selected, -1);
    EXPECT_EQ(editor->controller->dragState, Idle);

    // What was drawn is on the screen in both panels.
    ScreenShot s = Capture();
    EXPECT_GT(s.Count(10, 10, 273, 450, [](const Rgb& c) { return c.IsGreen(); }), 100);
    EXPECT_GT(s.Count(293, 10, 556, 450, [](const Rgb& c) { return c.IsGreen(); }), 20);
}

TEST_F(EditorMouse, PairDrawnInPanelBAppearsAtTheSamePlaceInPanelA) {
    EXPECT_EQ(PressLeft(340, 300), 1);
    EXPECT_EQ(editor->activePanel, 1);
    ReleaseLeft(340, 300);
    ASSERT_EQ(editor->controller->segmentsA.size(), 1u);
    Point p = Expected(1, 340, 300);
    EXPECT_EQ(editor->controller->segmentsA[0].P, p);
    EXPECT_EQ(editor->controller->segmentsA[0].Q, p);
    EXPECT_EQ(editor->controller->segmentsB[0].P, p);
}

TEST_F(EditorMouse, PressBesideTheImageStillAddsWithPointsOutsideTheUnitSquare) {
    // Panel B's image is 99 x 187 at zoom 440/187, about 232 pixels wide: x 540 is beside it.
    PressLeft(540, 400);
    ReleaseLeft(540, 400);
    ASSERT_EQ(editor->controller->segmentsB.size(), 1u);
    EXPECT_GT(editor->controller->segmentsB[0].P.x, 1.0f);
    EXPECT_EQ(editor->controller->segmentsB[0].P, Expected(1, 540, 400));
}

TEST_F(EditorMouse, LeftButtonInTheOutputPanelOrAMarginIsRefused) {
    for (int x : {700, 5, 280, 283, 290, 560}) {
        SCOPED_TRACE(x);
        EXPECT_EQ(PressLeft(x, 100), 0);
        EXPECT_EQ(editor->activePanel, 2);
        EXPECT_EQ(DragLeft(x + 3, 104), 0);
        EXPECT_EQ(ReleaseLeft(x + 3, 104), 0);
    }
    EXPECT_TRUE(editor->controller->segmentsA.empty());
    EXPECT_TRUE(dialogs.alerts.empty());
}

TEST_F(EditorMouse, PanelHitTestUsesTheTenPixelMargins) {
    // third = 283: panel 0 is 11..272, panel 1 is 294..555, everything else panel 2.
    EXPECT_EQ(editor->PanelAt(10), 2);
    EXPECT_EQ(editor->PanelAt(11), 0);
    EXPECT_EQ(editor->PanelAt(272), 0);
    EXPECT_EQ(editor->PanelAt(273), 2);
    EXPECT_EQ(editor->PanelAt(293), 2);
    EXPECT_EQ(editor->PanelAt(294), 1);
    EXPECT_EQ(editor->PanelAt(555), 1);
    EXPECT_EQ(editor->PanelAt(556), 2);
    EXPECT_EQ(editor->PanelAt(-40), 2);
    EXPECT_EQ(editor->PanelAt(2000), 2);
}

TEST_F(EditorMouse, EditDragWithShiftMovesThePartnerEndPoint) {
    PressLeft(60, 150);
    DragLeft(200, 100);
    ReleaseLeft(200, 100);
    SegmentList before = editor->controller->segmentsB;

    editor->SetEditMode(Edit);
    EXPECT_EQ(PressLeft(198, 103), 1);  // near the end point
    EXPECT_EQ(editor->controller->selected, 0);
    EXPECT_EQ(editor->controller->selectedEnd, 1);
    DragLeft(230, 60);
    ReleaseLeft(240, 50);
    EXPECT_EQ(editor->controller->segmentsA[0].Q, Expected(0, 240, 50));
    EXPECT_EQ(editor->controller->segmentsB, before);  // no Shift: image B untouched

    PressLeft(62, 148);  // near the start point
    EXPECT_EQ(editor->controller->selectedEnd, 0);
    DragLeft(30, 200, FL_SHIFT);
    ReleaseLeft(25, 210, FL_SHIFT);
    EXPECT_EQ(editor->controller->segmentsA[0].P, Expected(0, 25, 210));
    EXPECT_EQ(editor->controller->segmentsB[0].P, Expected(0, 25, 210));
    EXPECT_EQ(editor->controller->segmentsB[0].Q, before[0].Q);
    EXPECT_TRUE(dialogs.alerts.empty());
}

TEST_F(EditorMouse, EditPressAwayFromEveryEndAlertsAndTheDragAlertsAgain) {
    PressLeft(60, 150);
    ReleaseLeft(60, 150);
    editor->SetEditMode(Edit);
    EXPECT_EQ(PressLeft(250, 400), 1);
    EXPECT_EQ(DragLeft(251, 401), 1);
    ReleaseLeft(251, 401);
    ASSERT_EQ(dialogs.alerts.size(), 2u);
    EXPECT_EQ(dialogs.alerts[0], "No closer line segments,please click closer to the line segment.");
    EXPECT_EQ(dialogs.alerts[1], "Invalid drag, not start from inside of a image.\n");
}

TEST_F(EditorMouse, DeleteModeRemovesThePairUnderThePress) {
    for (int y : {60, 120, 180}) {
        PressLeft(40, y);
        DragLeft(150, y);
        ReleaseLeft(150, y);
    }
    ASSERT_EQ(editor->controller->segmentsA.size(), 3u);
    SegmentList before = editor->controller->segmentsA;
    editor->SetEditMode(Delete);
    EXPECT_EQ(PressLeft(151, 121), 1);
    ReleaseLeft(151, 121);
    ASSERT_EQ(editor->controller->segmentsA.size(), 2u);
    EXPECT_EQ(editor->controller->segmentsA[0], before[0]);
    EXPECT_EQ(editor->controller->segmentsA[1], before[2]);
    EXPECT_EQ(editor->controller->segmentsB, editor->controller->segmentsA);
}

TEST_F(EditorMouse, RightDragPansTheImageUnderThePress) {
    CImageViewport& v = *editor->viewports[1];
    v.SetZoom(5.0f);  // 495 x 935: larger than the panel both ways
    v.SetOffset(0, 0);
    EXPECT_EQ(PressRight(400, 200), 1);
    EXPECT_EQ(DragRight(380, 170), 1);
    EXPECT_EQ(v.offsetX, -20);
    EXPECT_EQ(v.offsetY, -30);
    EXPECT_EQ(DragRight(330, 160), 1);
    EXPECT_EQ(v.offsetX, -70);
    EXPECT_EQ(v.offsetY, -40);
    EXPECT_EQ(ReleaseRight(330, 160), 1);
    EXPECT_EQ(editor->pressX, 400);
    EXPECT_EQ(editor->pressY, 200);
    EXPECT_EQ(editor->lastX, 330);
    EXPECT_EQ(editor->lastY, 160);
    // Panning never touches the segments or another panel.
    EXPECT_TRUE(editor->controller->segmentsA.empty());
    EXPECT_EQ(editor->viewports[0]->offsetX, 0);
}

TEST_F(EditorMouse, ShiftRightDragZoomsAboutThePressWithinTheLimits) {
    CImageViewport& v = *editor->viewports[0];
    float before = v.zoom;
    PressRight(100, 300, FL_SHIFT);
    float u0, w0;
    v.WidgetToImage(100, 300, &u0, &w0);
    DragRight(100, 250, FL_SHIFT);  // 50 pixels up: +0.5
    EXPECT_FLOAT_EQ(v.zoom, before + 0.5f);
    float u1, w1;
    v.WidgetToImage(100, 300, &u1, &w1);
    EXPECT_NEAR(u1 * 161.0f * v.zoom, u0 * 161.0f * v.zoom, 1.0f);
    DragRight(100, -1000, FL_SHIFT);
    EXPECT_EQ(v.zoom, 5.0f);
    DragRight(100, 2000, FL_SHIFT);
    EXPECT_EQ(v.zoom, 0.2f);
    ReleaseRight(100, 2000);
}

TEST_F(EditorMouse, RightDragInAMarginWorksOnTheOutputPanel) {
    FillImage(editor->images[2], 301, 211, Plain(1, 2, 3));
    Capture();
    CImageViewport& out = *editor->viewports[2];
    EXPECT_EQ(PressRight(280, 200), 1);  // the margin between panels 0 and 1
    EXPECT_EQ(editor->activePanel, 2);
    DragRight(260, 190);
    EXPECT_EQ(out.offsetX, -20);  // 301 wide in a 263 panel: room to pan left
    EXPECT_EQ(out.offsetY, 0);    // 211 high fits: clamped
    EXPECT_EQ(editor->viewports[0]->offsetX, 0);
}

TEST_F(EditorMouse, LeftHeldMakesAnyPressALeftPress) {
    EXPECT_EQ(Send(FL_PUSH, 60, 150, FL_BUTTON1 | FL_BUTTON3, FL_RIGHT_MOUSE), 1);
    EXPECT_EQ(editor->controller->segmentsA.size(), 1u);
    EXPECT_EQ(editor->pressX, 0);
}

TEST_F(EditorMouse, MiddleButtonAndWheelOnlyRedraw) {
    EXPECT_EQ(Send(FL_PUSH, 60, 150, FL_BUTTON2, FL_MIDDLE_MOUSE), 0);
    EXPECT_EQ(Send(FL_RELEASE, 60, 150, 0, FL_MIDDLE_MOUSE), 0);
    EXPECT_EQ(Send(FL_MOUSEWHEEL, 60, 150, 0), 0);
    EXPECT_NE(editor->damage(), 0);
    EXPECT_TRUE(editor->controller->segmentsA.empty());
    EXPECT_EQ(editor->viewports[0]->zoom, 263.0f / 161.0f);
}

TEST_F(EditorMouse, EveryEventRedraws) {
    Capture();
    ASSERT_EQ(editor->damage(), 0);
    PressRight(100, 100);
    EXPECT_NE(editor->damage(), 0);
    Capture();
    DragRight(101, 101);
    EXPECT_NE(editor->damage(), 0);
    Capture();
    ReleaseLeft(101, 101);
    EXPECT_NE(editor->damage(), 0);
}

TEST_F(EditorMouse, EventsAreRefusedWhileInputIsDisabled) {
    editor->SetInputEnabled(false);
    Capture();
    EXPECT_EQ(PressLeft(60, 150), 0);
    EXPECT_EQ(DragLeft(100, 150), 0);
    EXPECT_EQ(ReleaseLeft(100, 150), 0);
    EXPECT_EQ(PressRight(60, 150), 0);
    EXPECT_EQ(DragRight(10, 10), 0);
    EXPECT_EQ(Send(FL_MOUSEWHEEL, 60, 150, 0), 0);
    EXPECT_EQ(editor->handle(FL_ENTER), 0);
    EXPECT_EQ(editor->handle(FL_KEYBOARD), 0);
    EXPECT_EQ(editor->handle(FL_SHOW), 0);
    EXPECT_TRUE(editor->controller->segmentsA.empty());
    EXPECT_EQ(editor->activePanel, 2);
    EXPECT_EQ(editor->pressX, 0);
    EXPECT_EQ(editor->damage(), 0);

    editor->SetInputEnabled(true);
    EXPECT_EQ(PressLeft(60, 150), 1);
    EXPECT_EQ(editor->controller->segmentsA.size(), 1u);
}

}  // namespace

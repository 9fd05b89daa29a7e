#include "editor/segment_controller.h"

#include <gtest/gtest.h>

#include "support/recording_dialogs.h"

namespace {

const char kNoCloser[] = "No closer line segments,please click closer to the line segment.";
const char kInvalidDrag[] = "Invalid drag, not start from inside of a image.\n";

void ExpectSegment(const LineSegment& s, float px, float py, float qx, float qy) {
    EXPECT_EQ(s.P, Point(px, py));
    EXPECT_EQ(s.Q, Point(qx, qy));
}

// Three pairs, the same in both lists unless a test changes them.
CSegmentController ThreePairs() {
    CSegmentController c;
    c.AddPair(Point(0.1f, 0.1f), Point(0.3f, 0.1f));
    c.AddPair(Point(0.5f, 0.5f), Point(0.5f, 0.9f));
    c.AddPair(Point(0.8f, 0.2f), Point(0.9f, 0.6f));
    return c;
}

TEST(SegmentController, StartsEmptyAndIdle) {
    CSegmentController c;
    EXPECT_TRUE(c.segmentsA.empty());
    EXPECT_TRUE(c.segmentsB.empty());
    EXPECT_EQ(c.selected, -1);
    EXPECT_EQ(c.selectedEnd, 0);
    EXPECT_EQ(c.dragState, Idle);
}

TEST(SegmentController, AddClickLeavesAZeroLengthPairInBothLists) {
    RecordingDialogs dialogs;
    CSegmentController c = ThreePairs();
    EXPECT_EQ(c.Push(1, Add, 0.25f, 0.75f, true), 1);
    EXPECT_EQ(c.selected, 3);
    EXPECT_EQ(c.dragState, Pressed);
    EXPECT_EQ(c.Release(1, Add, 0.6f, 0.6f, false), 1);  // never dragged: the release point is ignored
    EXPECT_EQ(c.selected, -1);
    EXPECT_EQ(c.dragState, Idle);
    ASSERT_EQ(c.segmentsA.size(), 4u);
    ASSERT_EQ(c.segmentsB.size(), 4u);
    ExpectSegment(c.segmentsA[3], 0.25f, 0.75f, 0.25f, 0.75f);
    ExpectSegment(c.segmentsB[3], 0.25f, 0.75f, 0.25f, 0.75f);
    EXPECT_TRUE(dialogs.alerts.empty());
}

TEST(SegmentController, AddDragMovesTheEndOfBothSegments) {
    RecordingDialogs dialogs;
    CSegmentController c;
    c.Push(0, Add, 0.2f, 0.3f, true);
    EXPECT_EQ(c.Drag(0, Add, 0.4f, 0.5f, true, false), 1);
    EXPECT_EQ(c.dragState, Dragged);
    ExpectSegment(c.segmentsA[0], 0.2f, 0.3f, 0.4f, 0.5f);
    ExpectSegment(c.segmentsB[0], 0.2f, 0.3f, 0.4f, 0.5f);
    EXPECT_EQ(c.Drag(0, Add, 0.6f, 0.7f, true, false), 1);
    EXPECT_EQ(c.dragState, Dragged);
    EXPECT_EQ(c.Release(0, Add, 1.3f, -0.2f, false), 1);
    ExpectSegment(c.segmentsA[0], 0.2f, 0.3f, 1.3f, -0.2f);
    ExpectSegment(c.segmentsB[0], 0.2f, 0.3f, 1.3f, -0.2f);
    EXPECT_EQ(c.selected, -1);
    EXPECT_EQ(c.dragState, Idle);
    EXPECT_TRUE(dialogs.alerts.empty());
}

TEST(SegmentController, AddDragWithoutAPressDoesNothing) {
    RecordingDialogs dialogs;
    CSegmentController c = ThreePairs();
    CSegmentController before = c;
    EXPECT_EQ(c.Drag(0, Add, 0.4f, 0.5f, true, false), 1);
    EXPECT_EQ(c.dragState, Idle);
    EXPECT_EQ(c.segmentsA, before.segmentsA);
    EXPECT_EQ(c.segmentsB, before.segmentsB);
    EXPECT_TRUE(dialogs.alerts.empty());
}

TEST(SegmentController, EditPressPicksTheNearestEndOfThePanelsList) {
    RecordingDialogs dialogs;
    CSegmentController c = ThreePairs();
    c.segmentsB[2].Q = Point(0.2f, 0.9f);
    EXPECT_EQ(c.Push(0, Edit, 0.88f, 0.62f, true), 1);
    EXPECT_EQ(c.selected, 2);
    EXPECT_EQ(c.selectedEnd, 1);
    EXPECT_EQ(c.dragState, Pressed);
    c.Release(0, Edit, 0.0f, 0.0f, false);

    // Only panel B's own list is searched: its pair 2 ends elsewhere.
    EXPECT_EQ(c.Push(1, Edit, 0.21f, 0.88f, true), 1);
    EXPECT_EQ(c.selected, 2);
    EXPECT_EQ(c.selectedEnd, 1);
    c.Release(1, Edit, 0.0f, 0.0f, false);
    EXPECT_EQ(c.Push(1, Edit, 0.9f, 0.6f, true), 1);  // where pair 2 ends in A only
    EXPECT_EQ(c.selected, -1);
    ASSERT_EQ(dialogs.alerts.size(), 1u);
    EXPECT_EQ(dialogs.alerts[0], kNoCloser);
}

TEST(SegmentController, EditPressFarFromEveryEndClearsTheSelectionWithAnAlert) {
    RecordingDialogs dialogs;
    CSegmentController c = ThreePairs();
    c.Push(0, Edit, 0.5f, 0.5f, true);
    ASSERT_EQ(c.selected, 1);
    c.selectedEnd = 1;
    EXPECT_EQ(c.Push(0, Edit, 0.1f, 0.9f, true), 1);
    EXPECT_EQ(c.selected, -1);
    EXPECT_EQ(c.selectedEnd, 0);
    EXPECT_EQ(c.dragState, Idle);
    ASSERT_EQ(dialogs.alerts.size(), 1u);
    EXPECT_EQ(dialogs.alerts[0], kNoCloser);
    EXPECT_EQ(c.segmentsA.size(), 3u);
}

TEST(SegmentController, EditDragMovesThePickedEndInItsOwnListOnly) {
    RecordingDialogs dialogs;
    CSegmentController c = ThreePairs();
    c.Push(1, Edit, 0.52f, 0.49f, true);  // start point of pair 1
    EXPECT_EQ(c.Drag(1, Edit, 0.45f, 0.4f, true, false), 1);
    EXPECT_EQ(c.dragState, Dragged);
    ExpectSegment(c.segmentsB[1], 0.45f, 0.4f, 0.5f, 0.9f);
    ExpectSegment(c.segmentsA[1], 0.5f, 0.5f, 0.5f, 0.9f);
    EXPECT_EQ(c.Release(1, Edit, 0.4f, 0.35f, false), 1);
    ExpectSegment(c.segmentsB[1], 0.4f, 0.35f, 0.5f, 0.9f);
    ExpectSegment(c.segmentsA[1], 0.5f, 0.5f, 0.5f, 0.9f);
    EXPECT_EQ(c.selected, -1);
    EXPECT_EQ(c.dragState, Idle);
    EXPECT_TRUE(dialogs.alerts.empty());
}

TEST(SegmentController, EditDragWithShiftMovesThePartnerEndToo) {
    RecordingDialogs dialogs;
    CSegmentController c = ThreePairs();
    c.segmentsB[1].Q = Point(0.7f, 0.7f);
    c.Push(0, Edit, 0.51f, 0.88f, true);  // end point of pair 1 in A
    ASSERT_EQ(c.selectedEnd, 1);
    c.Drag(0, Edit, 0.6f, 0.95f, true, true);
    ExpectSegment(c.segmentsA[1], 0.5f, 0.5f, 0.6f, 0.95f);
    ExpectSegment(c.segmentsB[1], 0.5f, 0.5f, 0.6f, 0.95f);
    // Shift let go before the release: the final point moves only panel A's end.
    c.Release(0, Edit, 0.62f, 0.97f, false);
    ExpectSegment(c.segmentsA[1], 0.5f, 0.5f, 0.62f, 0.97f);
    ExpectSegment(c.segmentsB[1], 0.5f, 0.5f, 0.6f, 0.95f);

    c.Push(0, Edit, 0.62f, 0.97f, true);
    c.Drag(0, Edit, 0.3f, 0.3f, true, false);
    c.Release(0, Edit, 0.31f, 0.32f, true);
    ExpectSegment(c.segmentsA[1], 0.5f, 0.5f, 0.31f, 0.32f);
    ExpectSegment(c.segmentsB[1], 0.5f, 0.5f, 0.31f, 0.32f);
    ExpectSegment(c.segmentsA[0], 0.1f, 0.1f, 0.3f, 0.1f);
    ExpectSegment(c.segmentsB[2], 0.8f, 0.2f, 0.9f, 0.6f);
}

TEST(SegmentController, EditDragAfterAFailedPickAlertsAndChangesNothing) {
    RecordingDialogs dialogs;
    CSegmentController c = ThreePairs();
    CSegmentController before = c;
    c.Push(0, Edit, 0.1f, 0.9f, true);
    EXPECT_EQ(c.Drag(0, Edit, 0.15f, 0.85f, true, true), 1);
    EXPECT_EQ(c.dragState, Idle);
    ASSERT_EQ(dialogs.alerts.size(), 2u);
    EXPECT_EQ(dialogs.alerts[0], kNoCloser);
    EXPECT_EQ(dialogs.alerts[1], kInvalidDrag);
    EXPECT_EQ(c.Release(0, Edit, 0.2f, 0.8f, true), 1);
    EXPECT_EQ(c.segmentsA, before.segmentsA);
    EXPECT_EQ(c.segmentsB, before.segmentsB);
    EXPECT_EQ(dialogs.alerts.size(), 2u);
}

TEST(SegmentController, DeletePressRemovesTheNearestPairKeepingTheOrder) {
    RecordingDialogs dialogs;
    CSegmentController c = ThreePairs();
    c.segmentsB[1].P = Point(0.05f, 0.05f);
    c.selected = 2;
    EXPECT_EQ(c.Push(0, Delete, 0.49f, 0.88f, true), 1);
    EXPECT_EQ(c.dragState, Pressed);
    EXPECT_EQ(c.selected, -1);
    ASSERT_EQ(c.segmentsA.size(), 2u);
    ASSERT_EQ(c.segmentsB.size(), 2u);
    ExpectSegment(c.segmentsA[0], 0.1f, 0.1f, 0.3f, 0.1f);
    ExpectSegment(c.segmentsA[1], 0.8f, 0.2f, 0.9f, 0.6f);
    ExpectSegment(c.segmentsB[0], 0.1f, 0.1f, 0.3f, 0.1f);
    ExpectSegment(c.segmentsB[1], 0.8f, 0.2f, 0.9f, 0.6f);

    // Drags and the release do nothing and leave the state as it is.
    EXPECT_EQ(c.Drag(0, Delete, 0.1f, 0.1f, true, true), 1);
    EXPECT_EQ(c.dragState, Pressed);
    EXPECT_EQ(c.Release(0, Delete, 0.1f, 0.1f, false), 1);
    EXPECT_EQ(c.dragState, Pressed);
    EXPECT_EQ(c.segmentsA.size(), 2u);
    EXPECT_TRUE(dialogs.alerts.empty());
}

TEST(SegmentController, DeletePressFarFromEveryEndIsSilent) {
    RecordingDialogs dialogs;
    CSegmentController c = ThreePairs();
    c.selected = 1;
    EXPECT_EQ(c.Push(1, Delete, 0.1f, 0.9f, true), 1);
    EXPECT_EQ(c.selected, -1);
    EXPECT_EQ(c.dragState, Pressed);
    EXPECT_EQ(c.segmentsA.size(), 3u);
    EXPECT_TRUE(dialogs.alerts.empty());
}

TEST(SegmentController, OutputPanelAndMissingLeftButtonAreRefused) {
    RecordingDialogs dialogs;
    CSegmentController c = ThreePairs();
    CSegmentController before = c;
    for (EditMode mode : {Add, Edit, Delete}) {
        EXPECT_EQ(c.Push(2, mode, 0.5f, 0.5f, true), 0);
        EXPECT_EQ(c.Push(0, mode, 0.5f, 0.5f, false), 0);
        EXPECT_EQ(c.Drag(2, mode, 0.5f, 0.5f, true, false), 0);
        EXPECT_EQ(c.Drag(1, mode, 0.5f, 0.5f, false, false), 0);
        EXPECT_EQ(c.Release(2, mode, 0.5f, 0.5f, false), 0);
    }
    EXPECT_EQ(c.segmentsA, before.segmentsA);
    EXPECT_EQ(c.segmentsB, before.segmentsB);
    EXPECT_EQ(c.dragState, Idle);
    EXPECT_EQ(c.selected, -1);
    EXPECT_TRUE(dialogs.alerts.empty());
}

TEST(SegmentController, GestureSurvivesAModeChangeWithTheButtonHeld) {
    RecordingDialogs dialogs;
    CSegmentController c = ThreePairs();
    // A Delete press leaves Pressed with nothing selected; the drag then continues as Add.
    c.Push(0, Delete, 0.1f, 0.1f, true);
    ASSERT_EQ(c.segmentsA.size(), 2u);
    EXPECT_EQ(c.Drag(0, Add, 0.4f, 0.4f, true, false), 1);
    EXPECT_EQ(c.Drag(0, Edit, 0.4f, 0.4f, true, true), 1);
    EXPECT_EQ(c.Release(0, Add, 0.4f, 0.4f, false), 1);
    EXPECT_EQ(c.segmentsA.size(), 2u);
    ExpectSegment(c.segmentsA[0], 0.5f, 0.5f, 0.5f, 0.9f);
    ExpectSegment(c.segmentsA[1], 0.8f, 0.2f, 0.9f, 0.6f);
    EXPECT_EQ(c.segmentsA, c.segmentsB);

    // An Add press continued as an Edit drag moves the new pair's start point.
    c.Push(1, Add, 0.3f, 0.3f, true);
    c.Drag(1, Edit, 0.35f, 0.25f, true, false);
    ExpectSegment(c.segmentsB[2], 0.35f, 0.25f, 0.3f, 0.3f);
    ExpectSegment(c.segmentsA[2], 0.3f, 0.3f, 0.3f, 0.3f);
}

TEST(SegmentPick, OnlyEndPointsWithinTheRadiusCount) {
    CSegmentController c;
    c.AddPair(Point(0.0f, 0.5f), Point(1.0f, 0.5f));
    int index = 7, end = 7;
    // The middle of the line is not an end point.
    EXPECT_FALSE(c.PickEndpoint(0, 0.5f, 0.5f, index, end));
    EXPECT_EQ(index, 7);
    EXPECT_EQ(end, 7);
    // Radius 0.2 in normalized units, across and vertically alike whatever the image's shape.
    EXPECT_TRUE(c.PickEndpoint(0, 0.19f, 0.5f, index, end));
    EXPECT_EQ(index, 0);
    EXPECT_EQ(end, 0);
    EXPECT_TRUE(c.PickEndpoint(0, 1.0f, 0.69f, index, end));
    EXPECT_EQ(end, 1);
    EXPECT_TRUE(c.PickEndpoint(0, 0.0f, 0.31f, index, end));
    EXPECT_FALSE(c.PickEndpoint(0, 0.21f, 0.5f, index, end));
    EXPECT_FALSE(c.PickEndpoint(0, 1.0f, 0.71f, index, end));
    // Squared distance 0.045: each coordinate within 0.2, the distance not.
    EXPECT_FALSE(c.PickEndpoint(0, 0.15f, 0.65f, index, end));
    EXPECT_TRUE(c.PickEndpoint(0, 0.13f, 0.63f, index, end));
}

TEST(SegmentPick, EarlierPairWinsOnEqualDistance) {
    CSegmentController c;
    c.AddPair(Point(0.5f, 0.375f), Point(0.0f, 0.0f));
    c.AddPair(Point(0.5f, 0.625f), Point(1.0f, 1.0f));
    c.AddPair(Point(0.5f, 0.5625f), Point(1.0f, 0.0f));
    int index = -1, end = -1;
    ASSERT_TRUE(c.PickEndpoint(0, 0.5f, 0.5f, index, end));
    EXPECT_EQ(index, 2);  // the nearest wins wherever it is
    ASSERT_TRUE(c.DeletePair(2));
    // Pair 0's and pair 1's start points are both exactly 0.125 away.
    ASSERT_TRUE(c.PickEndpoint(0, 0.5f, 0.5f, index, end));
    EXPECT_EQ(index, 0);
    EXPECT_EQ(end, 0);

    // The earlier pair's end point beats the later pair's start point at the same distance.
    CSegmentController d;
    d.AddPair(Point(0.0f, 0.0f), Point(0.5f, 0.375f));
    d.AddPair(Point(0.5f, 0.625f), Point(1.0f, 1.0f));
    ASSERT_TRUE(d.PickEndpoint(1, 0.5f, 0.5f, index, end));
    EXPECT_EQ(index, 0);
    EXPECT_EQ(end, 1);
}

TEST(SegmentPick, StartPointWinsOverAnEquallyNearEndPoint) {
    CSegmentController c;
    c.AddPair(Point(0.375f, 0.5f), Point(0.625f, 0.5f));
    c.AddPair(Point(0.75f, 0.75f), Point(0.75f, 0.75f));
    int index = -1, end = -1;
    ASSERT_TRUE(c.PickEndpoint(0, 0.5f, 0.5f, index, end));
    EXPECT_EQ(index, 0);
    EXPECT_EQ(end, 0);
    // A zero-length segment yields its start point.
    ASSERT_TRUE(c.PickEndpoint(1, 0.76f, 0.74f, index, end));
    EXPECT_EQ(index, 1);
    EXPECT_EQ(end, 0);
    // Strictly nearer end point wins.
    ASSERT_TRUE(c.PickEndpoint(0, 0.51f, 0.5f, index, end));
    EXPECT_EQ(index, 0);
    EXPECT_EQ(end, 1);
}

TEST(SegmentPick, EmptyListPicksNothing) {
    CSegmentController c;
    int index = 4, end = 1;
    EXPECT_FALSE(c.PickEndpoint(0, 0.5f, 0.5f, index, end));
    EXPECT_FALSE(c.PickEndpoint(1, 0.5f, 0.5f, index, end));
    EXPECT_EQ(index, 4);
    EXPECT_EQ(end, 1);
}

TEST(SegmentController, DeletePairRefusesIndicesOutsideTheLists) {
    CSegmentController c = ThreePairs();
    EXPECT_FALSE(c.DeletePair(-1));
    EXPECT_FALSE(c.DeletePair(-2));
    EXPECT_FALSE(c.DeletePair(3));
    EXPECT_EQ(c.segmentsA.size(), 3u);
    EXPECT_TRUE(c.DeletePair(0));
    EXPECT_TRUE(c.DeletePair(1));
    ASSERT_EQ(c.segmentsA.size(), 1u);
    ASSERT_EQ(c.segmentsB.size(), 1u);
    ExpectSegment(c.segmentsA[0], 0.5f, 0.5f, 0.5f, 0.9f);
    ExpectSegment(c.segmentsB[0], 0.5f, 0.5f, 0.5f, 0.9f);
}

TEST(SegmentController, AddPairAppendsIdenticalSegmentsAndReturnsTheIndex) {
    CSegmentController c;
    EXPECT_EQ(c.AddPair(Point(0.1f, 0.2f), Point(0.3f, 0.4f)), 0);
    EXPECT_EQ(c.AddPair(Point(-0.5f, 1.5f), Point(2.0f, -1.0f)), 1);
    ASSERT_EQ(c.segmentsA.size(), 2u);
    ExpectSegment(c.segmentsA[1], -0.5f, 1.5f, 2.0f, -1.0f);
    EXPECT_EQ(c.segmentsA, c.segmentsB);
    EXPECT_EQ(c.segmentsA[1].length, 0.0f);  // derived fields are the engine's business
}

TEST(SegmentController, UpdateSegmentOverwritesOnlyTheGivenEnds) {
    CSegmentController c = ThreePairs();
    Point p(0.11f, 0.12f), q(0.13f, 0.14f);
    c.UpdateSegment(0, 1, &p, nullptr);
    ExpectSegment(c.segmentsA[1], 0.11f, 0.12f, 0.5f, 0.9f);
    c.UpdateSegment(1, 1, nullptr, &q);
    ExpectSegment(c.segmentsB[1], 0.5f, 0.5f, 0.13f, 0.14f);
    c.UpdateSegment(5, 2, &p, &q);  // any list other than 0 is list B
    ExpectSegment(c.segmentsB[2], 0.11f, 0.12f, 0.13f, 0.14f);
    ExpectSegment(c.segmentsA[2], 0.8f, 0.2f, 0.9f, 0.6f);
    CSegmentController before = c;
    c.UpdateSegment(0, -1, &p, &q);
    c.UpdateSegment(0, 3, &p, &q);
    EXPECT_EQ(c.segmentsA, before.segmentsA);
}

TEST(SegmentController, ReplaceAllCopiesTheListsAndClearsTheSelection) {
    CSegmentController c = ThreePairs();
    c.selected = 2;
    c.selectedEnd = 1;
    c.dragState = Dragged;
    SegmentList a = {LineSegment(Point(0.1f, 0.9f), Point(0.2f, 0.8f))};
    SegmentList b = {LineSegment(Point(0.3f, 0.7f), Point(0.4f, 0.6f))};
    c.ReplaceAll(a, b);
    ASSERT_EQ(c.segmentsA.size(), 1u);
    ASSERT_EQ(c.segmentsB.size(), 1u);
    ExpectSegment(c.segmentsA[0], 0.1f, 0.9f, 0.2f, 0.8f);
    ExpectSegment(c.segmentsB[0], 0.3f, 0.7f, 0.4f, 0.6f);
    EXPECT_EQ(c.selected, -1);
    EXPECT_EQ(c.selectedEnd, 0);
    EXPECT_EQ(c.dragState, Dragged);
    a[0].P = Point(0.0f, 0.0f);  // a copy, not a reference
    ExpectSegment(c.segmentsA[0], 0.1f, 0.9f, 0.2f, 0.8f);

    c.ReplaceAll(SegmentList(), SegmentList());
    EXPECT_TRUE(c.segmentsA.empty());
    EXPECT_TRUE(c.segmentsB.empty());
}

TEST(SegmentController, ReplaceAllWithItsOwnListsKeepsThem) {
    CSegmentController c = ThreePairs();
    SegmentList before = c.segmentsA;
    c.ReplaceAll(c.segmentsA, c.segmentsB);
    EXPECT_EQ(c.segmentsA, before);
    EXPECT_EQ(c.segmentsB, before);
}

TEST(SegmentController, ExportListsReferencesTheControllersLists) {
    CSegmentController c = ThreePairs();
    MorphSettings settings;
    c.ExportLists(settings);
    EXPECT_EQ(settings.segmentsA, &c.segmentsA);
    EXPECT_EQ(settings.segmentsB, &c.segmentsB);
    EXPECT_EQ(settings.imageA, nullptr);
}

}  // namespace

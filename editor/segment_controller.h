// The segment pairs and the state of the left-button gesture that edits them. Points are
// normalized image coordinates with y upward. No GL and no toolkit event state: the editor
// passes in which buttons and keys are held, so the state machine runs without a display.
// User-interface thread only.
#pragma once

#include "editor/edit_mode.h"
#include "morph/morph_settings.h"
#include "morph/segment_list.h"

class CSegmentController {
public:
    SegmentList segmentsA;
    SegmentList segmentsB;
    // Index of the selected pair in both lists, -1 for none.
    int selected = -1;
    // The picked end of the selected pair: 0 the start point P, 1 the end point Q.
    int selectedEnd = 0;
    DragState dragState = Idle;

    // The three steps of a left-button gesture in panel 0 (image A) or 1 (image B); each
    // returns 1 when handled and 0 for panel 2 (and for Push/Drag when the left button is
    // not held). Alerts go through the dialog seam.
    int Push(int panel, EditMode mode, float x, float y, bool leftHeld);
    int Drag(int panel, EditMode mode, float x, float y, bool leftHeld, bool shiftHeld);
    int Release(int panel, EditMode mode, float x, float y, bool shiftHeld);

    // The end point nearest to (x, y) in list 0 (segmentsA) or any other (segmentsB), if its
    // squared distance is below kPickRadiusSq; the outputs are untouched otherwise.
    bool PickEndpoint(int list, float x, float y, int& index, int& end) const;
    // Appends the segment P -> Q to both lists; returns the new pair's index.
    int AddPair(const Point& P, const Point& Q);
    // False for -1 or an index past the end; otherwise removes the pair from both lists.
    bool DeletePair(int index);
    // Overwrites the given end points (nullptr: keep) of one segment; an index outside the
    // list changes nothing.
    void UpdateSegment(int list, int index, const Point* P, const Point* Q);
    // Copies a document's lists in and clears the selection; the gesture state is kept.
    void ReplaceAll(const SegmentList& listA, const SegmentList& listB);
    // Points the record at the controller's own lists (no copy).
    void ExportLists(MorphSettings& settings);

    static constexpr double kPickRadiusSq = 0.04;

private:
    SegmentList& List(int list) { return list == 0 ? segmentsA : segmentsB; }
    const SegmentList& List(int list) const { return list == 0 ? segmentsA : segmentsB; }
    // Moves the picked end of the selected pair in the panel's list, and with Shift in the
    // other list too.
    void MovePickedEnd(int panel, const Point& at, bool shiftHeld);
};

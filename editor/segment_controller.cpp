#include "editor/segment_controller.h"

#include "editor/dialogs.h"

int CSegmentController::Push(int panel, EditMode mode, float x, float y, bool leftHeld) {
    if (panel == 2 || !leftHeld) return 0;
    dragState = Pressed;
    Point at(x, y);
    switch (mode) {
        case Add:
            selected = AddPair(at, at);
            if (selected == -1) {
                dragState = Idle;
                ShowAlert("Error adding line segment.");
            }
            return 1;
        case Delete: {
            selected = -1;
            int index = -1, end = 0;
            if (PickEndpoint(panel, x, y, index, end)) {
                DeletePair(index);
                selected = -1;
            }
            return 1;
        }
        case Edit: {
            int index = -1, end = 0;
            if (PickEndpoint(panel, x, y, index, end)) {
                selected = index;
                selectedEnd = end;
                return 1;
            }
            dragState = Idle;
            selected = -1;
            selectedEnd = 0;
            ShowAlert("No closer line segments,please click closer to the line segment.");
            return 1;
        }
    }
    return 1;
}

int CSegmentController::Drag(int panel, EditMode mode, float x, float y, bool leftHeld, bool shiftHeld) {
    if (panel == 2 || !leftHeld) return 0;
    Point at(x, y);
    switch (mode) {
        case Add:
            if (dragState != Idle) {
                dragState = Dragged;
                UpdateSegment(0, selected, nullptr, &at);
                UpdateSegment(1, selected, nullptr, &at);
            }
            return 1;
        case Edit:
            if (dragState != Idle) {
                dragState = Dragged;
                MovePickedEnd(panel, at, shiftHeld);
            } else {
                ShowAlert("Invalid drag, not start from inside of a image.\n");
            }
            return 1;
        case Delete:
            return 1;
    }
    return 1;
}

int CSegmentController::Release(int panel, EditMode mode, float x, float y, bool shiftHeld) {
    if (panel == 2) return 0;
    Point at(x, y);
    switch (mode) {
        case Add:
            if (dragState == Dragged) {
                UpdateSegment(0, selected, nullptr, &at);
                UpdateSegment(1, selected, nullptr, &at);
            }
            selected = -1;
            dragState = Idle;
            return 1;
        case Edit:
            if (dragState == Dragged) MovePickedEnd(panel, at, shiftHeld);
            selected = -1;
            dragState = Idle;
            return 1;
        case Delete:
            return 1;
    }
    return 1;
}

void CSegmentController::MovePickedEnd(int panel, const Point& at, bool shiftHeld) {
    const Point* newP = selectedEnd == 0 ? &at : nullptr;
    const Point* newQ = selectedEnd == 0 ? nullptr : &at;
    UpdateSegment(panel, selected, newP, newQ);
    if (shiftHeld) UpdateSegment(1 - panel, selected, newP, newQ);
}

bool CSegmentController::PickEndpoint(int list, float x, float y, int& index, int& end) const {
    const SegmentList& segments = List(list);
    float best = 1000.0f;
    int bestIndex = -1, bestEnd = 0;
    for (size_t i = 0; i < segments.size(); ++i) {
        const LineSegment& s = segments[i];
        float dP = (s.P.x - x) * (s.P.x - x) + (s.P.y - y) * (s.P.y - y);
        if (dP < best) {
            best = dP;
            bestIndex = static_cast<int>(i);
            bestEnd = 0;
        }
        float dQ = (s.Q.x - x) * (s.Q.x - x) + (s.Q.y - y) * (s.Q.y - y);
        if (dQ < best) {
            best = dQ;
            bestIndex = static_cast<int>(i);
            bestEnd = 1;
        }
    }
    if (!(best < kPickRadiusSq)) return false;
    index = bestIndex;
    end = bestEnd;
    return true;
}

int CSegmentController::AddPair(const Point& P, const Point& Q) {
    LineSegment segment(P, Q);
    segmentsA.push_back(segment);
    segmentsB.push_back(segment);
    return static_cast<int>(segmentsA.size()) - 1;
}

bool CSegmentController::DeletePair(int index) {
    if (index < 0 || index >= static_cast<int>(segmentsA.size())) return false;
    segmentsA.erase(segmentsA.begin() + index);
    if (index < static_cast<int>(segmentsB.size())) segmentsB.erase(segmentsB.begin() + index);
    return true;
}

void CSegmentController::UpdateSegment(int list, int index, const Point* P, const Point* Q) {
    SegmentList& segments = List(list);
    // -1 is "no selection"; any other index outside the list (a gesture that outlived its
    // pair, e.g. after the mode changed with the button held) is ignored the same way.
    if (index < 0 || index >= static_cast<int>(segments.size())) return;
    if (P != nullptr) segments[index].P = *P;
    if (Q != nullptr) segments[index].Q = *Q;
}

void CSegmentController::ReplaceAll(const SegmentList& listA, const SegmentList& listB) {
    // Copied before the old lists go, so a record that refers to our own lists keeps them.
    SegmentList copyA(listA.begin(), listA.end());
    SegmentList copyB(listB.begin(), listB.end());
    segmentsA.swap(copyA);
    segmentsB.swap(copyB);
    selected = -1;
    selectedEnd = 0;
}

void CSegmentController::ExportLists(MorphSettings& settings) {
    settings.segmentsA = &segmentsA;
    settings.segmentsB = &segmentsB;
}

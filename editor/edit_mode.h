// The editing mode chosen with the main window's "Add", "Edit" and "Delete" buttons, and the
// state of the current left-button gesture.
#pragma once

enum EditMode { Add = 0, Edit = 1, Delete = 2 };

enum DragState { Idle = 0, Pressed = 1, Dragged = 2 };

// The main window and its about box, the command handlers behind their widgets and menu,
// and the hand-over of a finished morph to the user-interface thread. Exactly one exists
// in the program; every operation except OnMorphFinished runs on the user-interface thread.
#pragma once

#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Menu_Item.H>
#include <FL/Fl_Progress.H>
#include <FL/Fl_Return_Button.H>
#include <FL/Fl_Value_Input.H>
#include <FL/Fl_Value_Slider.H>

#include <atomic>
#include <string>

#include "document/picture_spelling.h"
#include "editor/edit_mode.h"
#include "editor/morph_editor.h"
#include "morph/frame_request.h"
#include "morph/image_morpher.h"

// How often the progress bar is brought up to date while a morph runs, in seconds.
constexpr float kProgressPeriod = 0.1f;

class CMorphUI {
public:
    // Builds both windows and the engine; shows nothing.
    CMorphUI();

    Fl_Double_Window* mainWindow = nullptr;
    CMorphEditor* editor = nullptr;
    Fl_Button* loadAButton = nullptr;
    Fl_Button* loadBButton = nullptr;
    Fl_Button* morphButton = nullptr;
    Fl_Button* movieButton = nullptr;
    Fl_Button* saveImageButton = nullptr;
    Fl_Value_Input* widthInput = nullptr;
    Fl_Value_Input* heightInput = nullptr;
    Fl_Progress* progressBar = nullptr;
    Fl_Button* addButton = nullptr;
    Fl_Button* editButton = nullptr;
    Fl_Button* deleteButton = nullptr;
    Fl_Value_Slider* interpSlider = nullptr;
    Fl_Double_Window* aboutWindow = nullptr;
    Fl_Return_Button* aboutCloseButton = nullptr;
    CImageMorpher morpher;

    // This window's own copy of the menu table, and its "L&oad Morph..." entry, which is
    // switched off with the morph-locked controls so that no document replaces the images
    // and segments that a running morph reads.
    Fl_Menu_Item* menuItems = nullptr;
    Fl_Menu_Item* loadMorphItem = nullptr;
    // True from an accepted morph request until its end has reached this thread.
    bool morphRunning = false;
    // Set by the engine's thread when a morph has ended; consumed on this thread.
    std::atomic<bool> morphEndPending{false};
    // Images A and B as the last document loaded them: the path loaded and the document's
    // relative name it was found through, so that Save Morph keeps that name while the image
    // is still the one loaded from it.
    PictureOrigin documentPictures[2];

    // Handlers of the buttons and the menu.
    void OnLoadImage(int slot);
    void OnSaveImage(int slot);
    void OnMorphSingleFrame();
    void OnExportMovie();
    void OnAddMode();
    void OnEditMode();
    void OnDeleteMode();
    void OnAbout();
    void OnAboutClose();
    void OnExit();
    void OnSaveMorph();
    void OnLoadMorph();
    // Reads the document at `path` and applies it as Load Morph does once its chooser has
    // answered, with the same alerts; the document named on the command line comes here too.
    void LoadMorphDocument(const std::string& path);
    // A value typed into "Output Width" or "Output Height" is brought into 1..10000.
    void OnOutputSizeTyped(Fl_Value_Input* input);

    // Switches the morph-locked controls (and the editor's input) together.
    void SetControlsEnabled(bool on);
    // Presets the output size once, from the first image loaded; the editor's status.
    int UpdateOutputSize(int slot);
    void ReleaseModeButtons();
    // The engine's progress; 0.0 when it reports none.
    float GetMorphProgress();
    // Switches the controls back on if the engine has reported the end of a morph. Returns
    // true when it did.
    bool TakeMorphEnd();

private:
    void BuildMainWindow();
    void BuildAboutWindow();
};

// The one CMorphUI; written once by main before the timer is armed.
extern CMorphUI* gMorphUI;

// Makes the toolkit's thread wake-up usable; once per process, before any morph.
void EnableThreadWakeUp();

// The 0.1 second timer: re-arms itself, shows the progress and redraws the editor.
void ProgressTick(void* unused);

// The engine's completion callback, called on its controller thread with the CMorphUI as
// user data. It touches no widget: it hands the event to the user-interface thread.
void OnMorphFinished(void* data);

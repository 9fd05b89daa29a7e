// Construction of the main window, its menu table and the about box, and the plain
// callbacks that forward each widget's event to its CMorphUI handler.
#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Menu_Bar.H>

#include "app/morph_ui.h"

CMorphUI* gMorphUI = nullptr;

namespace {

// Both windows carry the CMorphUI as their user data; the widgets' own stays empty.
CMorphUI* OwnerOf(Fl_Widget* w) {
    Fl_Window* window = w->as_window() ? w->as_window() : w->window();
    return window ? static_cast<CMorphUI*>(window->user_data()) : nullptr;
}

void LoadImageACallback(Fl_Widget* w, void*) { OwnerOf(w)->OnLoadImage(0); }
void LoadImageBCallback(Fl_Widget* w, void*) { OwnerOf(w)->OnLoadImage(1); }
void SaveImageCallback(Fl_Widget* w, void*) { OwnerOf(w)->OnSaveImage(2); }
void MorphSingleFrameCallback(Fl_Widget* w, void*) { OwnerOf(w)->OnMorphSingleFrame(); }
void ExportMovieCallback(Fl_Widget* w, void*) { OwnerOf(w)->OnExportMovie(); }
void AddModeCallback(Fl_Widget* w, void*) { OwnerOf(w)->OnAddMode(); }
void EditModeCallback(Fl_Widget* w, void*) { OwnerOf(w)->OnEditMode(); }
void DeleteModeCallback(Fl_Widget* w, void*) { OwnerOf(w)->OnDeleteMode(); }
void OutputSizeCallback(Fl_Widget* w, void*) {
    OwnerOf(w)->OnOutputSizeTyped(static_cast<Fl_Value_Input*>(w));
}
void LoadMorphCallback(Fl_Widget* w, void*) { OwnerOf(w)->OnLoadMorph(); }
void SaveMorphCallback(Fl_Widget* w, void*) { OwnerOf(w)->OnSaveMorph(); }
void ExitCallback(Fl_Widget* w, void*) { OwnerOf(w)->OnExit(); }
void AboutCallback(Fl_Widget* w, void*) { OwnerOf(w)->OnAbout(); }
void AboutCloseCallback(Fl_Widget* w, void*) { OwnerOf(w)->OnAboutClose(); }

const Fl_Menu_Item kMenuTable[] = {
    {"&File", 0, nullptr, nullptr, FL_SUBMENU, FL_NORMAL_LABEL, 0, 14, FL_BLACK},
    {"L&oad Morph...", FL_CTRL + 'o', LoadMorphCallback, nullptr, 0, FL_NORMAL_LABEL, 0, 14, FL_BLACK},
    {"&Save Morph...", FL_CTRL + 's', SaveMorphCallback, nullptr, 0, FL_NORMAL_LABEL, 0, 14, FL_BLACK},
    {"E&xit", FL_ALT + FL_F + 4, ExitCallback, nullptr, 0, FL_NORMAL_LABEL, 0, 14, FL_BLACK},
    {nullptr, 0, nullptr, nullptr, 0, 0, 0, 0, 0},
    {"&Help", 0, nullptr, nullptr, FL_SUBMENU, FL_NORMAL_LABEL, 0, 14, FL_BLACK},
    {"&About Quarro...", 0, AboutCallback, nullptr, 0, FL_NORMAL_LABEL, 0, 14, FL_BLACK},
    {nullptr, 0, nullptr, nullptr, 0, 0, 0, 0, 0},
    {nullptr, 0, nullptr, nullptr, 0, 0, 0, 0, 0},
};

const char* const kCreditLine = "Quarro, by the Quarro developers";

}  // namespace

CMorphUI::CMorphUI() {
    EnableThreadWakeUp();
    BuildMainWindow();
    BuildAboutWindow();
}

void CMorphUI::BuildMainWindow() {
    mainWindow = new Fl_Double_Window(895, 636, "Quarro");
    mainWindow->box(FL_UP_BOX);
    mainWindow->user_data(this);

    Fl_Menu_Bar* menuBar = new Fl_Menu_Bar(0, 0, 895, 30);
    // Each window gets its own copy of the table, so that switching an entry off touches
    // only this window's menu.
    menuBar->copy(kMenuTable);
    menuItems = const_cast<Fl_Menu_Item*>(menuBar->menu());
    loadMorphItem = const_cast<Fl_Menu_Item*>(menuBar->find_item(LoadMorphCallback));

    editor = new CMorphEditor(45, 31, 850, 460);
    editor->box(FL_EMBOSSED_FRAME);
    editor->align(Fl_Align(FL_ALIGN_CENTER));

    loadAButton = new Fl_Button(155, 495, 100, 35, "Load Image A");
    loadAButton->callback(LoadImageACallback);

    loadBButton = new Fl_Button(405, 495, 100, 35, "Load Image B");
    loadBButton->callback(LoadImageBCallback);

    morphButton = new Fl_Button(710, 545, 155, 35, "Morph! (single frame)");
    morphButton->tooltip("Runs the morph.");
    morphButton->callback(MorphSingleFrameCallback);

    movieButton = new Fl_Button(710, 590, 155, 35, "Morph! (export movie)");
    movieButton->tooltip("Runs the morph.");
    movieButton->callback(ExportMovieCallback);
    movieButton->deactivate();

    saveImageButton = new Fl_Button(690, 495, 100, 35, "Save Image");
    saveImageButton->callback(SaveImageCallback);
    saveImageButton->deactivate();

    widthInput = new Fl_Value_Input(640, 535, 50, 25, "Output Width");
    widthInput->minimum(kMinOutputSide);
    widthInput->maximum(kMaxOutputSide);
    widthInput->step(1);
    widthInput->value(1);
    widthInput->callback(OutputSizeCallback);
    widthInput->deactivate();

    heightInput = new Fl_Value_Input(640, 565, 50, 25, "Output Height");
    heightInput->minimum(kMinOutputSide);
    heightInput->maximum(kMaxOutputSide);
    heightInput->step(1);
    heightInput->value(1);
    heightInput->callback(OutputSizeCallback);
    heightInput->deactivate();

    progressBar = new Fl_Progress(10, 545, 530, 35);
    progressBar->selection_color(Fl_Color(181));

    addButton = new Fl_Button(5, 35, 35, 35, "Add");
    addButton->value(1);
    addButton->shortcut('a');
    addButton->callback(AddModeCallback);

    editButton = new Fl_Button(5, 80, 35, 35, "Edit");
    editButton->shortcut('e');
    editButton->callback(EditModeCallback);

    deleteButton = new Fl_Button(5, 125, 35, 35, "Delete");
    deleteButton->shortcut('d');
    deleteButton->callback(DeleteModeCallback);

    interpSlider = new Fl_Value_Slider(525, 595, 165, 35, "Output Interpolation");
    interpSlider->type(FL_HOR_NICE_SLIDER);
    interpSlider->value(0.5);
    interpSlider->align(Fl_Align(FL_ALIGN_LEFT));

    Fl::focus(mainWindow);
    mainWindow->end();
    mainWindow->resizable(mainWindow);
}

void CMorphUI::BuildAboutWindow() {
    aboutWindow = new Fl_Double_Window(290, 80, "About Quarro");
    aboutWindow->user_data(this);
    new Fl_Box(35, 15, 215, 25, kCreditLine);
    aboutCloseButton = new Fl_Return_Button(95, 45, 80, 25, "Close");
    aboutCloseButton->callback(AboutCloseCallback);
    aboutWindow->set_modal();
    aboutWindow->end();
}

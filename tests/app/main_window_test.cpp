// The main window and the about box as built: layout, settings, menu table, initial states.
#include <FL/Fl.H>
#include <FL/Fl_Menu_Bar.H>

#include <cstring>

#include "app/ui_fixture.h"

namespace {

struct Placement {
    const char* label;
    int x, y, w, h;
};

void ExpectPlaced(Fl_Widget* w, const Placement& p) {
    SCOPED_TRACE(p.label ? p.label : "(no label)");
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->x(), p.x);
    EXPECT_EQ(w->y(), p.y);
    EXPECT_EQ(w->w(), p.w);
    EXPECT_EQ(w->h(), p.h);
    if (p.label == nullptr) {
        EXPECT_EQ(w->label(), nullptr);
    } else {
        ASSERT_NE(w->label(), nullptr);
        EXPECT_STREQ(w->label(), p.label);
    }
}

}  // namespace

using MainWindow = UiTest;

TEST_F(MainWindow, HasTheTitleSizeAndChildrenInOrder) {
    Fl_Double_Window* win = ui->mainWindow;
    EXPECT_STREQ(win->label(), "Quarro");
    EXPECT_EQ(win->w(), 895);
    EXPECT_EQ(win->h(), 636);
    EXPECT_EQ(win->box(), FL_UP_BOX);
    EXPECT_EQ(win->user_data(), ui);
    EXPECT_EQ(win->resizable(), win);
    ASSERT_EQ(win->children(), 14);

    Fl_Widget* expected[] = {nullptr,          ui->editor,      ui->loadAButton,  ui->loadBButton, ui->morphButton,
                             ui->movieButton,  ui->saveImageButton, ui->widthInput, ui->heightInput,
                             ui->progressBar,  ui->addButton,   ui->editButton,   ui->deleteButton, ui->interpSlider};
    for (int i = 1; i < 14; ++i) EXPECT_EQ(win->child(i), expected[i]) << "child " << i;
    EXPECT_NE(dynamic_cast<Fl_Menu_Bar*>(win->child(0)), nullptr);

    ExpectPlaced(win->child(0), {nullptr, 0, 0, 895, 30});
    ExpectPlaced(ui->editor, {nullptr, 45, 31, 850, 460});
    ExpectPlaced(ui->loadAButton, {"Load Image A", 155, 495, 100, 35});
    ExpectPlaced(ui->loadBButton, {"Load Image B", 405, 495, 100, 35});
    ExpectPlaced(ui->morphButton, {"Morph! (single frame)", 710, 545, 155, 35});
    ExpectPlaced(ui->movieButton, {"Morph! (export movie)", 710, 590, 155, 35});
    ExpectPlaced(ui->saveImageButton, {"Save Image", 690, 495, 100, 35});
    ExpectPlaced(ui->widthInput, {"Output Width", 640, 535, 50, 25});
    ExpectPlaced(ui->heightInput, {"Output Height", 640, 565, 50, 25});
    ExpectPlaced(ui->progressBar, {nullptr, 10, 545, 530, 35});
    ExpectPlaced(ui->addButton, {"Add", 5, 35, 35, 35});
    ExpectPlaced(ui->editButton, {"Edit", 5, 80, 35, 35});
    ExpectPlaced(ui->deleteButton, {"Delete", 5, 125, 35, 35});
    ExpectPlaced(ui->interpSlider, {"Output Interpolation", 525, 595, 165, 35});
}

TEST_F(MainWindow, WidgetsCarryTheirSettings) {
    EXPECT_EQ(ui->editor->box(), FL_EMBOSSED_FRAME);
    EXPECT_EQ(ui->editor->align(), Fl_Align(FL_ALIGN_CENTER));
    EXPECT_STREQ(ui->morphButton->tooltip(), "Runs the morph.");
    EXPECT_STREQ(ui->movieButton->tooltip(), "Runs the morph.");
    for (Fl_Button* b : {ui->loadAButton, ui->loadBButton, ui->morphButton, ui->movieButton, ui->saveImageButton,
                         ui->addButton, ui->editButton, ui->deleteButton}) {
        EXPECT_EQ(b->type(), 0) << b->label();
        EXPECT_EQ(b->user_data(), nullptr) << b->label();
    }
    EXPECT_EQ(ui->addButton->shortcut(), 'a');
    EXPECT_EQ(ui->editButton->shortcut(), 'e');
    EXPECT_EQ(ui->deleteButton->shortcut(), 'd');
    for (Fl_Value_Input* in : {ui->widthInput, ui->heightInput}) {
        EXPECT_EQ(in->minimum(), 1.0);
        EXPECT_EQ(in->maximum(), 10000.0);
        EXPECT_EQ(in->step(), 1.0);
        EXPECT_EQ(in->value(), 1.0);
        EXPECT_EQ(in->align() & FL_ALIGN_LEFT, FL_ALIGN_LEFT);
    }
    EXPECT_EQ(ui->progressBar->selection_color(), Fl_Color(181));
    unsigned char r, g, b;
    Fl::get_color(Fl_Color(181), r, g, b);
    EXPECT_EQ(r, 0);
    EXPECT_EQ(g, 182);
    EXPECT_EQ(b, 191);
    EXPECT_EQ(ui->interpSlider->type(), FL_HOR_NICE_SLIDER);
    EXPECT_DOUBLE_EQ(ui->interpSlider->value(), 0.5);
    EXPECT_EQ(ui->interpSlider->align(), Fl_Align(FL_ALIGN_LEFT));
    EXPECT_DOUBLE_EQ(ui->interpSlider->minimum(), 0.0);
    EXPECT_DOUBLE_EQ(ui->interpSlider->maximum(), 1.0);
    EXPECT_DOUBLE_EQ(ui->interpSlider->step(), 0.01);
}

TEST_F(MainWindow, MenuTableHasItsEntriesShortcutsAndLook) {
    Fl_Menu_Bar* bar = dynamic_cast<Fl_Menu_Bar*>(ui->mainWindow->child(0));
    ASSERT_NE(bar, nullptr);
    const Fl_Menu_Item* m = bar->menu();
    struct Row {
        const char* label;
        int shortcut;
        bool hasCallback;
        int flags;
    } rows[] = {
        {"&File", 0, false, FL_SUBMENU},
        {"L&oad Morph...", FL_CTRL + 'o', true, 0},
        {"&Save Morph...", FL_CTRL + 's', true, 0},
        {"E&xit", FL_ALT + FL_F + 4, true, 0},
        {nullptr, 0, false, 0},
        {"&Help", 0, false, FL_SUBMENU},
        {"&About Quarro...", 0, true, 0},
        {nullptr, 0, false, 0},
        {nullptr, 0, false, 0},
    };
    for (size_t i = 0; i < sizeof rows / sizeof rows[0]; ++i) {
        SCOPED_TRACE(i);
        if (rows[i].label == nullptr) {
            EXPECT_EQ(m[i].label(), nullptr);
            continue;
        }
        ASSERT_NE(m[i].label(), nullptr);
        EXPECT_STREQ(m[i].label(), rows[i].label);
        EXPECT_EQ(m[i].shortcut(), rows[i].shortcut);
        EXPECT_EQ(m[i].callback() != nullptr, rows[i].hasCallback);
        EXPECT_EQ(m[i].flags, rows[i].flags);
        EXPECT_EQ(m[i].labeltype(), FL_NORMAL_LABEL);
        EXPECT_EQ(m[i].labelfont(), 0);
        EXPECT_EQ(m[i].labelsize(), 14);
        EXPECT_EQ(m[i].labelcolor(), FL_BLACK);
        EXPECT_EQ(m[i].user_data(), nullptr);
    }
    EXPECT_EQ(ui->loadMorphItem, &m[1]);
}

TEST_F(MainWindow, AboutBoxIsModalAndHidden) {
    Fl_Double_Window* about = ui->aboutWindow;
    EXPECT_STREQ(about->label(), "About Quarro");
    EXPECT_EQ(about->w(), 290);
    EXPECT_EQ(about->h(), 80);
    EXPECT_TRUE(about->modal());
    EXPECT_FALSE(about->shown());
    EXPECT_EQ(about->user_data(), ui);
    ASSERT_EQ(about->children(), 2);
    ExpectPlaced(ui->aboutCloseButton, {"Close", 95, 45, 80, 25});
    Fl_Widget* credit = about->child(0);
    EXPECT_EQ(credit->x(), 35);
    EXPECT_EQ(credit->y(), 15);
    EXPECT_EQ(credit->w(), 215);
    EXPECT_EQ(credit->h(), 25);
    ASSERT_NE(credit->label(), nullptr);
    EXPECT_NE(std::strstr(credit->label(), "Quarro"), nullptr);
}

TEST_F(MainWindow, StartStateMatchesTheTable) {
    for (Fl_Widget* w : {static_cast<Fl_Widget*>(ui->loadAButton), static_cast<Fl_Widget*>(ui->loadBButton),
                         static_cast<Fl_Widget*>(ui->morphButton), static_cast<Fl_Widget*>(ui->addButton),
                         static_cast<Fl_Widget*>(ui->editButton), static_cast<Fl_Widget*>(ui->deleteButton),
                         static_cast<Fl_Widget*>(ui->interpSlider), ui->mainWindow->child(0)}) {
        EXPECT_TRUE(w->active()) << (w->label() ? w->label() : "menu");
    }
    for (Fl_Widget* w : {static_cast<Fl_Widget*>(ui->movieButton), static_cast<Fl_Widget*>(ui->saveImageButton),
                         static_cast<Fl_Widget*>(ui->widthInput), static_cast<Fl_Widget*>(ui->heightInput)}) {
        EXPECT_FALSE(w->active()) << w->label();
    }
    EXPECT_TRUE(ui->loadMorphItem->active());
    EXPECT_EQ(ui->addButton->value(), 1);
    EXPECT_EQ(ui->editButton->value(), 0);
    EXPECT_EQ(ui->deleteButton->value(), 0);
    EXPECT_EQ(ui->editor->mode, Add);
    EXPECT_TRUE(ui->editor->inputEnabled);
}

TEST_F(MainWindow, ProgressBarStartsShownAtZeroAndTheFirstTickHidesIt) {
    EXPECT_TRUE(ui->progressBar->visible());
    EXPECT_FLOAT_EQ(ui->progressBar->minimum(), 0.0f);
    EXPECT_FLOAT_EQ(ui->progressBar->maximum(), 100.0f);
    EXPECT_FLOAT_EQ(ui->progressBar->value(), 0.0f);
    ProgressTick(nullptr);
    EXPECT_FALSE(ui->progressBar->visible());
    // The tick re-arms itself: it runs again without being asked.
    ui->progressBar->show();
    EXPECT_TRUE(PumpUntil([this] { return !ui->progressBar->visible(); }, 5.0));
}

TEST_F(MainWindow, ResizingScalesEveryChildInProportion) {
    ui->mainWindow->resize(ui->mainWindow->x(), ui->mainWindow->y(), 895 * 2, 636 * 2);
    Pump();
    EXPECT_EQ(ui->editor->x(), 90);
    EXPECT_EQ(ui->editor->y(), 62);
    EXPECT_EQ(ui->editor->w(), 1700);
    EXPECT_EQ(ui->editor->h(), 920);
    EXPECT_EQ(ui->morphButton->x(), 1420);
    EXPECT_EQ(ui->morphButton->w(), 310);
    EXPECT_EQ(ui->progressBar->w(), 1060);
    EXPECT_EQ(ui->interpSlider->y(), 1190);
    EXPECT_EQ(ui->widthInput->h(), 50);
}

TEST_F(MainWindow, ModeKeysPressTheirButtons) {
    auto sendKey = [this](char key) {
        static char text[2];
        text[0] = key;
        text[1] = '\0';
        Fl::e_keysym = key;
        Fl::e_text = text;
        Fl::e_length = 1;
        Fl::e_state = 0;
        return Fl::handle(FL_SHORTCUT, ui->mainWindow);
    };
    EXPECT_TRUE(sendKey('e'));
    EXPECT_EQ(ui->editButton->value(), 1);
    EXPECT_EQ(ui->addButton->value(), 0);
    EXPECT_EQ(ui->editor->mode, Edit);
    EXPECT_TRUE(sendKey('d'));
    EXPECT_EQ(ui->deleteButton->value(), 1);
    EXPECT_EQ(ui->editButton->value(), 0);
    EXPECT_EQ(ui->editor->mode, Delete);
    EXPECT_TRUE(sendKey('a'));
    EXPECT_EQ(ui->addButton->value(), 1);
    EXPECT_EQ(ui->deleteButton->value(), 0);
    EXPECT_EQ(ui->editor->mode, Add);
}

TEST_F(MainWindow, AboutShowsModallyAndCloseOrEnterHidesIt) {
    ui->OnAbout();
    Pump();
    EXPECT_TRUE(ui->aboutWindow->shown());
    EXPECT_EQ(Fl::modal(), ui->aboutWindow);
    ui->aboutCloseButton->do_callback();
    Pump();
    EXPECT_FALSE(ui->aboutWindow->shown());
    EXPECT_EQ(Fl::modal(), nullptr);

    ui->OnAbout();
    Pump();
    ASSERT_TRUE(ui->aboutWindow->shown());
    Fl::e_keysym = FL_Enter;
    Fl::e_text = const_cast<char*>("\r");
    Fl::e_length = 1;
    Fl::e_state = 0;
    EXPECT_TRUE(Fl::handle(FL_SHORTCUT, ui->aboutWindow));
    Pump();
    EXPECT_FALSE(ui->aboutWindow->shown());
}

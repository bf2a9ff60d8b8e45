// The main window in-process: the controls and their start state, the
// settings on entering and leaving, Enter for About, and runs from Go.

#include <FL/Fl.H>
#include <FL/Fl_Choice.H>

#include <cstring>
#include <functional>
#include <memory>

#include "generator/Functions.h"
#include "generator/Unit1.h"
#include "generator/Unit3.h"
#include "own_display.h"
#include "run_fixture.h"

// Xlib last: its macros would otherwise clash with the test framework.
#include <FL/fl_draw.H>
#include <FL/x.H>
// X11 calls its mouse buttons Button1 to Button5; the windows' buttons keep theirs.
#undef Button1
#undef Button2
#undef Button3
#undef Button4
#undef Button5

using namespace generator_test;
using Names = std::vector<std::string>;

namespace {

// The main window with its message boxes recorded instead of shown, and a
// hook into the run's pumping.
class Test_Main : public TMain {
public:
    using TMain::TMain;
    Names messages;
    std::function<void()> on_pump;

    void show_message(const std::string& text, const std::string& caption) override
    {
        messages.push_back(text + "|" + caption);
    }
    void pump_messages() override
    {
        TMain::pump_messages();
        if (on_pump)
            on_pump();
    }
};

void press(int key, const char* text)
{
    Fl::e_keysym = key;
    Fl::e_text = const_cast<char*>(text);
    Fl::e_length = static_cast<int>(std::strlen(text));
    Fl::e_state = 0;
}

// An X server for the test program's windows alone. FLTK opens its display
// once per process, so the server lives as long as the program's tests.
class Own_Display : public ::testing::Environment {
public:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(start_own_display(xvfb_));
        // FLTK's own file chooser, whose filter list a test can read; FLTK
        // settles on a chooser when the program makes its first one.
        Fl::option(Fl::OPTION_FNFC_USES_GTK, false);
    }
    void TearDown() override
    {
        if (fl_display != nullptr)
            fl_close_display();  // before its server goes
        stop_own_display(xvfb_);
    }

private:
    X_Server xvfb_;
};

[[maybe_unused]] ::testing::Environment* const own_display =
    ::testing::AddGlobalTestEnvironment(new Own_Display);

// A window per test, shown on the program's own X server, and the About box
// beside it.
class Window_Test : public Generator_Run {
protected:
    void SetUp() override
    {
        Generator_Run::SetUp();
        ini = root / "Config.ini";
    }
    void TearDown() override
    {
        window.reset();
        delete About;
        About = nullptr;
        Generator_Run::TearDown();
    }

    Test_Main& open()
    {
        window = std::make_unique<Test_Main>(ini.string());
        About = new TAbout();
        window->show();
        Fl::check();
        return *window;
    }

    // The run's cabinet in the window's fields.
    void fill_in(Test_Main& w)
    {
        Marvane::Generator_Settings s = Marvane::default_settings();
        s.rom_path = roms.string();
        s.snap_path = snap.string();
        s.mame_exe = exe.string();
        s.output_dir = out.string();
        w.show_settings(s);
    }

    fs::path ini;
    std::unique_ptr<Test_Main> window;
};

// The size limits the window asks of the X server: equal for a fixed border.
struct Size_Hints {
    int min_w = 0, min_h = 0, max_w = 0, max_h = 0;
};

Size_Hints size_hints(const Fl_Window& window)
{
    XSizeHints hints{};
    long supplied = 0;
    Size_Hints s;
    if (XGetWMNormalHints(fl_display, fl_xid(&window), &hints, &supplied) != 0) {
        if (hints.flags & PMinSize) {
            s.min_w = hints.min_width;
            s.min_h = hints.min_height;
        }
        if (hints.flags & PMaxSize) {
            s.max_w = hints.max_width;
            s.max_h = hints.max_height;
        }
    }
    return s;
}

struct Placed {
    const Fl_Widget* widget;
    int x, y, w, h;
    const char* text;
};

}  // namespace

TEST_F(Window_Test, ControlsStandWhereTheyBelongInTheirStartState)
{
    Test_Main& w = open();
    EXPECT_STREQ(w.label(), "Tovan Marvane Tools");
    EXPECT_EQ(w.w(), 487);
    EXPECT_EQ(w.h(), 417);
    // Panel controls sit 64 pixels down, where the panel begins.
    const Placed placed[] = {
        {w.Image1, 0, 0, 513, 65, nullptr},       {w.Image3, -36, -2, 533, 67, nullptr},
        {w.Frame1, 0, 64, 481, 297, nullptr},     {w.Txt_ROMPath, 120, 72, 329, 21, nullptr},
        {w.Button1, 448, 72, 25, 21, "..."},      {w.Txt_SNAPPath, 120, 104, 329, 21, nullptr},
        {w.Button2, 448, 104, 25, 21, "..."},     {w.Txt_Mame, 120, 136, 329, 21, nullptr},
        {w.Button3, 448, 136, 25, 21, "..."},     {w.Txt_Cat, 120, 168, 249, 21, nullptr},
        {w.Button5, 368, 168, 25, 21, "..."},     {w.Chk_Cat, 400, 168, 17, 17, nullptr},
        {w.Txt_Games, 120, 200, 273, 21, nullptr}, {w.Chk_FiltNames, 400, 208, 17, 17, nullptr},
        {w.TXT_OUTPUT, 120, 232, 273, 21, nullptr}, {w.Button4, 392, 232, 25, 21, "..."},
        {w.Chk_SNAPEXist, 184, 264, 17, 25, nullptr}, {w.Chk_ROMEXist, 304, 264, 17, 25, nullptr},
        {w.Chk_verify, 304, 296, 15, 25, nullptr}, {w.Chk_Working, 160, 288, 17, 25, nullptr},
        {w.Chk_But, 112, 256, 17, 25, nullptr},   {w.lbl_prog, 72, 332, 393, 21, nullptr},
        {w.Image2, 0, 363, 505, 9, nullptr},      {w.Cmd_Exit, 8, 376, 89, 33, "Exit"},
        {w.Command6, 104, 376, 89, 33, "About"},  {w.Cmd_adv, 256, 376, 89, 33, "Advanced"},
        {w.Command1, 392, 376, 89, 33, "Go"},
    };
    for (const Placed& p : placed) {
        SCOPED_TRACE(p.text != nullptr ? p.text : "");
        EXPECT_EQ(p.widget->x(), p.x);
        EXPECT_EQ(p.widget->y(), p.y);
        EXPECT_EQ(p.widget->w(), p.w);
        EXPECT_EQ(p.widget->h(), p.h);
        if (p.text != nullptr) {
            EXPECT_STREQ(p.widget->label(), p.text);
        }
    }
    // Labels: their corner, text and weight.
    struct Label {
        const Fl_Widget* widget;
        int x, y;
        const char* text;
        bool bold;
    };
    const Label labels[] = {
        {w.Label1, 8, 8, "Tovan Marvane Tools", true},
        {w.Label2, 14, 24, "Change the options and Click Go to create ROM, CFG and MAP files.", false},
        {w.Label3, 8, 72, "ROM Directory:", true},
        {w.Label4, 8, 104, "SNAP Directory", true},
        {w.Label5, 8, 128, "Location of MAME.EXE", true},
        {w.Label16, 8, 160, "Location of Catver.ini", true},
        {w.Label17, 416, 168, "On", false},
        {w.Label6, 8, 200, "Ignore Game Names Containing:", true},
        {w.Label9, 400, 192, "Seperate with ;", false},
        {w.Label15, 416, 208, "On", false},
        {w.Label7, 8, 240, "Output Directory", true},
        {w.Label8, 8, 272, "Options", true},
        {w.Label13, 200, 263, "Only Include Games with a SNAP", false},
        {w.Label12, 320, 264, "Only include Games that exist in Rom Directory", false},
        {w.Label14, 320, 296, "Verify Games and only include if ROMS are good (Slow)", false},
        {w.Label11, 144, 312, "Include only working Games", false},
        {w.Label18, 32, 304, "No games with > 3 buttons", false},
        {w.Label10, 8, 332, "Processing:", false},
    };
    for (const Label& l : labels) {
        SCOPED_TRACE(l.text);
        EXPECT_EQ(l.widget->x(), l.x);
        EXPECT_EQ(l.widget->y(), l.y);
        EXPECT_STREQ(l.widget->label(), l.text);
        EXPECT_EQ(l.widget->labelfont(), l.bold ? FL_HELVETICA_BOLD : FL_HELVETICA);
        EXPECT_EQ(l.widget->parent() == w.Frame1, l.y >= 64);
    }
    // Each label's text, wrapped at the label's width in its own font, fits
    // its box, and no box runs into another label or a field.
    const auto overlap = [](const Fl_Widget* a, const Fl_Widget* b) {
        return a->x() < b->x() + b->w() && b->x() < a->x() + a->w() && a->y() < b->y() + b->h() &&
               b->y() < a->y() + a->h();
    };
    const Fl_Widget* const fields[] = {w.Txt_ROMPath, w.Button1, w.Txt_SNAPPath, w.Button2,
                                       w.Txt_Mame, w.Button3, w.Txt_Cat, w.Button5, w.Txt_Games,
                                       w.TXT_OUTPUT, w.Button4, w.lbl_prog};
    for (const Label& l : labels) {
        SCOPED_TRACE(l.text);
        if (!l.widget->visible())
            continue;
        fl_font(l.widget->labelfont(), l.widget->labelsize());
        int width = (l.widget->align() & FL_ALIGN_WRAP) ? l.widget->w() : 0;
        int height = 0;
        fl_measure(l.text, width, height, 0);
        EXPECT_LE(width, l.widget->w());
        EXPECT_LE(height, l.widget->h());
        for (const Label& other : labels)
            if (other.widget != l.widget && other.widget->visible()) {
                EXPECT_FALSE(overlap(l.widget, other.widget)) << other.text;
            }
        for (const Fl_Widget* field : fields)
            EXPECT_FALSE(overlap(l.widget, field)) << field->x() << "," << field->y();
    }
    EXPECT_EQ(w.Label1->labelcolor(), FL_WHITE);
    EXPECT_EQ(w.Label2->labelcolor(), FL_WHITE);
    // Wrapped labels are as wide as the layout makes them.
    const std::pair<const Fl_Widget*, int> widths[] = {
        {w.Label2, 171}, {w.Label5, 69},   {w.Label16, 69}, {w.Label6, 107},
        {w.Label13, 98}, {w.Label12, 118}, {w.Label14, 153},
    };
    for (const auto& [label, width] : widths)
        EXPECT_EQ(label->w(), width) << label->label();
    // A fixed border: the window cannot be resized.
    const Size_Hints fixed = size_hints(w);
    EXPECT_EQ(fixed.min_w, 487);
    EXPECT_EQ(fixed.max_w, 487);
    EXPECT_EQ(fixed.min_h, 417);
    EXPECT_EQ(fixed.max_h, 417);
    for (const Fl_Widget* button : {static_cast<Fl_Widget*>(w.Cmd_Exit), static_cast<Fl_Widget*>(w.Command6),
                                    static_cast<Fl_Widget*>(w.Cmd_adv), static_cast<Fl_Widget*>(w.Command1)})
        EXPECT_EQ(button->labelfont(), FL_HELVETICA_BOLD);

    const Fl_Widget* hidden[] = {w.Chk_Working, w.Label11, w.Chk_But, w.Label18, w.Cmd_adv};
    for (const Fl_Widget* widget : hidden)
        EXPECT_FALSE(widget->visible()) << widget->label();
    EXPECT_TRUE(w.Command1->visible());
    EXPECT_STREQ(w.lbl_prog->value(), "Waiting...");
    EXPECT_TRUE(w.lbl_prog->readonly());
    EXPECT_EQ(w.lbl_prog->box(), FL_DOWN_BOX);

    // First start: empty paths, the default filter, every box off.
    for (const Fl_Input* path : {w.Txt_ROMPath, w.Txt_SNAPPath, w.Txt_Mame, w.Txt_Cat, w.TXT_OUTPUT})
        EXPECT_STREQ(path->value(), "");
    EXPECT_STREQ(w.Txt_Games->value(), Marvane::default_filter);
    EXPECT_EQ(w.Txt_Games->position(), 0);  // shown from its first word
    for (const Fl_Check_Button* box : {w.Chk_Cat, w.Chk_FiltNames, w.Chk_SNAPEXist, w.Chk_ROMEXist,
                                       w.Chk_verify, w.Chk_Working, w.Chk_But})
        EXPECT_EQ(box->value(), 0);
}

TEST_F(Window_Test, CreatingTheWindowLoadsEveryKeyIntoItsControl)
{
    write_file(ini, "[CONFIG]\r\nROMPath=/r\r\nSNAPPath=/s\r\nMAMEEXE=/m\r\nCatverPath=/c\r\n"
                    "Filter=a;b\r\nCatEnabled=1\r\nFilterEnabled=1\r\nOutputDir=/o\r\n"
                    "Buttons=1\r\nWorking=1\r\nSnap=1\r\nROM=1\r\nVerify=yes\r\n");
    Test_Main& w = open();
    EXPECT_STREQ(w.Txt_ROMPath->value(), "/r");
    EXPECT_STREQ(w.Txt_SNAPPath->value(), "/s");
    EXPECT_STREQ(w.Txt_Mame->value(), "/m");
    EXPECT_STREQ(w.Txt_Cat->value(), "/c");
    EXPECT_STREQ(w.Txt_Games->value(), "a;b");
    EXPECT_STREQ(w.TXT_OUTPUT->value(), "/o");
    for (const Fl_Check_Button* box : {w.Chk_Cat, w.Chk_FiltNames, w.Chk_But, w.Chk_Working,
                                       w.Chk_SNAPEXist, w.Chk_ROMEXist})
        EXPECT_EQ(box->value(), 1);
    EXPECT_EQ(w.Chk_verify->value(), 0);
    // The run sees the hidden boxes as the file set them.
    EXPECT_TRUE(w.option_checked(Marvane::Run_Option::Chk_But));
    EXPECT_TRUE(w.option_checked(Marvane::Run_Option::Chk_Working));
    EXPECT_EQ(w.field_text(Marvane::Run_Text::Txt_Games), "a;b");
}

TEST_F(Window_Test, ExitAndTheCloseBoxWriteTheSameTwelveKeys)
{
    const std::string by_hand = "[CONFIG]\r\nButtons=1\r\n";
    write_file(ini, by_hand);
    Test_Main& w = open();
    w.Txt_ROMPath->value("/roms");
    w.Chk_verify->value(1);
    // Escape is no way out.
    press(FL_Escape, "\033");
    Fl::handle(FL_KEYBOARD, &w);
    EXPECT_TRUE(w.shown());
    EXPECT_EQ(read_file(ini), by_hand);

    w.Cmd_Exit->do_callback();
    EXPECT_FALSE(w.shown());
    EXPECT_FALSE(Functions::StopRequested);
    const std::string by_exit = read_file(ini);
    EXPECT_EQ(by_exit, "[CONFIG]\r\nButtons=1\r\nROMPath=/roms\r\nSNAPPath=\r\nMAMEEXE=\r\n"
                       "CatverPath=\r\nFilter=" + std::string(Marvane::default_filter) +
                       "\r\nCatEnabled=0\r\nFilterEnabled=0\r\nOutputDir=\r\nWorking=0\r\n"
                       "Snap=0\r\nROM=0\r\nVerify=1\r\n");

    write_file(ini, by_hand);
    Test_Main& again = open();
    again.Txt_ROMPath->value("/roms");
    again.Chk_verify->value(1);
    Fl::handle(FL_CLOSE, &again);
    EXPECT_FALSE(again.shown());
    EXPECT_TRUE(Functions::StopRequested);
    EXPECT_EQ(read_file(ini), by_exit);
    EXPECT_TRUE(again.messages.empty());
}

TEST_F(Window_Test, AFailedSaveIsReportedAndTheUserLeavesAnyway)
{
    ini = root / "gone" / "Config.ini";
    const std::string unable = "Unable to write to " + ini.string() + "|Tovan Marvane Tools";
    Test_Main& w = open();
    w.Cmd_Exit->do_callback();
    EXPECT_EQ(w.messages, Names{unable});
    EXPECT_FALSE(w.shown());
    EXPECT_FALSE(Functions::StopRequested);

    Test_Main& again = open();
    Fl::handle(FL_CLOSE, &again);
    EXPECT_EQ(again.messages, Names{unable});
    EXPECT_FALSE(again.shown());
    EXPECT_TRUE(Functions::StopRequested);

    // A Config.ini its owner made read-only is a failed save, also for root.
    ini = root / "Config.ini";
    write_file(ini, "[CONFIG]\r\nVerify=1\r\n");
    fs::permissions(ini, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    Test_Main& read_only = open();
    read_only.Chk_verify->value(0);
    read_only.Cmd_Exit->do_callback();
    EXPECT_EQ(read_only.messages, Names{"Unable to write to " + ini.string() + "|Tovan Marvane Tools"});
    EXPECT_FALSE(read_only.shown());
    EXPECT_EQ(read_file(ini), "[CONFIG]\r\nVerify=1\r\n");
}

TEST_F(Window_Test, EnterOpensTheAboutBoxAndCloseClosesIt)
{
    Test_Main& w = open();
    struct Seen {
        bool shown = false;
        bool modal = false;
        bool main_shown = false;
        Test_Main* main = nullptr;
    } seen;
    const auto look_and_close = [](void* data) {
        Seen& s = *static_cast<Seen*>(data);
        s.shown = About->shown();
        s.modal = About->modal();
        s.main_shown = s.main->shown();
        About->Button1->do_callback();
    };
    // Whichever control has the focus and wherever the pointer is: over the
    // option panel the panel's focus moves must not take Enter.
    Fl_Widget* const focused[] = {w.Txt_ROMPath, w.Button1, w.Chk_Cat, w.lbl_prog, w.Cmd_Exit};
    Fl_Widget* const pointed[] = {nullptr, w.Txt_Games, w.Label12, w.Frame1};
    for (Fl_Widget* focus : focused) {
        for (Fl_Widget* pointer : pointed) {
            SCOPED_TRACE(std::string(focus->label() ? focus->label() : "unlabelled") + " / " +
                         (pointer == nullptr ? "outside" : pointer->label() ? pointer->label() : "-"));
            seen = Seen{};
            seen.main = &w;
            Fl::focus(focus);
            Fl::belowmouse(pointer);
            Fl::add_timeout(0.0, look_and_close, &seen);
            press(FL_Enter, "\r");
            Fl::handle(FL_KEYBOARD, &w);
            Fl::remove_timeout(look_and_close, &seen);  // left when nothing opened
            EXPECT_TRUE(seen.shown);
            EXPECT_TRUE(seen.modal);
            EXPECT_TRUE(seen.main_shown);
        }
    }
    EXPECT_FALSE(About->shown());
    EXPECT_STREQ(About->label(), "About");
    EXPECT_STREQ(About->Button1->label(), "Close");
    EXPECT_EQ(About->Button1->x(), 224);
    EXPECT_EQ(About->Button1->y(), 72);
    EXPECT_EQ(About->Button1->w(), 65);
    EXPECT_EQ(About->Button1->h(), 25);
    EXPECT_EQ(About->Label2->y(), 80);
    EXPECT_EQ(About->Label2->labelcolor(), FL_BLUE);
}

TEST_F(Window_Test, FileChoosersOfferTheirFiltersAndClosingOneChangesNothing)
{
    Test_Main& w = open();
    w.Txt_Mame->value("/keep/mame");
    w.Txt_Cat->value("/keep/catver.ini");
    struct Seen {
        const char* title = nullptr;
        Names filters;
        std::string chosen;
    } seen;
    const auto look_and_close = [](void* data) {
        Seen& s = *static_cast<Seen*>(data);
        for (Fl_Window* window = Fl::first_window(); window != nullptr; window = Fl::next_window(window)) {
            if (window->label() == nullptr || std::strcmp(window->label(), s.title) != 0)
                continue;
            std::function<void(Fl_Group*)> walk = [&](Fl_Group* group) {
                for (int i = 0; i < group->children(); ++i) {
                    Fl_Widget* child = group->child(i);
                    auto* show = dynamic_cast<Fl_Choice*>(child);
                    if (show != nullptr && show->label() != nullptr &&
                        std::strcmp(show->label(), "Show:") == 0) {
                        for (int item = 0; item < show->size() && show->text(item) != nullptr; ++item)
                            s.filters.push_back(show->text(item));
                        s.chosen = show->text() != nullptr ? show->text() : "";
                    }
                    if (child->as_group() != nullptr)
                        walk(child->as_group());
                }
            };
            walk(window);
            window->do_callback();  // the close box
            return;
        }
    };
    struct Chooser {
        Fl_Button* button;
        const char* title;
        Names filters;  // FLTK's chooser adds its own custom filter behind them
        const char* chosen;
        int given;  // the filters the desktop's chooser gets
        const Fl_Input* field;
        const char* kept;
    };
    // MAME has no extension here, so every file is offered first.
    const Chooser choosers[] = {
        {w.Button3, "Select MAME.EXE", {"EXE Files (*.exe)", "All Files (*)"}, "All Files (*)", 2,
         w.Txt_Mame, "/keep/mame"},
        {w.Button5, "Select Catver.ini", {"INI Files (*.ini)", "All Files (*)"}, "INI Files (*.ini)", 1,
         w.Txt_Cat, "/keep/catver.ini"},
    };
    for (const Chooser& c : choosers) {
        SCOPED_TRACE(c.title);
        seen = Seen{};
        seen.title = c.title;
        Fl::add_timeout(0.0, look_and_close, &seen);
        c.button->do_callback();
        Fl::remove_timeout(look_and_close, &seen);
        ASSERT_GE(seen.filters.size(), c.filters.size());
        EXPECT_EQ(Names(seen.filters.begin(), seen.filters.begin() + c.filters.size()), c.filters);
        EXPECT_EQ(seen.chosen, c.chosen);
        EXPECT_EQ(w.CommonDialog1.filters(), c.given);
        EXPECT_STREQ(c.field->value(), c.kept);
    }
}

TEST_F(Window_Test, GoRunsWithTheOptionsLockedAndReportsCompletion)
{
    Test_Main& w = open();
    fill_in(w);
    w.TXT_OUTPUT->value((out.string() + "/").c_str());
    int pumps = 0;
    bool locked = true;
    w.on_pump = [&] {
        ++pumps;
        locked = locked && !w.Command1->active() && !w.Cmd_Exit->active() &&
                 !w.Txt_ROMPath->active() && !w.Chk_verify->active() && !w.Button4->active() &&
                 w.Command6->active() && w.lbl_prog->active() && w.running();
    };
    w.Command1->do_callback();
    EXPECT_GT(pumps, 0);
    EXPECT_TRUE(locked);
    EXPECT_EQ(w.messages, Names{"Completed!!|Tovan Marvane tools"});
    EXPECT_STREQ(w.lbl_prog->value(), "mrdo  -  Mr. Do!     (4)");
    EXPECT_STREQ(w.TXT_OUTPUT->value(), out.string().c_str());  // written back by the run
    EXPECT_TRUE(w.Command1->active());
    EXPECT_TRUE(w.Txt_ROMPath->active());
    EXPECT_FALSE(w.running());
    EXPECT_TRUE(w.shown());
    EXPECT_EQ(output_names(), (Names{"MAME.cfg", "mame.map", "mame.rom"}));

    // A check that fails shows its message and leaves the controls usable.
    w.messages.clear();
    fs::remove(snap);
    w.Command1->do_callback();
    EXPECT_EQ(w.messages, Names{"Error: Can't find SNAP Folder.|Folder not found"});
    EXPECT_TRUE(w.Command1->active());
}

TEST_F(Window_Test, ClosingDuringARunSavesTheSettingsAndEndsAfterTheRun)
{
    Test_Main& w = open();
    fill_in(w);
    bool closed = false;
    bool saved_at_once = false;
    w.on_pump = [&] {
        if (closed)
            return;
        closed = true;
        Fl::handle(FL_CLOSE, &w);
        saved_at_once = fs::exists(ini);
    };
    w.Command1->do_callback();
    EXPECT_TRUE(closed);
    EXPECT_TRUE(saved_at_once);
    EXPECT_TRUE(Functions::StopRequested);
    EXPECT_EQ(Marvane::read_settings(ini.string()).mame_exe, exe.string());
    EXPECT_TRUE(w.messages.empty());
    EXPECT_EQ(Fl::first_window(), nullptr);  // nothing left open: the program ends
    EXPECT_TRUE(w.Command1->active());
}

// A test program that FLTK ends at once, as when it cannot open its display,
// takes its X server with it, leaves its output to the one who reads it and
// leaves no scratch folder behind.
using Own_X_Server = Generator_Run;
TEST_F(Own_X_Server, GoesWithAProgramThatFltkEnds)
{
    if (std::getenv("MARVO_TEST_END_INSIDE_FLTK") != nullptr) {
        std::printf("display %s folder %s\n", std::getenv("DISPLAY"), root.c_str());  // its own
        std::fflush(stdout);
        unsetenv("DISPLAY");
        fl_open_display();  // "Can't open display", and FLTK exits
        return;
    }
    int output[2];
    ASSERT_EQ(pipe2(output, O_CLOEXEC), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, output[1], 1);
    posix_spawn_file_actions_adddup2(&actions, output[1], 2);
    std::string self = fs::read_symlink("/proc/self/exe"), filter = "--gtest_filter=Own_X_Server.*";
    char* argv[] = {self.data(), filter.data(), nullptr};
    std::string flag = "MARVO_TEST_END_INSIDE_FLTK=1";
    std::vector<char*> env{flag.data()};
    for (char** v = environ; *v != nullptr; ++v)
        env.push_back(*v);
    env.push_back(nullptr);
    pid_t child = -1;
    const int spawned = posix_spawn(&child, self.c_str(), &actions, nullptr, argv, env.data());
    posix_spawn_file_actions_destroy(&actions);
    close(output[1]);
    ASSERT_EQ(spawned, 0);
    // The end of the output comes once nothing holds its pipe.
    std::string text;
    char buffer[4096];
    ssize_t n = -1;
    for (pollfd ready{output[0], POLLIN, 0}; poll(&ready, 1, 30000) == 1 &&
                                             (n = read(output[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<std::size_t>(n));
    close(output[0]);
    int status = 0;
    if (n != 0)
        kill(child, SIGKILL);
    waitpid(child, &status, 0);
    EXPECT_EQ(n, 0) << "the output is held open: " << text;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << text;
    EXPECT_NE(text.find("Can't open display"), std::string::npos) << text;
    // Its server has gone, and with it the socket named after the display;
    // its scratch folder has gone too.
    const std::size_t at = text.find("display :");
    ASSERT_NE(at, std::string::npos) << text;
    const fs::path socket = "/tmp/.X11-unix/X" + std::to_string(std::atoi(text.c_str() + at + 9));
    EXPECT_TRUE(wait_for([&] { return !fs::exists(socket); }, 10)) << "Xvfb runs on at " << socket;
    const std::size_t folder = text.find(" folder ", at) + 8;
    EXPECT_FALSE(fs::exists(text.substr(folder, text.find('\n', folder) - folder))) << text;
}

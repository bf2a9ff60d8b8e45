#include "generator/Unit1.h"

#include <FL/Fl.H>
#include <FL/filename.H>
#include <FL/fl_ask.H>
#include <FL/fl_draw.H>

#include <cctype>
#include <cstring>
#include <filesystem>

// X11 calls its mouse buttons Button1 to Button5; the windows' buttons keep theirs.
#undef Button1
#undef Button2
#undef Button3
#undef Button4
#undef Button5

#include "generator/Functions.h"
#include "generator/SH_MB.h"
#include "generator/Unit3.h"

TMain* Main = nullptr;

const char* const application_title = "Tovan Marvane Tools";

namespace {

// The size at which the wrapped labels break where the layout expects.
constexpr Fl_Fontsize dialog_font_size = 10;

template <void (TMain::*handler)()>
void call(Fl_Widget*, void* window)
{
    (static_cast<TMain*>(window)->*handler)();
}

void main_window_callback(Fl_Widget*, void* window)
{
    // Escape is no way to leave: only the close box closes the window.
    if (Fl::event() == FL_SHORTCUT && Fl::event_key() == FL_Escape)
        return;
    static_cast<TMain*>(window)->FormClose();
}

// The option panel. Enter belongs to the window's default button, wherever
// the focus and the pointer are; an FLTK group would take it to move the
// focus down among the panel's fields.
class Option_Panel : public Fl_Group {
public:
    Option_Panel(int x, int y, int w, int h) : Fl_Group(x, y, w, h) {}

    int handle(int event) override
    {
        if (event == FL_SHORTCUT &&
            (Fl::event_key() == FL_Enter || Fl::event_key() == FL_KP_Enter))
            return 0;
        return Fl_Group::handle(event);
    }
};

Fl_Color blend(int r0, int g0, int b0, int r1, int g1, int b1, int step, int steps)
{
    const auto mix = [&](int a, int b) {
        return static_cast<uchar>(a + (b - a) * step / (steps > 0 ? steps : 1));
    };
    return fl_rgb_color(mix(r0, r1), mix(g0, g1), mix(b0, b1));
}

}  // namespace

void use_dialog_font()
{
    // The layout was made for a narrow sans serif; ask for Helvetica's metrics
    // first and let fontconfig fall back to the desktop's sans serif.
    Fl::set_font(FL_HELVETICA, " Nimbus Sans,Liberation Sans,Arial,sans");
    Fl::set_font(FL_HELVETICA_BOLD, "BNimbus Sans,Liberation Sans,Arial,sans");
    FL_NORMAL_SIZE = dialog_font_size;
}

Fl_Box* make_label(int x, int y, int w, const char* text, bool bold, bool wrap)
{
    const Fl_Font font = bold ? FL_HELVETICA_BOLD : FL_HELVETICA;
    fl_font(font, dialog_font_size);
    int width = wrap ? w : 0;
    int height = 0;
    fl_measure(text, width, height, 0);
    if (wrap || w > width)
        width = w;
    Fl_Box* label = new Plain_Label(x, y, width, height, text);
    label->box(FL_NO_BOX);
    label->labelfont(font);
    label->labelsize(dialog_font_size);
    label->align(FL_ALIGN_INSIDE | FL_ALIGN_TOP_LEFT | (wrap ? FL_ALIGN_WRAP : 0));
    return label;
}

void Plain_Label::draw()
{
    draw_box();
    draw_label(x(), y(), w(), h(), align());
}

void Banner_Picture::draw()
{
    // A night-blue sweep with a few light bands, in the spirit of a cabinet marquee.
    fl_push_clip(x(), y(), w(), h());
    for (int row = 0; row < h(); ++row) {
        fl_color(blend(8, 16, 72, 40, 90, 180, row, h() - 1));
        fl_xyline(x(), y() + row, x() + w() - 1);
    }
    for (int band = 0; band < 5; ++band) {
        const int left = x() + w() / 2 + band * 46;
        fl_color(blend(60, 110, 200, 110, 170, 240, band, 4));
        fl_polygon(left, y() + h(), left + 18, y() + h(), left + 18 + h(), y(), left + h(), y());
    }
    fl_color(fl_rgb_color(255, 200, 40));
    fl_xyline(x(), y() + h() - 2, x() + w() - 1);
    fl_pop_clip();
}

int Banner_Picture::handle(int event)
{
    if (callback() == Fl_Widget::default_callback)
        return Fl_Box::handle(event);
    // A click is a press and a release over the picture.
    if (event == FL_PUSH)
        return 1;
    if (event == FL_RELEASE && Fl::event_inside(this))
        do_callback();
    return Fl_Box::handle(event);
}

namespace {

// The address the banner opens: the program's README.md as a file URI, the
// nearest one of the program's folder and the two above it (a build's bin
// folder lies two below the source tree); the one beside the program when
// there is none.
std::string maker_page()
{
    namespace fs = std::filesystem;
    fs::path folder = Marvane::program_directory();
    fs::path page = folder / "README.md";
    for (int up = 0; up < 3; ++up, folder = folder.parent_path()) {
        std::error_code none;
        if (fs::is_regular_file(folder / "README.md", none)) {
            page = folder / "README.md";
            break;
        }
    }
    std::string uri = "file://";
    for (const unsigned char c : page.string()) {
        if (std::isalnum(c) || std::strchr("/-._~", c) != nullptr) {
            uri += static_cast<char>(c);
        } else {
            static const char hex[] = "0123456789ABCDEF";
            uri += {'%', hex[c >> 4], hex[c & 15]};
        }
    }
    return uri;
}

}  // namespace

void Separator_Picture::draw()
{
    fl_push_clip(x(), y(), w(), h());
    for (int row = 0; row < h(); ++row) {
        const int middle = h() / 2;
        const int distance = row < middle ? middle - row : row - middle;
        fl_color(blend(40, 90, 180, 220, 225, 235, distance, middle));
        fl_xyline(x(), y() + row, x() + w() - 1);
    }
    fl_pop_clip();
}

TMain::TMain(const std::string& settings_file)
    : Fl_Double_Window(487, 417, application_title), settings_file_(settings_file)
{
    use_dialog_font();
    Image1 = new Banner_Picture(0, 0, 513, 65);
    Image3 = new Banner_Picture(-36, -2, 533, 67);
    Image3->callback(call<&TMain::Image3Click>, this);
    Label1 = make_label(8, 8, 0, "Tovan Marvane Tools", true, false);
    Label1->labelcolor(FL_WHITE);
    Label2 = make_label(14, 24, 171,
                        "Change the options and Click Go to create ROM, CFG and MAP files.",
                        false, true);
    Label2->labelcolor(FL_WHITE);

    // The panel's controls are placed relative to it, as the table gives them.
    constexpr int top = 64;
    Frame1 = new Option_Panel(0, top, 481, 297);
    Frame1->box(FL_NO_BOX);
    const auto input = [&](int x, int y, int w) {
        Fl_Input* field = new Fl_Input(x, top + y, w, 21);
        option_controls_.push_back(field);
        return field;
    };
    const auto button = [&](int x, int y, void (*handler)(Fl_Widget*, void*)) {
        Fl_Button* b = new Fl_Button(x, top + y, 25, 21, "...");
        b->callback(handler, this);
        option_controls_.push_back(b);
        return b;
    };
    const auto check = [&](int x, int y, int w, int h) {
        Fl_Check_Button* box = new Fl_Check_Button(x, top + y, w, h);
        option_controls_.push_back(box);
        return box;
    };
    const auto label = [&](int x, int y, int w, const char* text, bool bold) {
        return make_label(x, top + y, w, text, bold, w != 0);
    };
    Label3 = label(8, 8, 0, "ROM Directory:", true);
    Txt_ROMPath = input(120, 8, 329);
    Button1 = button(448, 8, call<&TMain::Button1Click>);
    Label4 = label(8, 40, 0, "SNAP Directory", true);
    Txt_SNAPPath = input(120, 40, 329);
    Button2 = button(448, 40, call<&TMain::Button2Click>);
    Label5 = label(8, 64, 69, "Location of MAME.EXE", true);
    Txt_Mame = input(120, 72, 329);
    Button3 = button(448, 72, call<&TMain::Button3Click>);
    Label16 = label(8, 96, 69, "Location of Catver.ini", true);
    Txt_Cat = input(120, 104, 249);
    Button5 = button(368, 104, call<&TMain::Button5Click>);
    Chk_Cat = check(400, 104, 17, 17);
    Label17 = label(416, 104, 0, "On", false);
    Label6 = label(8, 136, 107, "Ignore Game Names Containing:", true);
    Txt_Games = input(120, 136, 273);
    Label9 = label(400, 128, 0, "Seperate with ;", false);
    Chk_FiltNames = check(400, 144, 17, 17);
    Label15 = label(416, 144, 0, "On", false);
    Label7 = label(8, 176, 0, "Output Directory", true);
    TXT_OUTPUT = input(120, 168, 273);
    Button4 = button(392, 168, call<&TMain::Button4Click>);
    Label8 = label(8, 208, 0, "Options", true);
    Chk_SNAPEXist = check(184, 200, 17, 25);
    Label13 = label(200, 199, 98, "Only Include Games with a SNAP", false);
    Chk_ROMEXist = check(304, 200, 17, 25);
    Label12 = label(320, 200, 118, "Only include Games that exist in Rom Directory", false);
    Chk_verify = check(304, 232, 15, 25);
    Label14 = label(320, 232, 153, "Verify Games and only include if ROMS are good (Slow)", false);
    Chk_Working = check(160, 224, 17, 25);
    Chk_Working->hide();
    Label11 = label(144, 248, 0, "Include only working Games", false);
    Label11->hide();
    Chk_But = check(112, 192, 17, 25);
    Chk_But->hide();
    Label18 = label(32, 240, 0, "No games with > 3 buttons", false);
    Label18->hide();
    Label10 = label(8, 268, 0, "Processing:", false);
    lbl_prog = new Fl_Output(72, top + 268, 393, 21);
    lbl_prog->box(FL_DOWN_BOX);
    lbl_prog->color(fl_rgb_color(212, 208, 200));
    lbl_prog->value("Waiting...");
    Frame1->end();

    Image2 = new Separator_Picture(0, 363, 505, 9);
    const auto command = [&](int x, Fl_Button* b, const char* text,
                             void (*handler)(Fl_Widget*, void*)) {
        b->resize(x, 376, 89, 33);
        b->label(text);
        b->labelfont(FL_HELVETICA_BOLD);
        if (handler != nullptr)
            b->callback(handler, this);
        return b;
    };
    Cmd_Exit = command(8, new Fl_Button(0, 0, 0, 0), "Exit", call<&TMain::Cmd_ExitClick>);
    Command6 = static_cast<Fl_Return_Button*>(
        command(104, new Fl_Return_Button(0, 0, 0, 0), "About", call<&TMain::Command6Click>));
    // The settings window behind Advanced was never finished; the button stays hidden.
    Cmd_adv = command(256, new Fl_Button(0, 0, 0, 0), "Advanced", nullptr);
    Cmd_adv->hide();
    Command1 = command(392, new Fl_Button(0, 0, 0, 0), "Go", call<&TMain::Command1Click>);
    end();

    callback(main_window_callback, this);
    position((Fl::w() - w()) / 2, (Fl::h() - h()) / 2);
    FormCreate();
}

void TMain::FormCreate()
{
    show_settings(Marvane::read_settings(settings_file_));
}

Marvane::Generator_Settings TMain::settings() const
{
    Marvane::Generator_Settings s;
    s.rom_path = Txt_ROMPath->value();
    s.snap_path = Txt_SNAPPath->value();
    s.mame_exe = Txt_Mame->value();
    s.catver_path = Txt_Cat->value();
    s.filter = Txt_Games->value();
    s.cat_enabled = Chk_Cat->value() != 0;
    s.filter_enabled = Chk_FiltNames->value() != 0;
    s.output_dir = TXT_OUTPUT->value();
    s.buttons = Chk_But->value() != 0;
    s.working = Chk_Working->value() != 0;
    s.snap = Chk_SNAPEXist->value() != 0;
    s.rom = Chk_ROMEXist->value() != 0;
    s.verify = Chk_verify->value() != 0;
    return s;
}

void TMain::show_settings(const Marvane::Generator_Settings& s)
{
    Txt_ROMPath->value(s.rom_path.c_str());
    Txt_SNAPPath->value(s.snap_path.c_str());
    Txt_Mame->value(s.mame_exe.c_str());
    Txt_Cat->value(s.catver_path.c_str());
    Txt_Games->value(s.filter.c_str());
    Chk_Cat->value(s.cat_enabled);
    Chk_FiltNames->value(s.filter_enabled);
    TXT_OUTPUT->value(s.output_dir.c_str());
    Chk_But->value(s.buttons);
    Chk_Working->value(s.working);
    Chk_SNAPEXist->value(s.snap);
    Chk_ROMEXist->value(s.rom);
    Chk_verify->value(s.verify);
    // A loaded text shows from its start, as an edit field opens (FLTK puts the cursor at the end).
    for (Fl_Input* text : {Txt_ROMPath, Txt_SNAPPath, Txt_Mame, Txt_Cat, Txt_Games, TXT_OUTPUT})
        text->position(0);
}

bool TMain::save_settings()
{
    if (Marvane::write_settings(settings_file_, settings()))
        return true;
    show_message("Unable to write to " + settings_file_, application_title);
    return false;
}

void TMain::FormClose()
{
    // A failed save has been reported; the user leaves all the same.
    save_settings();
    Functions::StopRequested = true;
    if (running_)
        hide();  // the run ends at its next look at StopRequested, then the program
    else
        terminate_application();
}

void TMain::Cmd_ExitClick()
{
    save_settings();
    terminate_application();
}

void TMain::Command6Click()
{
    if (About == nullptr)
        return;
    About->set_modal();
    About->show();
    while (About->shown())
        Fl::wait();
}

void TMain::Command1Click()
{
    running_ = true;
    Marvane::run_generation(*this);
    running_ = false;
}

void TMain::choose_folder(const char* title, Fl_Input* field)
{
    const std::string folder = BrowseForFolder(this, title, field->value());
    if (!folder.empty())
        field->value(folder.c_str());
}

void TMain::Button1Click() { choose_folder("Select MAME ROM Directory", Txt_ROMPath); }
void TMain::Button2Click() { choose_folder("Select MAME SNAP Directory", Txt_SNAPPath); }
void TMain::Button4Click() { choose_folder("Select Output Directory", TXT_OUTPUT); }

void TMain::choose_file(const char* pattern, const char* title, const char* filter,
                        int first_filter, Fl_Input* field)
{
    CommonDialog1.type(Fl_Native_File_Chooser::BROWSE_FILE);
    CommonDialog1.title(title);
    CommonDialog1.filter(filter);
    CommonDialog1.filter_value(first_filter);
    CommonDialog1.preset_file(pattern);
    std::string name = pattern;
    if (CommonDialog1.show() == 0 && CommonDialog1.filename() != nullptr &&
        *CommonDialog1.filename() != '\0')
        name = CommonDialog1.filename();
    if (name != pattern)
        field->value(name.c_str());
}

// The choosers show a filter as its name followed by its pattern in
// brackets; the blank ending each name gives "EXE Files (*.exe)".
void TMain::Button3Click()
{
    // MAME has no extension here: every file is shown first.
    choose_file("*.exe", "Select MAME.EXE", "EXE Files \t*.exe\nAll Files \t*", 1, Txt_Mame);
}

void TMain::Button5Click()
{
    choose_file("*.ini", "Select Catver.ini", "INI Files \t*.ini", 0, Txt_Cat);
}

void TMain::Image3Click()
{
    // A page that cannot be opened is not reported.
    fl_open_uri(maker_page().c_str());
}

Fl_Input* TMain::field(Marvane::Run_Text which) const
{
    using Marvane::Run_Text;
    switch (which) {
    case Run_Text::Txt_Mame: return Txt_Mame;
    case Run_Text::Txt_ROMPath: return Txt_ROMPath;
    case Run_Text::Txt_SNAPPath: return Txt_SNAPPath;
    case Run_Text::TXT_OUTPUT: return TXT_OUTPUT;
    case Run_Text::Txt_Cat: return Txt_Cat;
    case Run_Text::Txt_Games: return Txt_Games;
    }
    return Txt_Games;
}

Fl_Check_Button* TMain::option(Marvane::Run_Option which) const
{
    using Marvane::Run_Option;
    switch (which) {
    case Run_Option::Chk_Cat: return Chk_Cat;
    case Run_Option::Chk_But: return Chk_But;
    case Run_Option::Chk_Working: return Chk_Working;
    case Run_Option::Chk_verify: return Chk_verify;
    case Run_Option::Chk_FiltNames: return Chk_FiltNames;
    case Run_Option::Chk_ROMEXist: return Chk_ROMEXist;
    case Run_Option::Chk_SNAPEXist: return Chk_SNAPEXist;
    }
    return Chk_SNAPEXist;
}

std::string TMain::field_text(Marvane::Run_Text which)
{
    const Fl_Input* input = field(which);
    return std::string(input->value(), static_cast<std::size_t>(input->size()));
}

void TMain::set_field_text(Marvane::Run_Text which, const std::string& text)
{
    field(which)->value(text.data(), static_cast<int>(text.size()));
}

bool TMain::option_checked(Marvane::Run_Option which)
{
    return option(which)->value() != 0;
}

void TMain::set_progress(const std::string& text)
{
    // Called once per game: only the text changes here; pump_messages paints.
    lbl_prog->value(text.data(), static_cast<int>(text.size()));
}

void TMain::show_message(const std::string& text, const std::string& caption)
{
    // The box is as wide as its longest line and some 90 pixels more: lines
    // of at most 600 keep it, and its OK button, on a 1024 by 768 screen.
    // A line is measured as the box draws it, control characters spelled out.
    constexpr int widest_line = 600;
    fl_font(fl_message_font_, fl_message_size_ == -1 ? FL_NORMAL_SIZE : fl_message_size_);
    const std::string lines =
        Functions::wrap_to_width(text, widest_line, [](const std::string& line) {
            int width = 0;
            int height = 0;
            fl_measure(line.c_str(), width, height, 0);
            return width;
        });
    fl_message_title(caption.c_str());
    fl_message("%s", lines.c_str());
}

void TMain::set_busy_cursor(bool busy)
{
    cursor(busy ? FL_CURSOR_WAIT : FL_CURSOR_DEFAULT);
}

void TMain::set_run_controls_enabled(bool enabled)
{
    std::vector<Fl_Widget*> controls = option_controls_;
    controls.insert(controls.end(), {Command1, Cmd_Exit, Cmd_adv});
    for (Fl_Widget* control : controls) {
        if (enabled)
            control->activate();
        else
            control->deactivate();
    }
}

void TMain::pump_messages()
{
    Fl::check();
}

void TMain::terminate_application()
{
    while (Fl_Window* window = Fl::first_window())
        window->hide();
}

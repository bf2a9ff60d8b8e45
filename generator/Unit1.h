#ifndef MARVO_GENERATOR_UNIT1_H
#define MARVO_GENERATOR_UNIT1_H

// The main window of marvolist: the paths and options of a generation run,
// kept in "Config.ini", the dialogs that fill them in, and the Go button that
// starts the run. The window is the run's host: the run reads the controls
// and reports through it.

#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Check_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Native_File_Chooser.H>
#include <FL/Fl_Output.H>
#include <FL/Fl_Return_Button.H>

#include <string>
#include <vector>

#include "generator/runhost.h"
#include "generator/settings.h"

// The program's banner, drawn rather than loaded so that it needs no file.
// A banner given a callback calls it when clicked; the others are pictures.
class Banner_Picture : public Fl_Box {
public:
    Banner_Picture(int x, int y, int w, int h) : Fl_Box(x, y, w, h) {}
    int handle(int event) override;

protected:
    void draw() override;
};

// The strip that parts the option panel from the buttons; it fills its box.
class Separator_Picture : public Fl_Box {
public:
    Separator_Picture(int x, int y, int w, int h) : Fl_Box(x, y, w, h) {}

protected:
    void draw() override;
};

// A label whose text starts at its left edge and wraps at its width, as the
// layout's coordinates mean it (FLTK's own labels sit 3 pixels in on each side).
class Plain_Label : public Fl_Box {
public:
    Plain_Label(int x, int y, int w, int h, const char* text) : Fl_Box(x, y, w, h, text) {}

protected:
    void draw() override;
};

// The caption, font and size of the program's windows.
extern const char* const application_title;
void use_dialog_font();

// A label that sizes itself to its text (wrapped at `w` when `w` is not 0).
Fl_Box* make_label(int x, int y, int w, const char* text, bool bold, bool wrap);

class TMain : public Fl_Double_Window, public Marvane::Run_Host {
public:
    // `settings_file` is the full path of "Config.ini".
    explicit TMain(const std::string& settings_file);

    Banner_Picture* Image1;
    Banner_Picture* Image3;
    Fl_Box* Label1;
    Fl_Box* Label2;
    Fl_Group* Frame1;
    Fl_Box* Label3;
    Fl_Input* Txt_ROMPath;
    Fl_Button* Button1;
    Fl_Box* Label4;
    Fl_Input* Txt_SNAPPath;
    Fl_Button* Button2;
    Fl_Box* Label5;
    Fl_Input* Txt_Mame;
    Fl_Button* Button3;
    Fl_Box* Label16;
    Fl_Input* Txt_Cat;
    Fl_Button* Button5;
    Fl_Check_Button* Chk_Cat;
    Fl_Box* Label17;
    Fl_Box* Label6;
    Fl_Input* Txt_Games;
    Fl_Box* Label9;
    Fl_Check_Button* Chk_FiltNames;
    Fl_Box* Label15;
    Fl_Box* Label7;
    Fl_Input* TXT_OUTPUT;
    Fl_Button* Button4;
    Fl_Box* Label8;
    Fl_Check_Button* Chk_SNAPEXist;
    Fl_Box* Label13;
    Fl_Check_Button* Chk_ROMEXist;
    Fl_Box* Label12;
    Fl_Check_Button* Chk_verify;
    Fl_Box* Label14;
    Fl_Check_Button* Chk_Working;
    Fl_Box* Label11;
    Fl_Check_Button* Chk_But;
    Fl_Box* Label18;
    Fl_Box* Label10;
    Fl_Output* lbl_prog;
    Separator_Picture* Image2;
    Fl_Button* Cmd_Exit;
    Fl_Return_Button* Command6;
    Fl_Button* Cmd_adv;
    Fl_Button* Command1;
    Fl_Native_File_Chooser CommonDialog1;

    // Handlers.
    void FormCreate();
    void FormClose();
    void Cmd_ExitClick();
    void Command6Click();
    void Command1Click();
    void Button1Click();
    void Button2Click();
    void Button4Click();
    void Button3Click();
    void Button5Click();
    void Image3Click();

    // The settings as the controls hold them, and loading them into the controls.
    Marvane::Generator_Settings settings() const;
    void show_settings(const Marvane::Generator_Settings& settings);
    // Writes "Config.ini"; reports a failure and returns false.
    bool save_settings();

    // Run_Host.
    std::string field_text(Marvane::Run_Text field) override;
    void set_field_text(Marvane::Run_Text field, const std::string& text) override;
    bool option_checked(Marvane::Run_Option option) override;
    void set_progress(const std::string& text) override;
    void show_message(const std::string& text, const std::string& caption) override;
    void set_busy_cursor(bool busy) override;
    void set_run_controls_enabled(bool enabled) override;
    void pump_messages() override;
    void terminate_application() override;

    bool running() const { return running_; }

private:
    Fl_Input* field(Marvane::Run_Text field) const;
    Fl_Check_Button* option(Marvane::Run_Option option) const;
    void choose_folder(const char* title, Fl_Input* field);
    // `filter` holds name-tab-pattern entries, one a line; `first_filter` is the one shown first.
    void choose_file(const char* pattern, const char* title, const char* filter, int first_filter,
                     Fl_Input* field);

    std::string settings_file_;
    std::vector<Fl_Widget*> option_controls_;  // what a run disables in Frame1
    bool running_ = false;
};

extern TMain* Main;

#endif

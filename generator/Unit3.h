#ifndef MARVO_GENERATOR_UNIT3_H
#define MARVO_GENERATOR_UNIT3_H

// The About box: the banner, the program's name and credit, a contact line
// and a Close button. Created hidden at start and shown modally on request.

#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>

class Banner_Picture;

// A label drawn underlined, as a contact line is.
class Underlined_Label : public Fl_Box {
public:
    Underlined_Label(int x, int y, int w, int h, const char* text) : Fl_Box(x, y, w, h, text) {}

protected:
    void draw() override;
};

class TAbout : public Fl_Double_Window {
public:
    TAbout();

    Banner_Picture* Image1;
    Fl_Box* Label1;
    Underlined_Label* Label2;
    Fl_Button* Button1;

    void Button1Click();
};

extern TAbout* About;

#endif

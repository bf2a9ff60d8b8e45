#include "generator/Unit3.h"

#include <FL/Fl.H>
#include <FL/fl_draw.H>

// X11 calls its mouse buttons Button1 to Button5; the windows' buttons keep theirs.
#undef Button1
#undef Button2
#undef Button3
#undef Button4
#undef Button5

#include "generator/Unit1.h"

TAbout* About = nullptr;

namespace {

void close_clicked(Fl_Widget*, void* box)
{
    static_cast<TAbout*>(box)->Button1Click();
}

}  // namespace

void Underlined_Label::draw()
{
    // The text starts at the label's left edge, as the main window's labels do.
    draw_box();
    draw_label(x(), y(), w(), h(), align());
    fl_font(labelfont(), labelsize());
    int width = 0;
    int height = 0;
    fl_measure(label(), width, height, 0);
    fl_color(labelcolor());
    const int left = x();
    const int base = y() + fl_height() - fl_descent() + 1;
    fl_xyline(left, base, left + width - 1);
}

// 317 by 140 outside: the client area is what is left inside a frame with
// a caption bar.
TAbout::TAbout() : Fl_Double_Window(311, 113, "About")
{
    use_dialog_font();
    Image1 = new Banner_Picture(0, 0, 311, 65);
    Label1 = make_label(8, 8, 240, "Tovan Marvane Tools\nThe catalogue generator of the Tovan Marvane "
                                   "arcade front-end, by its developers.",
                        true, true);
    Label1->labelcolor(FL_WHITE);
    fl_font(FL_HELVETICA_BOLD, FL_NORMAL_SIZE);
    Label2 = new Underlined_Label(8, 80, 200, fl_height() + 2, "Help: see README.md");
    Label2->box(FL_NO_BOX);
    Label2->labelfont(FL_HELVETICA_BOLD);
    Label2->labelcolor(FL_BLUE);
    Label2->align(FL_ALIGN_INSIDE | FL_ALIGN_TOP_LEFT);
    Button1 = new Fl_Button(224, 72, 65, 25, "Close");
    Button1->callback(close_clicked, this);
    end();
    position((Fl::w() - w()) / 2, (Fl::h() - h()) / 2);
}

void TAbout::Button1Click()
{
    hide();
}

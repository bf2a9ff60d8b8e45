// marvolist: the catalogue generator's window. It keeps its settings in
// "Config.ini" beside the executable and writes, on Go, the emulator files
// that marvo-frontend reads.

#include <FL/Fl.H>
#include <FL/fl_ask.H>

#include "generator/Unit1.h"
#include "generator/Unit3.h"
#include "generator/settings.h"

int main()
{
    fl_message_title_default(application_title);
    fl_close = "OK";  // message boxes answer with OK, as on the desktop the run was made for
    Main = new TMain(Marvane::settings_path());
    About = new TAbout();
    Main->show();
    return Fl::run();
}

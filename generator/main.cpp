// marvolist: the catalogue generator's window. It keeps its settings in
// "Config.ini" beside the executable and writes, on Go, the emulator files
// that marvo-frontend reads.

#include <csignal>

#include <FL/Fl.H>
#include <FL/fl_ask.H>

#include "generator/Unit1.h"
#include "generator/Unit3.h"
#include "generator/settings.h"

int main()
{
    // A file-size limit makes a write fail as a full disk does: the run
    // ends with its error box, and Exit still saves the settings.
    std::signal(SIGXFSZ, SIG_IGN);
    fl_message_title_default(application_title);
    fl_close = "OK";  // message boxes answer with OK, as on the desktop the run was made for
    Main = new TMain(Marvane::settings_path());
    About = new TAbout();
    Main->show();
    return Fl::run();
}

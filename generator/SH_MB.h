#ifndef MARVO_GENERATOR_SH_MB_H
#define MARVO_GENERATOR_SH_MB_H

// The folder browser of the main window.

#include <string>

class Fl_Window;

// Shows the desktop's folder browser with `title`, opened on `initial_folder`
// and showing the selected path as the user moves; returns the chosen
// folder's path, or an empty text when the user cancels.
std::string BrowseForFolder(Fl_Window* owner, const std::string& title,
                            const std::string& initial_folder);

#endif

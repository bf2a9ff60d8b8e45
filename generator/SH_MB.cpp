#include "generator/SH_MB.h"

#include <FL/Fl_Native_File_Chooser.H>

std::string BrowseForFolder(Fl_Window* owner, const std::string& title,
                            const std::string& initial_folder)
{
    // FLTK's chooser is modal to the whole program: it needs no owner.
    (void)owner;
    Fl_Native_File_Chooser browser(Fl_Native_File_Chooser::BROWSE_DIRECTORY);
    browser.title(title.c_str());
    if (!initial_folder.empty())
        browser.directory(initial_folder.c_str());
    std::string result;
    if (browser.show() == 0 && browser.filename() != nullptr)
        result = browser.filename();
    return result;
}

#ifndef MARVO_GENERATOR_RUNHOST_H
#define MARVO_GENERATOR_RUNHOST_H

// What a generation run needs from the window that starts it. The run reads
// its settings from the window's controls, writes the normalised paths back,
// and reports progress, messages, the cursor and the enabling of controls
// through this interface, so the run itself knows nothing of the toolkit.
// The FLTK main window implements it; the tests implement it with a recorder.

#include <string>

namespace Marvane {

// Text fields the run reads (and, for the three directories, writes back).
enum class Run_Text {
    Txt_Mame,       // MAME executable, full path
    Txt_ROMPath,    // ROM directory
    Txt_SNAPPath,   // snapshot directory
    TXT_OUTPUT,     // output directory
    Txt_Cat,        // catver.ini path
    Txt_Games       // filter words, separated by ";"
};

// Check boxes the run reads.
enum class Run_Option {
    Chk_Cat,        // use catver.ini categories
    Chk_But,        // reject games with more than 3 buttons
    Chk_Working,    // only working games
    Chk_verify,     // verify ROMs with MAME
    Chk_FiltNames,  // apply the filter words
    Chk_ROMEXist,   // only games present in the ROM directory
    Chk_SNAPEXist   // only games with a snapshot
};

class Run_Host {
public:
    virtual ~Run_Host() = default;

    // Current text of a field, and writing a field (the run normalises the
    // ROM, snapshot and output directories and writes them back).
    virtual std::string field_text(Run_Text field) = 0;
    virtual void set_field_text(Run_Text field, const std::string& text) = 0;

    // State of a check box.
    virtual bool option_checked(Run_Option option) = 0;

    // The read-only progress field `lbl_prog`.
    virtual void set_progress(const std::string& text) = 0;

    // A modal message box with an OK button only; returns when dismissed.
    virtual void show_message(const std::string& text, const std::string& caption) = 0;

    // Hourglass while the run goes on, default arrow at its end.
    virtual void set_busy_cursor(bool busy) = 0;

    // Enables or disables together `Command1`, `Cmd_Exit`, `Cmd_adv` and the
    // option panel `Frame1`.
    virtual void set_run_controls_enabled(bool enabled) = 0;

    // Processes the window's pending events (keeps it painted, lets the user
    // open the About box or close the window during a run).
    virtual void pump_messages() = 0;

    // Called at the end of a run when `StopRequested` is set: the window was
    // closed during the run and the program has to end.
    virtual void terminate_application() = 0;
};

// One generation run: the work behind the Go button. Runs synchronously and
// returns when the run has ended; its only results are the files it writes
// and the messages it shows through the host.
void run_generation(Run_Host& host);

}  // namespace Marvane

#endif

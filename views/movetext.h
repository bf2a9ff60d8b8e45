// Text views: a movable bitmap holding one outlined line of text with an
// optional icon, laid out horizontally (HText_VC) or rotated to read from
// bottom to top (VText_VC).
#ifndef MARVO_VIEWS_MOVETEXT_H
#define MARVO_VIEWS_MOVETEXT_H

#include <string>

#include <allegro.h>

#include "views/movebmp.h"

namespace Marvane {

class Text_VC : public Movable_Bitmap {
public:
    Text_VC(GameEngine::Engine* engine, int width, int height, FONT* font);
    ~Text_VC() override = default;

    // Stores both pixel values, then redraws.
    void set_colors(int foreground, int outline);
    // Stores the icon (null for none; not owned, the caller keeps it
    // alive), copies the text and cuts it from the end until it fits the
    // extent, then redraws.
    void set_contents(const std::string& text, BITMAP* icon);
    // A new bitmap, owned by the caller: the current text with its outline
    // on magenta.
    BITMAP* get_outline_bmp() const;
    // The text as it is shown (after cutting).
    const char* get_contents() const { return contents; }

    virtual void update_bitmap() = 0;

protected:
    static constexpr int CONTENTS_SIZE = 256;

    // Clears the owned bitmap to magenta and returns the outlined text to
    // place on it (owned by the caller); null when there is nothing to draw.
    BITMAP* begin_redraw();

    char contents[CONTENTS_SIZE];
    BITMAP* icon;
    FONT* font;
    int foreground_color;
    int outline_color;
    int extent;
};

class HText_VC : public Text_VC {
public:
    HText_VC(GameEngine::Engine* engine, int width, int height, FONT* font);
    void update_bitmap() override;
};

class VText_VC : public Text_VC {
public:
    VText_VC(GameEngine::Engine* engine, int width, int height, FONT* font);
    void update_bitmap() override;
};

}  // namespace Marvane

#endif

// The framed bar drawn under the menu titles: a rectangle of the bar colour
// inside a two-pixel black frame. It never moves.
#ifndef MARVO_VIEWS_BAR_H
#define MARVO_VIEWS_BAR_H

#include <allegro.h>

#include "engine/engine.h"

namespace Marvane {

class Outline_Bar : public GameEngine::Drawable {
public:
    // Corners inclusive; the bar is made at least 4 x 4.
    Outline_Bar(int x1, int y1, int x2, int y2);
    ~Outline_Bar() override = default;

    void set_color(int pixel);
    void draw(BITMAP* target) override;

private:
    int bar_color;
    int outer_x1, outer_y1, outer_x2, outer_y2;
    int inner_x1, inner_y1, inner_x2, inner_y2;
};

}  // namespace Marvane

#endif

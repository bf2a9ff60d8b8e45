#include "views/bar.h"

namespace Marvane {

Outline_Bar::Outline_Bar(int x1, int y1, int x2, int y2) : bar_color(makecol(255, 255, 255)) {
    // Anything smaller than 4 x 4 would leave no room for the frame.
    if (x2 - x1 + 1 < 4)
        x2 = x1 + 3;
    if (y2 - y1 + 1 < 4)
        y2 = y1 + 3;
    outer_x1 = x1;
    outer_y1 = y1;
    outer_x2 = x2;
    outer_y2 = y2;
    inner_x1 = x1 + 2;
    inner_y1 = y1 + 2;
    inner_x2 = x2 - 2;
    inner_y2 = y2 - 2;
}

void Outline_Bar::set_color(int pixel) { bar_color = pixel; }

void Outline_Bar::draw(BITMAP* target) {
    rectfill(target, outer_x1, outer_y1, outer_x2, outer_y2, makecol(0, 0, 0));
    // rectfill would swap the corners of an inverted rectangle and paint
    // over the frame of the smallest bars; an inverted inside is empty.
    if (inner_x1 <= inner_x2 && inner_y1 <= inner_y2)
        rectfill(target, inner_x1, inner_y1, inner_x2, inner_y2, bar_color);
}

}  // namespace Marvane

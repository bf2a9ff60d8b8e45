// A bitmap that glides from where it is to a target point over a given time.
// Positions are 16.16 fixed point; the clip rectangle is in target
// coordinates with all four bounds inclusive.
#ifndef MARVO_VIEWS_MOVEBMP_H
#define MARVO_VIEWS_MOVEBMP_H

#include <allegro.h>

#include "engine/engine.h"

namespace Marvane {

class Movable_Bitmap : public GameEngine::Drawable, public GameEngine::Updatable {
public:
    Movable_Bitmap(GameEngine::Engine* engine, int width, int height);
    ~Movable_Bitmap() override;
    Movable_Bitmap(const Movable_Bitmap&) = delete;
    Movable_Bitmap& operator=(const Movable_Bitmap&) = delete;

    void draw(BITMAP* target) override;
    bool update() override;

    // Starts a move of the top-left corner to (x, y) lasting ms
    // milliseconds; ms 0 jumps there at once.
    void move_to(int x, int y, int ms);
    bool is_stopped() const;
    void set_clip(int x1, int y1, int x2, int y2);
    // The owned bitmap, for drawing into; ownership stays here.
    BITMAP* get_bitmap() const;

protected:
    static constexpr int STATE_MOVING = 0;
    static constexpr int STATE_STOPPED = 1;

    GameEngine::Engine* engine;
    BITMAP* bitmap;
    int width, height;
    fixed x, y;
    fixed step_x, step_y;
    int target_x, target_y;
    fixed clip_x1, clip_y1, clip_x2, clip_y2;
    int state;
};

}  // namespace Marvane

#endif

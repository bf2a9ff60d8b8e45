// A one-shot delay that tells its listener when it runs out.
#ifndef MARVO_VIEWS_DELAY_H
#define MARVO_VIEWS_DELAY_H

#include "engine/engine.h"
#include "engine/timer.h"

namespace Marvane {

class Delay_VC_Listener {
public:
    virtual ~Delay_VC_Listener() = default;
    virtual void delay_vc_expired() = 0;
};

class Delay_VC : public GameEngine::Updatable {
public:
    // The listener is given once, here, and must not be null.
    Delay_VC(GameEngine::Engine* engine, Delay_VC_Listener* listener);
    ~Delay_VC() override;
    Delay_VC(const Delay_VC&) = delete;
    Delay_VC& operator=(const Delay_VC&) = delete;

    // Arms the delay; re-arming replaces a running one.
    void delay(int ms);
    bool update() override;

private:
    GameEngine::Timer* timer;
    Delay_VC_Listener* listener;
    // Set by delay, cleared by the call: a delay shorter than one cycle is
    // due at once and stopped by the timer manager before this view's next
    // update, so it would otherwise never be reported.
    bool armed = false;
};

}  // namespace Marvane

#endif

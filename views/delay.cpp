#include "views/delay.h"

namespace Marvane {

Delay_VC::Delay_VC(GameEngine::Engine* engine, Delay_VC_Listener* listener)
    : timer(engine->get_timer_factory()->create_timer()), listener(listener) {}

Delay_VC::~Delay_VC() { delete timer; }

void Delay_VC::delay(int ms) {
    timer->set(ms < 0 ? 0u : static_cast<unsigned int>(ms));
    armed = true;
}

bool Delay_VC::update() {
    // One call per delay: a one-shot timer is expired for one cycle only.
    if (armed && (timer->expired() || timer->stopped())) {
        armed = false;  // before the call, which may arm a new delay
        if (listener)
            listener->delay_vc_expired();
    }
    return false;
}

}  // namespace Marvane

#include "views/delay.h"

namespace Marvane {

Delay_VC::Delay_VC(GameEngine::Engine* engine, Delay_VC_Listener* listener)
    : timer(engine->get_timer_factory()->create_timer()), listener(listener) {}

Delay_VC::~Delay_VC() { delete timer; }

void Delay_VC::delay(int ms) { timer->set(ms < 0 ? 0u : static_cast<unsigned int>(ms)); }

bool Delay_VC::update() {
    // A one-shot timer is expired for one cycle only: one call per delay.
    if (timer->expired() && listener)
        listener->delay_vc_expired();
    return false;
}

}  // namespace Marvane

#include "engine/joystick.h"

#include <algorithm>

#include <allegro.h>

#include "engine/keypress.h"
#include "engine/timer.h"

namespace GameEngine {

namespace {

// Bounds the hardware reports; a table entry beyond them is never read.
const JOYSTICK_INFO *joystick_info(int index)
{
    if (index < 0 || index >= num_joysticks || index >= MAX_JOYSTICKS) {
        return nullptr;
    }
    return &joy[index];
}

int upper_limit(int value, int count)
{
    return std::min(value, count - 1);
}

} // namespace

Joystick_Button_Event::Joystick_Button_Event(int joystick, int button)
{
    m_joystick = upper_limit(joystick, num_joysticks);
    const JOYSTICK_INFO *info = joystick_info(m_joystick);
    m_button = info ? upper_limit(button, info->num_buttons) : button;
}

bool Joystick_Button_Event::is_triggered()
{
    const JOYSTICK_INFO *info = joystick_info(m_joystick);
    if (!info || m_button < 0 || m_button >= info->num_buttons || m_button >= MAX_JOYSTICK_BUTTONS) {
        return false;
    }
    return info->button[m_button].b != 0;
}

Joystick_Digital_Axis_Event::Joystick_Digital_Axis_Event(int joystick, int stick, int axis,
                                                         Position position)
    : m_position(position)
{
    m_joystick = upper_limit(joystick, num_joysticks);
    m_stick = stick;
    m_axis = axis;
    if (const JOYSTICK_INFO *info = joystick_info(m_joystick)) {
        m_stick = upper_limit(stick, info->num_sticks);
        if (m_stick >= 0 && m_stick < MAX_JOYSTICK_STICKS) {
            m_axis = upper_limit(axis, info->stick[m_stick].num_axis);
        }
    }
}

bool Joystick_Digital_Axis_Event::is_triggered()
{
    const JOYSTICK_INFO *info = joystick_info(m_joystick);
    if (!info || m_stick < 0 || m_stick >= info->num_sticks || m_stick >= MAX_JOYSTICK_STICKS) {
        return false;
    }
    const JOYSTICK_STICK_INFO &stick = info->stick[m_stick];
    if (m_axis < 0 || m_axis >= stick.num_axis || m_axis >= MAX_JOYSTICK_AXIS) {
        return false;
    }
    switch (m_position) {
    case negative:
        return stick.axis[m_axis].d1 != 0;
    case positive:
        return stick.axis[m_axis].d2 != 0;
    default:
        return false;
    }
}

Joystick_Watcher_Impl::Joystick_Watcher_Impl(Joystick_Manager *manager, Timer *timer,
                                             Joystick_Event *event)
    : m_event(event), m_timer(timer), m_manager(manager)
{
}

Joystick_Watcher_Impl::~Joystick_Watcher_Impl()
{
    delete m_timer;
    delete m_event;
    m_manager->delete_joystick_watcher(this);
}

void Joystick_Watcher_Impl::set_joystick_event(Joystick_Event *event)
{
    if (event != m_event) {
        delete m_event;
    }
    m_event = event;
}

bool Joystick_Watcher_Impl::is_pressed()
{
    return m_pressed;
}

void Joystick_Watcher_Impl::reset_state()
{
    reset_press_state(m_mode, m_pressed, m_held, nullptr, m_timer);
}

void Joystick_Watcher_Impl::set_repeat(int initial_ms, int repeat_ms)
{
    reset_state();
    m_initial_delay = initial_ms;
    m_repeat_delay = repeat_ms;
    m_mode = repeat;
}

void Joystick_Watcher_Impl::set_continuous()
{
    reset_state();
    m_mode = continuous;
}

void Joystick_Watcher_Impl::set_one_time()
{
    reset_state();
    m_mode = one_time;
}

void Joystick_Watcher_Impl::watch()
{
    watch_press(m_event && m_event->is_triggered(), m_mode, m_pressed, m_held, nullptr, m_timer,
                m_initial_delay, m_repeat_delay);
}

void Null_Joystick_Watcher_Impl::set_joystick_event(Joystick_Event *event)
{
    // Watches nothing, but the event was handed over and must not leak.
    delete event;
}

Joystick_Manager::Joystick_Manager(Engine *engine) : m_engine(engine)
{
}

Joystick_Watcher *Joystick_Manager::create_joystick_watcher(Joystick_Event *event)
{
    if (!event) {
        return new Null_Joystick_Watcher_Impl();
    }
    Timer *timer = m_engine->get_timer_factory()->create_timer();
    auto *watcher = new Joystick_Watcher_Impl(this, timer, event);
    m_watchers.push_back(watcher);
    return watcher;
}

bool Joystick_Manager::is_joystick_detected()
{
    return num_joysticks > 0;
}

void Joystick_Manager::delete_joystick_watcher(Joystick_Watcher *watcher)
{
    auto it = std::find(m_watchers.begin(), m_watchers.end(), watcher);
    if (it != m_watchers.end()) {
        m_watchers.erase(it);
    }
}

bool Joystick_Manager::update()
{
    poll_joystick();
    for (Joystick_Watcher_Impl *watcher : m_watchers) {
        watcher->watch();
    }
    return false;
}

} // namespace GameEngine

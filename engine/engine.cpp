#include "engine/engine.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <new>
#include <string>
#include <vector>

#include <unistd.h>

#include <allegro.h>
#include <loadpng.h>
#include <png.h>

#include "engine/joystick.h"
#include "engine/keypress.h"
#include "engine/timer.h"
#include "support/jpeg.h"
#include "support/logfile.h"
#include "support/savefile.h"

namespace GameEngine {

std::atomic<uint32_t> Engine_cycle_counter{0};
std::atomic<uint32_t> Engine_frame_counter{0};
std::atomic<uint32_t> Engine_last_fps{0};
std::atomic<uint32_t> Engine_total_frames{0};
std::atomic<uint32_t> Engine_seconds{0};
std::atomic<uint32_t> Engine_idle_seconds{0};

// B, Y and E: letters no usual cabinet encoder or emulator default sends.
const int Engine_exit_chord[3] = {KEY_B, KEY_Y, KEY_E};

Engine *Engine::s_instance = nullptr;

namespace {

// The timer callbacks run 60 times and once a second; the library counts
// 1193181 ticks per second.
constexpr int cycle_ticks = 1193181 / 60;
constexpr int second_ticks = 1193181;

void log_info(const std::string &message)
{
    if (LogFile::vx_log) {
        LogFile::vx_log->info(message);
    }
}

void log_warning(const std::string &message)
{
    if (LogFile::vx_log) {
        LogFile::vx_log->warning(message);
    }
}

} // namespace

void Engine_cycle_incrementor()
{
    Engine_cycle_counter.fetch_add(1, std::memory_order_relaxed);
}

void Engine_one_second_timer()
{
    // Taking the count and zeroing it in one step loses no frame drawn in
    // between; it lands in one second or the next.
    uint32_t frames = Engine_frame_counter.exchange(0, std::memory_order_relaxed);
    Engine_last_fps.store(frames, std::memory_order_relaxed);
    Engine_total_frames.fetch_add(frames, std::memory_order_relaxed);
    Engine_seconds.fetch_add(1, std::memory_order_relaxed);
    Engine_idle_seconds.fetch_add(1, std::memory_order_relaxed);
}

void Engine_keyboard_callback(int)
{
    Engine_idle_seconds.store(0, std::memory_order_relaxed);
}

void Engine_mouse_callback(int flags)
{
    if (flags != 0) {
        Engine_idle_seconds.store(0, std::memory_order_relaxed);
    }
}

// ---------------------------------------------------------------- containers

namespace {

// Erases the entries blanked during walks, once no walk is left.
template <typename T>
void erase_blanks(std::multimap<int32_t, T *> &map, GEContainer::Walks &walks)
{
    if (walks.depth == 0 && walks.blanks) {
        std::erase_if(map, [](const auto &entry) { return entry.second == nullptr; });
        walks.blanks = false;
    }
}

// Keeps the walk count right even if a visited entry throws.
template <typename T>
class Walk_Guard {
public:
    Walk_Guard(std::multimap<int32_t, T *> &map, GEContainer::Walks &walks) : m_map(map), m_walks(walks)
    {
        ++m_walks.depth;
    }
    ~Walk_Guard()
    {
        --m_walks.depth;
        erase_blanks(m_map, m_walks);
    }

private:
    std::multimap<int32_t, T *> &m_map;
    GEContainer::Walks &m_walks;
};

// Visits every entry; the next entry is looked up after each call, in the
// map as it then stands, so calls may add and remove entries. Nothing is
// erased during a walk, so the walk's place stays valid even when a call
// removes the entry being visited.
template <typename T, typename Call>
void visit(std::multimap<int32_t, T *> &map, GEContainer::Walks &walks, Call call)
{
    Walk_Guard<T> guard(map, walks);
    for (auto it = map.begin(); it != map.end(); ++it) {
        if (it->second) {
            call(it->second);
        }
    }
}

// Removes every entry holding the pointer; during a walk the entries are
// blanked instead and erased when the walk ends.
template <typename T>
void remove_entries(std::multimap<int32_t, T *> &map, GEContainer::Walks &walks, T *object)
{
    if (!object) {
        return;
    }
    for (auto it = map.begin(); it != map.end();) {
        if (it->second != object) {
            ++it;
        } else if (walks.depth > 0) {
            it->second = nullptr;
            walks.blanks = true;
            ++it;
        } else {
            it = map.erase(it);
        }
    }
}

} // namespace

GEContainer::GEContainer() = default;

GEContainer::~GEContainer()
{
    m_drawables.clear();
    m_updatables.clear();
}

void GEContainer::draw(BITMAP *target)
{
    visit(m_drawables, m_draw_walks, [target](Drawable *d) { d->draw(target); });
}

bool GEContainer::update()
{
    bool changed = false;
    visit(m_updatables, m_update_walks, [&changed](Updatable *u) {
        if (u->update()) {
            changed = true;
        }
    });
    return changed;
}

void GEContainer::add_drawable(Drawable *drawable, int priority)
{
    if (drawable) {
        // Equal keys go behind the entries already there.
        m_drawables.emplace(priority, drawable);
    }
}

void GEContainer::remove_drawable(Drawable *drawable)
{
    remove_entries(m_drawables, m_draw_walks, drawable);
}

void GEContainer::add_updatable(Updatable *updatable, int priority)
{
    if (updatable) {
        m_updatables.emplace(priority, updatable);
    }
}

void GEContainer::remove_updatable(Updatable *updatable)
{
    remove_entries(m_updatables, m_update_walks, updatable);
}

// -------------------------------------------------------------------- engine

Engine *Engine::get_instance()
{
    if (!s_instance) {
        s_instance = new Engine();
    }
    return s_instance;
}

Engine::Engine()
{
    std::srand(static_cast<unsigned int>(std::time(nullptr)));
    log_os_type();

    // install_allegro() leaves no system driver when it could not start one,
    // typically because the X display could not be opened; every install_*
    // call below, and the text mode a caller sets when it gives up, would
    // then dereference it. Allegro's driverless system takes its place so
    // that the start can be refused cleanly.
    if (!system_driver) {
        std::string reason = "Could not initialize Allegro: no system driver started";
        if (allegro_error[0]) {
            reason += std::string(" (") + allegro_error + ")";
        }
        install_allegro(SYSTEM_NONE, &errno, atexit);
        throw InitError(reason);
    }

    log_info("Installing joystick");
    if (install_joystick(JOY_TYPE_AUTODETECT) != 0) {
        log_warning("Error initializing joystick");
    }
    install_keyboard();
    install_timer();
    if (install_mouse() > 0) {
        log_info("Installed mouse");
        m_mouse_installed = true;
    } else {
        log_warning("Error initializing mouse");
        m_mouse_installed = false;
    }
    m_mouse_x = 0;
    m_mouse_y = 0;

    register_png_file_type();
    register_bitmap_file_type("jpg", load_jpg, nullptr);

    Engine_cycle_counter.store(0);
    install_int_ex(Engine_cycle_incrementor, cycle_ticks);
    install_int_ex(Engine_one_second_timer, second_ticks);

    keyboard_lowlevel_callback = Engine_keyboard_callback;
    if (m_mouse_installed) {
        mouse_callback = Engine_mouse_callback;
    }

    m_system_container = new GEContainer();
    m_root_container = new GEContainer();

    m_timer_manager = new Timer_Manager();
    m_timer_manager->adjust_frequency(static_cast<unsigned int>(updates_per_second()));
    m_system_container->add_updatable(m_timer_manager, 0);

    m_keypress_manager = new Keypress_Manager(this);
    m_system_container->add_updatable(m_keypress_manager, 1);

    m_joystick_manager = new Joystick_Manager(this);
    if (m_joystick_manager->is_joystick_detected()) {
        m_system_container->add_updatable(m_joystick_manager, 2);
    } else {
        log_warning("Joystick not detected");
    }

    m_overlay = new Engine_Manager(this);
    m_system_container->add_updatable(m_overlay, 10);
    m_system_container->add_drawable(m_overlay, 10);

    m_null_task = new Null_Background_Task();
    m_background_task = m_null_task;
}

Engine::~Engine()
{
    if (m_page0) {
        destroy_bitmap(m_page0);
    }
    if (m_page1) {
        destroy_bitmap(m_page1);
    }
    m_page0 = m_page1 = m_target = nullptr;
    // The overlay's key watchers unregister from the keypress manager.
    delete m_overlay;
    delete m_timer_manager;
    delete m_keypress_manager;
    delete m_joystick_manager;
    delete m_root_container;
    delete m_system_container;
    delete m_null_task;
    if (s_instance == this) {
        s_instance = nullptr;
    }
}

void Engine::log_os_type()
{
    const char *name;
    switch (os_type) {
    case OSTYPE_WIN3: name = "Windows 3.1 or earlier"; break;
    case OSTYPE_WIN95: name = "Windows 95"; break;
    case OSTYPE_WIN98: name = "Windows 98"; break;
    case OSTYPE_WINME: name = "Windows ME"; break;
    case OSTYPE_WINNT: name = "Windows NT"; break;
    case OSTYPE_WIN2000: name = "Windows 2000"; break;
    case OSTYPE_WINXP: name = "Windows XP"; break;
    case OSTYPE_OS2: name = "OS/2"; break;
    case OSTYPE_WARP: name = "OS/2 Warp 3"; break;
    case OSTYPE_DOSEMU: name = "Linux DOSEMU"; break;
    case OSTYPE_OPENDOS: name = "Caldera OpenDOS"; break;
    case OSTYPE_LINUX: name = "Linux"; break;
    case OSTYPE_FREEBSD: name = "FreeBSD"; break;
    case OSTYPE_UNIX: name = "Unknown Unix variant"; break;
    case OSTYPE_UNKNOWN: name = "Unknown, or regular MSDOS"; break;
    default: name = "Mystery OS"; break;
    }
    log_info(std::string("OS type: ") + name);
    log_info(std::string("Platform: ") + ALLEGRO_PLATFORM_STR);
}

void Engine::log_digi_card()
{
    const char *name;
    switch (digi_card) {
#ifdef ALLEGRO_WINDOWS
    case DIGI_DIRECTX(0): name = "DirectSound, device 0"; break;
    case DIGI_DIRECTX(1): name = "DirectSound, device 1"; break;
    case DIGI_DIRECTAMX(0): name = "DirectSound with Allegro mixing, device 0"; break;
    case DIGI_DIRECTAMX(1): name = "DirectSound with Allegro mixing, device 1"; break;
#endif
#ifdef ALLEGRO_UNIX
    case DIGI_ALSA: name = "ALSA with Allegro mixing"; break;
    case DIGI_JACK: name = "JACK with Allegro mixing"; break;
    case DIGI_OSS: name = "Open Sound System with Allegro mixing"; break;
    case DIGI_ESD: name = "Enlightened Sound Daemon with Allegro mixing"; break;
    case DIGI_ARTS: name = "aRts with Allegro mixing"; break;
#endif
    default: name = "Mystery sound card"; break;
    }
    log_info(std::string("Sound card type: ") + name);
}

void Engine::initialize_sound(bool use_software_mixer)
{
    set_volume_per_voice(1);
    if (use_software_mixer) {
        // The mixing devices of the host: ALSA first, then whatever the
        // library finds.
#ifdef ALLEGRO_WINDOWS
        const int device0 = DIGI_DIRECTAMX(0);
        const int device1 = DIGI_DIRECTAMX(1);
        const char *device0_name = "DIGI_DIRECTAMX(0)";
#else
        const int device0 = DIGI_ALSA;
        const int device1 = DIGI_AUTODETECT;
        const char *device0_name = "DIGI_ALSA";
#endif
        if (install_sound(device0, MIDI_NONE, nullptr) != 0) {
            log_warning(std::string(device0_name) + " failed: " + allegro_error);
            if (install_sound(device1, MIDI_NONE, nullptr) != 0) {
                throw InitError(std::string("Error initializing sound: ") + allegro_error);
            }
        }
    } else if (install_sound(DIGI_AUTODETECT, MIDI_NONE, nullptr) != 0) {
        throw InitError(std::string("Error initializing sound: ") + allegro_error);
    }
    log_digi_card();
    set_volume(255, -1);
}

void Engine::set_graphics_mode(int width, int height, int depth, bool fullscreen)
{
    // The library's X11 driver aborts on an empty or negative window instead
    // of failing, and corrupts its heap on sizes whose byte count overflows,
    // so such sizes never reach it. No X screen holds a side above
    // max_screen_side; max_screen_pixels keeps each page of the screen within
    // a sane amount of memory.
    constexpr int max_screen_side = 16384;
    constexpr long long max_screen_pixels = 8192LL * 8192LL;
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    if (width < 1 || height < 1) {
        throw InitError("Could not change graphics mode: screen size " + size + " has a side below 1");
    }
    if (width > max_screen_side || height > max_screen_side) {
        throw InitError("Could not change graphics mode: screen size " + size + " has a side above " +
                        std::to_string(max_screen_side));
    }
    if (static_cast<long long>(width) * height > max_screen_pixels) {
        throw InitError("Could not change graphics mode: screen size " + size + " has more than " +
                        std::to_string(max_screen_pixels) + " pixels");
    }
    int driver = fullscreen ? GFX_AUTODETECT_FULLSCREEN : GFX_AUTODETECT_WINDOWED;
    set_color_depth(depth);
    if (set_gfx_mode(driver, width, height, 0, 0) != 0) {
        if (depth != 16) {
            throw InitError(std::string("Could not change graphics mode: ") + allegro_error);
        }
        log_warning(std::string("Trying 15 BPP color depth, 16 BPP failed: ") + allegro_error);
        set_color_depth(15);
        if (set_gfx_mode(driver, width, height, 0, 0) != 0) {
            throw InitError(std::string("Could not change graphics mode: ") + allegro_error);
        }
    }
    log_info(std::string("Graphics driver: ") + gfx_driver->name);
    log_info(std::string("Description: ") + gfx_driver->desc);
}

void Engine::set_animation_mode(Animation_Method method, bool use_vram_flag, bool vsync)
{
    // Called once; should it come again, the old pages are not leaked.
    if (m_page0) {
        destroy_bitmap(m_page0);
    }
    if (m_page1) {
        destroy_bitmap(m_page1);
    }
    m_page0 = m_page1 = m_target = nullptr;
    use_vram = use_vram_flag;
    m_vsync = vsync;

    m_page0 = create_video_bitmap(SCREEN_W, SCREEN_H);
    if (!m_page0) {
        throw InitError("Could not grab screen");
    }
    clear_bitmap(m_page0);
    if (method == page_flipping) {
        m_page1 = create_video_bitmap(SCREEN_W, SCREEN_H);
    }
    if (!m_page1) {
        m_page1 = create_bitmap(SCREEN_W, SCREEN_H);
        if (!m_page1) {
            throw InitError("Could not double buffer");
        }
        clear_bitmap(m_page1);
        m_page_index = 1;
        show_video_bitmap(m_page0);
        animation_method = double_buffering;
        log_info("Using double buffering");
        log_info(std::string("Vsync is ") + (m_vsync ? "enabled" : "disabled"));
    } else {
        clear_bitmap(m_page1);
        show_video_bitmap(m_page1);
        animation_method = page_flipping;
        m_page_index = 0;
        log_info("Using page flipping");
    }
    m_target = m_page_index == 0 ? m_page0 : m_page1;
}

void Engine::run()
{
    Engine_frame_counter.store(0);
    Engine_cycle_counter.store(0);
    Engine_total_frames.store(0);
    Engine_last_fps.store(0);
    Engine_seconds.store(0);
    Engine_idle_seconds.store(0);
    m_stop = false;
    m_pause = false;
    m_last_cycle = 0;

    log_info("Starting engine loop");
    m_background_task->resume();

    do {
        m_catchup = 0;
        // Busy wait: the background task gets every moment until a cycle
        // is due, and at least one poll per pass.
        do {
            m_background_task->poll();
        } while (!(Engine_cycle_counter.load(std::memory_order_relaxed) > m_last_cycle));

        // Every due cycle runs before the next frame, however many there are.
        while (Engine_cycle_counter.load(std::memory_order_relaxed) > m_last_cycle) {
            if (m_catchup != 0) {
                m_background_task->poll();
            }
            do_one_cycle();
            ++m_catchup;
        }
        get_keyboard_input();
        draw_one_frame();
    } while (!m_stop);

    m_background_task->suspend();

    char line[80] = {};
    std::snprintf(line, sizeof line, "Average FPS: %g", get_average_frames_per_second());
    log_info(line);
}

void Engine::stop()
{
    m_stop = true;
}

void Engine::catchup()
{
    m_last_cycle = Engine_cycle_counter.load();
}

void Engine::poll_background_task()
{
    m_background_task->poll();
}

void Engine::set_background_task(Background_Task *task)
{
    m_background_task = task ? task : m_null_task;
}

GEContainer *Engine::get_root_container()
{
    return m_root_container;
}

int Engine::get_frames_per_second() const
{
    return static_cast<int>(Engine_last_fps.load());
}

double Engine::get_average_frames_per_second() const
{
    uint32_t seconds = Engine_seconds.load();
    // Before the first whole second there is no measurement: report 0.
    if (seconds == 0) {
        return 0.0;
    }
    return static_cast<double>(Engine_total_frames.load()) / static_cast<double>(seconds);
}

int Engine::elapsed_seconds() const
{
    return static_cast<int>(Engine_seconds.load());
}

int Engine::get_catchup() const
{
    return m_catchup;
}

int Engine::get_idle_timer() const
{
    return static_cast<int>(Engine_idle_seconds.load());
}

void Engine::reset_idle_timer()
{
    Engine_idle_seconds.store(0);
}

Timer_Factory *Engine::get_timer_factory()
{
    return m_timer_manager;
}

Keypress_Factory *Engine::get_keypress_factory()
{
    return m_keypress_manager;
}

Joystick_Factory *Engine::get_joystick_factory()
{
    return m_joystick_manager;
}

int Engine::get_infinite_mouse_x() const
{
    return m_mouse_x;
}

int Engine::get_infinite_mouse_y() const
{
    return m_mouse_y;
}

void Engine::set_infinite_mouse_x(int x)
{
    m_mouse_x = x;
}

void Engine::set_infinite_mouse_y(int y)
{
    m_mouse_y = y;
}

void Engine::do_one_cycle()
{
    if (!m_pause) {
        m_system_container->update();
        m_root_container->update();
    }
    if (m_mouse_installed) {
        int dx = 0;
        int dy = 0;
        get_mouse_mickeys(&dx, &dy);
        m_mouse_x += dx;
        m_mouse_y += dy;
    }
    ++m_last_cycle;
}

void Engine::get_keyboard_input()
{
    if (key[Engine_exit_chord[0]] && key[Engine_exit_chord[1]] && key[Engine_exit_chord[2]]) {
        log_info("Backdoor exit!");
        m_stop = true;
    }
    if (key[KEY_F12]) {
        grab_screen();
    }
    m_pause = key[KEY_P] != 0;
}

namespace {

void append_png_bytes(png_structp png, png_bytep bytes, png_size_t length)
{
    bool appended = true;
    try {
        static_cast<std::string *>(png_get_io_ptr(png))->append(reinterpret_cast<const char *>(bytes), length);
    } catch (const std::bad_alloc &) {
        appended = false;
    }
    if (!appended) {
        png_error(png, "out of memory");
    }
}

void flush_nothing(png_structp) {}

// The bitmap as a PNG in memory (8-bit RGB, compressed as loadpng does),
// so that a file is only written once the whole picture is there. False
// when it could not be made.
bool encode_png(BITMAP *bitmap, std::string &encoded)
{
    encoded.clear();
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    std::vector<png_byte> row;
    try {
        row.resize(static_cast<std::size_t>(bitmap->w) * 3);
    } catch (const std::bad_alloc &) {
        info = nullptr;
    }
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    // libpng reports its errors by a jump back here; nothing this frame
    // changes after it is read again, and no frame jumped over holds an
    // object of ours.
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        encoded.clear();
        return false;
    }
    png_set_write_fn(png, &encoded, append_png_bytes, flush_nothing);
    png_set_compression_level(png, _png_compression_level);
    png_set_IHDR(png, info, bitmap->w, bitmap->h, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    const int depth = bitmap_color_depth(bitmap);
    for (int y = 0; y < bitmap->h; ++y) {
        png_byte *out = row.data();
        for (int x = 0; x < bitmap->w; ++x) {
            const int pixel = getpixel(bitmap, x, y);
            *out++ = static_cast<png_byte>(getr_depth(depth, pixel));
            *out++ = static_cast<png_byte>(getg_depth(depth, pixel));
            *out++ = static_cast<png_byte>(getb_depth(depth, pixel));
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

} // namespace

void Engine::grab_screen()
{
    BITMAP *shot = create_bitmap(SCREEN_W, SCREEN_H);
    if (!shot) {
        return;
    }
    blit(screen, shot, 0, 0, 0, 0, SCREEN_W, SCREEN_H);
    // Saved as every file we write is (never through a link planted for
    // root, renamed into place whole). A grab is made every pass while the
    // key is held, so it is not synced to the disk each time.
    std::string png;
    const bool encoded = encode_png(shot, png);
    destroy_bitmap(shot);
    if (encoded) {
        replace_file("shot.png", png, Sync::Unsynced);
    }
}

void Engine::draw_one_frame()
{
    // Without an animation mode there is no page to draw into.
    if (!m_target) {
        return;
    }
    m_root_container->draw(m_target);
    m_system_container->draw(m_target);
    if (animation_method == page_flipping) {
        show_video_bitmap(m_target);
        m_page_index = (m_page_index + 1) % 2;
        m_target = m_page_index == 0 ? m_page0 : m_page1;
    } else {
        if (m_vsync) {
            vsync();
        }
        blit(m_target, screen, 0, 0, 0, 0, SCREEN_W, SCREEN_H);
    }
    Engine_frame_counter.fetch_add(1, std::memory_order_relaxed);
}

// ------------------------------------------------------------------- overlay

Engine_Manager::Engine_Manager(Engine *engine) : m_engine(engine)
{
    Keypress_Factory *keys = engine->get_keypress_factory();
    m_fps_key = keys->create_keypress_watcher(KEY_F11);
    m_idle_key = keys->create_keypress_watcher(KEY_F10);
    m_fps_key->set_one_time();
    m_idle_key->set_one_time();
}

Engine_Manager::~Engine_Manager()
{
    delete m_idle_key;
    delete m_fps_key;
}

void Engine_Manager::toggle_flag(bool &flag)
{
    flag = !flag;
}

bool Engine_Manager::update()
{
    bool result = false;
    if (m_fps_key->is_pressed()) {
        toggle_flag(m_show_fps);
        result = true;
    }
    if (m_idle_key->is_pressed()) {
        toggle_flag(m_show_idle);
    }
    return result;
}

void Engine_Manager::draw(BITMAP *target)
{
    int black = makecol(0, 0, 0);
    int white = makecol(255, 255, 255);
    // Text lines stand on an opaque black background.
    int y = 0;
    if (m_show_fps) {
        textprintf_ex(target, font, 0, y, white, black, "FPS: %2d", m_engine->get_frames_per_second());
        y = text_height(font);
    }
    if (m_show_idle) {
        textprintf_ex(target, font, 0, y, white, black, "Idle time: %d", m_engine->get_idle_timer());
    }
}

} // namespace GameEngine

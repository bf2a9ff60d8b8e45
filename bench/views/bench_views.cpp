// The game menu at 800x600x16 with the antialiased DejaVu Sans font:
// one full frame of the horizontal menu (27 rows) over a screen shot, the
// update that scrolls a page (the rows that come in are re-rendered), and
// the preparation of a screen shot from a 640x480 JPEG (load, scale to the
// screen, darken). Each is given in 16.7 ms frames.
#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <allegro.h>

#include "addons/alttf.h"
#include "engine/engine.h"
#include "views/menu.h"
#include "tests/views/jpeg_writer.h"
#include "views/sshot.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr double frame_ns = 1e9 / 60.0;
const char* const font_file = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

double ns_since(Clock::time_point start)
{
    return double(std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count());
}

double mean(const std::vector<double>& v)
{
    double sum = 0;
    for (double x : v)
        sum += x;
    return v.empty() ? 0 : sum / double(v.size());
}

double maximum(const std::vector<double>& v)
{
    return v.empty() ? 0 : *std::max_element(v.begin(), v.end());
}

// Runs the engine loop one cycle per pass without waiting for the tick,
// presses page down every 100 cycles and times the menu's update.
struct Scroll_Driver : GameEngine::Updatable, GameEngine::Background_Task, Marvane::Menu_Listener {
    GameEngine::Engine* engine = nullptr;
    Marvane::Menu_View* menu = nullptr;
    int scrolls_wanted = 0;
    int cycle = 0;
    bool pending = false;
    bool scrolled = false;
    std::vector<double> scroll_ns;

    bool update() override
    {
        // Stands in for the menu in the root container.
        const unsigned first_before = menu->get_first_shown_index();
        scrolled = false;
        const Clock::time_point start = Clock::now();
        menu->update();
        const double ns = ns_since(start);
        if (scrolled && menu->get_first_shown_index() != first_before)
            scroll_ns.push_back(ns);
        pending = false;
        ++cycle;
        key[KEY_PGDN] = cycle % 100 == 0;
        if (int(scroll_ns.size()) >= scrolls_wanted)
            engine->stop();
        return false;
    }
    void selection_changed(unsigned) override { scrolled = true; }
    void item_selected(unsigned) override {}
    void item_visible(unsigned) override {}
    void quit_pressed() override {}
    void next_menu_pressed() override {}
    void previous_menu_pressed() override {}
    void stopped_moving() override {}
    void poll() override
    {
        if (!pending) {
            pending = true;
            ++GameEngine::Engine_cycle_counter;
        }
    }
    void resume() override {}
    void suspend() override {}
};

}  // namespace

int main()
{
    if (allegro_init() != 0) {
        std::fprintf(stderr, "bench_views: no library\n");
        return 1;
    }
    GameEngine::Engine* engine = nullptr;
    try {
        engine = GameEngine::Engine::get_instance();
        engine->set_graphics_mode(800, 600, 16, false);
        engine->set_animation_mode(GameEngine::Engine::double_buffering, false, false);
    } catch (const GameEngine::InitError& e) {
        std::fprintf(stderr, "bench_views: %s\n", e.error_string().c_str());
        return 1;
    }
    remove_int(GameEngine::Engine_cycle_incrementor);

    // The largest size whose rows are at most 20 pixels high (16-pixel text,
    // as in the 27-row menu of a 600-pixel screen); the menu is then made
    // exactly 27 rows high.
    FONT* font = nullptr;
    int points = 24;
    for (; points >= 6 && !font; --points) {
        font = load_ttf_font(font_file, points, TTF_SMOOTH_FULL);
        if (font && text_height(font) > 16) {
            destroy_font(font);
            font = nullptr;
        }
    }
    if (!font) {
        std::fprintf(stderr, "bench_views: cannot load %s\n", font_file);
        return 1;
    }
    ++points;

    char dir_template[] = "/tmp/bench_views.XXXXXX";
    const char* dir = mkdtemp(dir_template);
    if (!dir)
        return 1;
    const std::string shots[2] = {std::string(dir) + "/a.jpg", std::string(dir) + "/b.jpg"};
    for (int i = 0; i < 2; ++i)
        if (!views_test::write_jpeg(shots[i], 640, 480, [i](int x, int y, unsigned char* p) {
                p[0] = (unsigned char)((x * 7 + i * 40) & 255);
                p[1] = (unsigned char)((y * 5 + x * y / 64) & 255);
                p[2] = (unsigned char)(((x ^ y) + i * 90) & 255);
            }, 85))
            return 1;

    Marvane::Screen_Shot shot(engine);
    shot.set_prefer_integer_scaling(false);  // 640x480 is stretched to the whole screen

    // Screen-shot preparation: a new file each time, so each is loaded.
    std::vector<double> prepare_ns;
    for (int i = 0; i < 20; ++i) {
        const Clock::time_point start = Clock::now();
        shot.set_bitmap(shots[i % 2], fix(50), 0);
        prepare_ns.push_back(ns_since(start));
    }

    const char* names[] = {"1942 (Revision B)", "Bomb Jack", "Defender", "Donkey Kong Junior (US)",
                           "Galaga '88", "Gauntlet II", "Moon Patrol", "Ms. Pac-Man", "Q*bert",
                           "Robotron: 2084 (Solid Blue label)", "Street Fighter II': Champion Edition",
                           "Xevious"};
    std::vector<Marvane::Scrollable_Item> items;
    for (int i = 0; i < 3000; ++i)
        items.emplace_back(std::string(names[i % 12]) + " #" + std::to_string(i));
    const int row = text_height(font) + 4;
    const int menu_height = std::min(2 * row + 6 + 27 * row, SCREEN_H);
    Marvane::HMenu_View menu(engine, font, 200, 0, 399, menu_height);
    menu.set_titles("MAME", "Multiple Arcade Machine Emulator");
    menu.set_all_items(items, 0, 0);
    menu.set_page_down_key(KEY_PGDN);
    menu.unhide_all(0);
    menu.update();
    menu.update();

    // One frame: the screen shot, the menu over it, the copy to the window.
    BITMAP* buffer = create_bitmap(SCREEN_W, SCREEN_H);
    std::vector<double> frame_ns_list;
    for (int i = 0; i < 330; ++i) {
        const Clock::time_point start = Clock::now();
        shot.draw(buffer);
        menu.draw(buffer);
        blit(buffer, screen, 0, 0, 0, 0, SCREEN_W, SCREEN_H);
        if (i >= 30)
            frame_ns_list.push_back(ns_since(start));
    }

    // Page scrolls through the real loop and key watchers.
    Scroll_Driver driver;
    driver.engine = engine;
    driver.menu = &menu;
    driver.scrolls_wanted = 30;
    menu.set_listener(&driver);
    engine->set_background_task(&driver);
    engine->get_root_container()->add_updatable(&driver, 400);
    engine->run();
    engine->get_root_container()->remove_updatable(&driver);
    engine->set_background_task(nullptr);
    key[KEY_PGDN] = 0;

    const double frame_share = mean(frame_ns_list) / frame_ns;
    const double scroll_frames = mean(driver.scroll_ns) / frame_ns;
    const double prepare_frames = mean(prepare_ns) / frame_ns;
    std::printf("bench_views: 800x600x16, DejaVu Sans %d points smoothed (text height %d), menu 399x%d with %d "
                "rows\n",
                points, text_height(font), menu_height, (menu_height - 2 * row - 6) / row);
    std::printf("frame (screen shot, menu, copy to window): mean %.3f ms, max %.3f ms over %zu frames\n",
                mean(frame_ns_list) / 1e6, maximum(frame_ns_list) / 1e6, frame_ns_list.size());
    std::printf("page scroll update (26 rows re-rendered): mean %.3f ms, max %.3f ms over %zu scrolls\n",
                mean(driver.scroll_ns) / 1e6, maximum(driver.scroll_ns) / 1e6, driver.scroll_ns.size());
    std::printf("screen shot from a 640x480 JPEG (load, stretch to 800x600, darken to 50%%): mean %.3f ms, "
                "max %.3f ms over %zu\n",
                mean(prepare_ns) / 1e6, maximum(prepare_ns) / 1e6, prepare_ns.size());
    std::printf("GOAL views_frame_share %.4f <= 0.10\n", frame_share);
    std::printf("GOAL views_page_scroll_frames %.4f <= 1\n", scroll_frames);
    std::printf("GOAL views_screenshot_frames %.4f <= 2\n", prepare_frames);

    destroy_bitmap(buffer);
    for (const std::string& file : shots)
        std::remove(file.c_str());
    rmdir(dir);
    menu.set_listener(nullptr);
    return 0;
}

#include "launcher/bgctrl.h"

#include <algorithm>
#include <cstdio>
#include <cctype>
#include <fstream>
#include <memory>

#include "engine/engine.h"
#include "launcher/mp3bg.h"
#include "support/fileutil.h"
#include "support/logfile.h"

namespace Marvane {

void Null_Music_Controller::load_config(Config_File *) {}
void Null_Music_Controller::restore_state(Config_File *) {}
void Null_Music_Controller::save_state(Config_File *) {}
void Null_Music_Controller::skip_to_next_song() {}
void Null_Music_Controller::start_song_over() {}

const char *const MP3_Music_Controller::CONFIG_SECTION = "Main";
const char *const MP3_Music_Controller::CONFIG_MP3_PLAYLIST_FILE = "mp3_playlist_file";
const char *const MP3_Music_Controller::CONFIG_MP3_VOLUME = "mp3_volume";
const char *const MP3_Music_Controller::STATE_SECTION = "Main";
const char *const MP3_Music_Controller::STATE_LAST_MP3_FILE = "last_mp3_file";
const char *const MP3_Music_Controller::STATE_LAST_MP3_POSITION = "last_mp3_position";
const char *const MP3_Music_Controller::STATE_LAST_MP3_FILE_INDEX = "last_mp3_index";

MP3_Music_Controller::MP3_Music_Controller(GameEngine::Engine *engine_)
    : player(MP3_Background::create()), engine(engine_) {
  if (engine)
    engine->set_background_task(player);
}

MP3_Music_Controller::~MP3_Music_Controller() {
  // Nothing polls after the loop, but the engine must not keep a pointer to a
  // deleted player.
  if (engine)
    engine->set_background_task(nullptr);
  delete player;
}

void MP3_Music_Controller::load_config(Config_File *config) {
  std::unique_ptr<Config_Section> section(config->get_section(CONFIG_SECTION));
  const std::string file_name = section->get_string(CONFIG_MP3_PLAYLIST_FILE, "");
  const int volume = std::clamp(section->get_int(CONFIG_MP3_VOLUME, 1000), 0, 1000);
  section.reset();
  read_playlist(file_name, playlist);
  player->set_playlist(playlist);
  player->set_volume(volume);
}

void MP3_Music_Controller::restore_state(Config_File *state) {
  std::unique_ptr<Config_Section> section(state->get_section(STATE_SECTION));
  const std::string name = section->get_string(STATE_LAST_MP3_FILE, "");
  const int position = section->get_int(STATE_LAST_MP3_POSITION, 0);
  const auto index = static_cast<unsigned int>(section->get_int(STATE_LAST_MP3_FILE_INDEX, 0));
  section.reset();
  // The position belongs to the file saved with it: an edited playlist with
  // another file at that index starts from the top.
  if (index < playlist.size() && playlist[index] == name)
    player->seek(index, position);
}

void MP3_Music_Controller::save_state(Config_File *state) {
  const std::string name = player->get_current_mp3_name();
  const int position = player->get_current_position();
  const unsigned int index = player->get_current_mp3_index();
  std::unique_ptr<Config_Section> section(state->get_section(STATE_SECTION));
  section->set_string(STATE_LAST_MP3_FILE, name);
  section->set_int(STATE_LAST_MP3_POSITION, position);
  section->set_int(STATE_LAST_MP3_FILE_INDEX, static_cast<int>(index));
}

void MP3_Music_Controller::skip_to_next_song() {
  player->skip_to_next_song();
}

void MP3_Music_Controller::start_song_over() {
  player->start_song_over();
}

void MP3_Music_Controller::read_playlist(const std::string &file_name, std::vector<std::string> &list) {
  list.clear();
  if (file_name.empty())
    return;
  std::ifstream in(file_name);
  std::string line;
  bool cut = false;
  while (std::getline(in, line)) {
    auto is_blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    auto begin = std::find_if_not(line.begin(), line.end(), is_blank);
    if (begin == line.end() || *begin == '#')
      continue;
    // A NUL ends the name as it would end a C string: no entry may name a
    // file other than the one it opens.
    auto end = std::find_if(begin, line.end(), [&](char c) { return c == '\0' || is_blank(c); });
    if (end == begin)
      continue;
    // Only an entry beyond the last one kept means the list was cut.
    if (list.size() == MAX_PLAYLIST_ENTRIES) {
      cut = true;
      break;
    }
    list.emplace_back(begin, end);
  }
  if (cut && LogFile::vx_log)
    LogFile::vx_log->warning("MP3 playlist is cut after " + std::to_string(MAX_PLAYLIST_ENTRIES) + " files");
  if (LogFile::vx_log) {
    char text[64];
    std::snprintf(text, sizeof text, "MP3 playlist contains %lu files", static_cast<unsigned long>(list.size()));
    LogFile::vx_log->info(text);
  }
}

} // namespace Marvane

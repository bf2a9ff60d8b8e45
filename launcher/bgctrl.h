// Background-music controllers: the launcher's only view of the music.
#ifndef MARVO_LAUNCHER_BGCTRL_H
#define MARVO_LAUNCHER_BGCTRL_H

#include <string>
#include <vector>

class Config_File;

namespace GameEngine {
class Engine;
}

namespace Marvane {

class MP3_Background;

class Background_Music_Controller {
public:
  virtual ~Background_Music_Controller() = default;
  // Reads the settings from the front-end's configuration file.
  virtual void load_config(Config_File *config) = 0;
  // Takes up the state saved in the state file.
  virtual void restore_state(Config_File *state) = 0;
  // Writes the state into the state file.
  virtual void save_state(Config_File *state) = 0;
  virtual void skip_to_next_song() = 0;
  virtual void start_song_over() = 0;
};

// Stands in when background music is switched off: does nothing at all.
class Null_Music_Controller : public Background_Music_Controller {
public:
  ~Null_Music_Controller() override = default;
  void load_config(Config_File *config) override;
  void restore_state(Config_File *state) override;
  void save_state(Config_File *state) override;
  void skip_to_next_song() override;
  void start_song_over() override;
};

// Plays an MP3 playlist through the engine's background task.
class MP3_Music_Controller : public Background_Music_Controller {
public:
  static const char *const CONFIG_SECTION;
  static const char *const CONFIG_MP3_PLAYLIST_FILE;
  static const char *const CONFIG_MP3_VOLUME;
  static const char *const STATE_SECTION;
  static const char *const STATE_LAST_MP3_FILE;
  static const char *const STATE_LAST_MP3_POSITION;
  static const char *const STATE_LAST_MP3_FILE_INDEX;

  // Creates the player and makes it the engine's background task.
  explicit MP3_Music_Controller(GameEngine::Engine *engine);
  ~MP3_Music_Controller() override;
  MP3_Music_Controller(const MP3_Music_Controller &) = delete;
  MP3_Music_Controller &operator=(const MP3_Music_Controller &) = delete;

  void load_config(Config_File *config) override;
  void restore_state(Config_File *state) override;
  void save_state(Config_File *state) override;
  void skip_to_next_song() override;
  void start_song_over() override;

  // Fills list from a playlist file: one entry per line, the first
  // white-space delimited word; blank lines and lines starting with '#' are
  // skipped. An empty name leaves the list empty without a log line.
  void read_playlist(const std::string &file_name, std::vector<std::string> &list);

  const MP3_Background *get_player() const { return player; }
  MP3_Background *get_player() { return player; }
  // The playlist as read by load_config.
  const std::vector<std::string> &get_playlist() const { return playlist; }
  // Most entries a playlist may hold; the rest of a longer file is ignored.
  static constexpr std::size_t MAX_PLAYLIST_ENTRIES = 65536;

private:
  MP3_Background *player;
  std::vector<std::string> playlist;
  GameEngine::Engine *engine; // not owned; given its do-nothing task back at the end
};

} // namespace Marvane

#endif

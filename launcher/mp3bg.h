// The MP3 background player: plays the playlist as the engine's background
// task, one chunk of the current file per poll.
#ifndef MARVO_LAUNCHER_MP3BG_H
#define MARVO_LAUNCHER_MP3BG_H

#include <string>
#include <vector>

#include "engine/engine.h"

struct ALMP3_MP3STREAM;
struct PACKFILE;

namespace Marvane {

class MP3_Background : public GameEngine::Background_Task {
public:
  ~MP3_Background() override = default;
  void poll() override = 0;
  void resume() override = 0;
  void suspend() override = 0;
  virtual void set_playlist(const std::vector<std::string> &playlist) = 0;
  // v on a scale of 0 to 1000.
  virtual void set_volume(int v) = 0;
  // Byte position in the current file.
  virtual int get_current_position() const = 0;
  virtual std::string get_current_mp3_name() const = 0;
  virtual unsigned int get_current_mp3_index() const = 0;
  virtual void seek(unsigned int index, int position) = 0;
  virtual void skip_to_next_song() = 0;
  virtual void start_song_over() = 0;

  // A new stream player; the caller owns it.
  static MP3_Background *create();
};

class MP3_Background_Almp3_Stream : public MP3_Background {
public:
  static constexpr int READ_CHUNK_SIZE = 32768;
  static constexpr int AUDIO_BUFFER_SIZE = 24576;
  static constexpr int PAN_CENTRE = 127;
  static constexpr int SPEED_NORMAL = 1000;

  MP3_Background_Almp3_Stream();
  ~MP3_Background_Almp3_Stream() override;
  MP3_Background_Almp3_Stream(const MP3_Background_Almp3_Stream &) = delete;
  MP3_Background_Almp3_Stream &operator=(const MP3_Background_Almp3_Stream &) = delete;

  void poll() override;
  void resume() override;
  void suspend() override;
  void set_playlist(const std::vector<std::string> &playlist) override;
  void set_volume(int v) override;
  int get_current_position() const override;
  std::string get_current_mp3_name() const override;
  unsigned int get_current_mp3_index() const override;
  void seek(unsigned int index, int position) override;
  void skip_to_next_song() override;
  void start_song_over() override;

  // The volume on Allegro's scale, 0 to 255.
  int get_volume() const { return volume; }
  bool is_suspended() const { return suspended; }

private:
  bool open_current_mp3();
  // Opens the current entry or, failing that, the next ones, until one
  // opens or a full turn of entries could not be played.
  void open_playable_entry();
  // Logs that name cannot be played and counts it.
  void warn_undecodable(const std::string &name);
  void close_current_mp3();
  // Destroys the stream and closes the file, keeping the positions.
  void release_stream();
  void goto_next_mp3();

  std::vector<std::string> playlist;
  unsigned int current_index;
  bool suspended;
  ALMP3_MP3STREAM *stream;
  PACKFILE *file;
  int start_offset;
  int saved_position;
  int volume;
  // Entries in a row that could not be played, since the last one heard.
  std::size_t undecodable_in_a_row;
};

} // namespace Marvane

#endif

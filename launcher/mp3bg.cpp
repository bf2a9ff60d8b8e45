#include "launcher/mp3bg.h"

#include <allegro.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "addons/almp3.h"
#include "support/fileutil.h"
#include "support/logfile.h"

namespace {

// Allegro's own file packfiles trust the size a file had when it was opened:
// reading one that has shrunk since never returns. These read through stdio,
// which simply reads short at the new end.
int music_fclose(void *f) { return std::fclose(static_cast<std::FILE *>(f)); }
int music_getc(void *f) { return std::fgetc(static_cast<std::FILE *>(f)); }
int music_ungetc(int c, void *f) { return std::ungetc(c, static_cast<std::FILE *>(f)); }
long music_fread(void *p, long n, void *f) {
  return n <= 0 ? 0 : static_cast<long>(std::fread(p, 1, static_cast<std::size_t>(n), static_cast<std::FILE *>(f)));
}
int music_putc(int, void *) { return EOF; }
long music_fwrite(const void *, long, void *) { return 0; }
int music_fseek(void *f, int offset) { return std::fseek(static_cast<std::FILE *>(f), offset, SEEK_CUR); }
int music_feof(void *f) { return std::feof(static_cast<std::FILE *>(f)); }
int music_ferror(void *f) { return std::ferror(static_cast<std::FILE *>(f)); }

const PACKFILE_VTABLE music_file_vtable = {music_fclose, music_getc,  music_ungetc, music_fread, music_putc,
                                           music_fwrite, music_fseek, music_feof,   music_ferror};

PACKFILE *open_music_file(const std::string &name) {
  std::FILE *f = std::fopen(name.c_str(), "rb");
  if (!f)
    return nullptr;
  PACKFILE *pf = pack_fopen_vtable(&music_file_vtable, f);
  if (!pf)
    std::fclose(f);
  return pf;
}

} // namespace

namespace Marvane {

MP3_Background *MP3_Background::create() {
  return new MP3_Background_Almp3_Stream();
}

MP3_Background_Almp3_Stream::MP3_Background_Almp3_Stream()
    : current_index(0), suspended(true), stream(nullptr), file(nullptr), start_offset(0), saved_position(0),
      volume(255), undecodable_in_a_row(0) {}

MP3_Background_Almp3_Stream::~MP3_Background_Almp3_Stream() {
  close_current_mp3();
}

void MP3_Background_Almp3_Stream::poll() {
  if (suspended || !stream)
    return;
  if (void *buffer = almp3_get_mp3stream_buffer(stream)) {
    long got = file ? pack_fread(buffer, READ_CHUNK_SIZE, file) : 0;
    if (got < 0)
      got = 0;
    almp3_free_mp3stream_buffer(stream, got == READ_CHUNK_SIZE ? -1 : static_cast<int>(got));
  }
  const int state = almp3_poll_mp3stream(stream);
  if (state == ALMP3_POLL_JUST_FINISHED || state == ALMP3_POLL_NOT_PLAYING) {
    // A file that ends before any of its sound was handed on cannot be
    // played either; an offset at the very end has simply nothing left.
    const std::string name = get_current_mp3_name();
    const bool silent = almp3_get_pos_bytes_mp3stream(stream) == 0 && start_offset < file_size(name);
    suspend();
    close_current_mp3();
    if (silent)
      warn_undecodable(name);
    else
      undecodable_in_a_row = 0;
    goto_next_mp3();
    open_playable_entry();
  }
}

void MP3_Background_Almp3_Stream::resume() {
  if (playlist.empty())
    return;
  if (stream) {
    suspended = false;
    return;
  }
  undecodable_in_a_row = 0;
  open_playable_entry();
}

void MP3_Background_Almp3_Stream::open_playable_entry() {
  // A full turn of entries that failed to open or ended unheard is given up:
  // reopening them would only spin.
  while (undecodable_in_a_row < playlist.size()) {
    if (open_current_mp3()) {
      suspended = false;
      return;
    }
    warn_undecodable(get_current_mp3_name());
    goto_next_mp3();
    start_offset = 0;
  }
}

void MP3_Background_Almp3_Stream::warn_undecodable(const std::string &name) {
  ++undecodable_in_a_row;
  if (LogFile::vx_log)
    LogFile::vx_log->warning("An error occured while opening " + name);
}

void MP3_Background_Almp3_Stream::suspend() {
  if (stream) {
    saved_position = almp3_get_pos_bytes_mp3stream(stream) + start_offset;
    // Only the stream and the file go: the position just kept is what the
    // state file gets, and the start offset is where the next resume opens.
    release_stream();
  }
  suspended = true;
}

void MP3_Background_Almp3_Stream::set_playlist(const std::vector<std::string> &list) {
  playlist = list;
}

void MP3_Background_Almp3_Stream::set_volume(int v) {
  volume = 255 * v / 1000;
  if (stream)
    almp3_adjust_mp3stream(stream, volume, PAN_CENTRE, SPEED_NORMAL);
}

int MP3_Background_Almp3_Stream::get_current_position() const {
  if (!suspended && stream)
    return almp3_get_pos_bytes_mp3stream(stream) + start_offset;
  return saved_position;
}

std::string MP3_Background_Almp3_Stream::get_current_mp3_name() const {
  if (current_index < playlist.size())
    return playlist[current_index];
  return std::string();
}

unsigned int MP3_Background_Almp3_Stream::get_current_mp3_index() const {
  return current_index;
}

void MP3_Background_Almp3_Stream::seek(unsigned int index, int position) {
  const bool was_playing = !suspended;
  if (was_playing)
    suspend();
  close_current_mp3();
  current_index = 0;
  start_offset = 0;
  if (index < playlist.size()) {
    current_index = index;
    start_offset = position;
  }
  if (was_playing)
    resume();
}

void MP3_Background_Almp3_Stream::skip_to_next_song() {
  if (playlist.empty())
    return;
  seek(static_cast<unsigned int>((current_index + 1) % playlist.size()), 0);
}

void MP3_Background_Almp3_Stream::start_song_over() {
  seek(current_index, 0);
}

bool MP3_Background_Almp3_Stream::open_current_mp3() {
  const std::string name = get_current_mp3_name();
  // Directories open like files on this host but hold no music; a negative
  // offset would read before the file.
  const int size = file_size(name);
  if (!file_exists(name) || start_offset < 0 || start_offset > size)
    return false;
  file = open_music_file(name);
  if (!file)
    return false;
  const auto read = [this](unsigned char *to, long n) { return std::max(pack_fread(to, n, file), 0L); };
  pack_fseek(file, start_offset);
  std::array<unsigned char, READ_CHUNK_SIZE> chunk;
  long got = read(chunk.data(), READ_CHUNK_SIZE);
  // An empty file holds nothing to play; an offset at the very end of a file
  // is a song that has just ended, and its stream finishes at once.
  if (got == 0 && start_offset == 0) {
    close_current_mp3();
    return false;
  }
  const auto create = [&] {
    stream = almp3_create_mp3stream(chunk.data(), static_cast<int>(got), got < READ_CHUNK_SIZE ? -1 : 0);
  };
  create();
  // The stream judges a file by its first frames. Where a leading tag (cover
  // pictures) leaves too few of them in the chunk, it asks for more at once;
  // it is then made again from the bytes after the tag, so that the file is
  // judged here and not only once it is playing.
  const int tag = almp3_id3v2_tag_length(chunk.data(), static_cast<int>(got));
  if (stream && tag > 0 && almp3_get_mp3stream_buffer(stream)) {
    almp3_destroy_mp3stream(stream);
    stream = nullptr;
    if (tag >= size - start_offset) {
      close_current_mp3(); // nothing but the tag
      return false;
    }
    if (tag < got) {
      std::memmove(chunk.data(), chunk.data() + tag, static_cast<std::size_t>(got - tag));
      got -= tag;
      got += read(chunk.data() + got, READ_CHUNK_SIZE - got);
    } else {
      pack_fseek(file, static_cast<int>(tag - got));
      got = read(chunk.data(), READ_CHUNK_SIZE);
    }
    start_offset += tag;
    create();
  }
  if (!stream) {
    close_current_mp3();
    return false;
  }
  almp3_play_ex_mp3stream(stream, AUDIO_BUFFER_SIZE, volume, PAN_CENTRE, SPEED_NORMAL);
  return true;
}

void MP3_Background_Almp3_Stream::release_stream() {
  if (stream)
    almp3_destroy_mp3stream(stream);
  if (file)
    pack_fclose(file);
  stream = nullptr;
  file = nullptr;
}

void MP3_Background_Almp3_Stream::close_current_mp3() {
  release_stream();
  saved_position = 0;
  start_offset = 0;
}

void MP3_Background_Almp3_Stream::goto_next_mp3() {
  if (playlist.empty())
    return;
  current_index = static_cast<unsigned int>((current_index + 1) % playlist.size());
}

} // namespace Marvane

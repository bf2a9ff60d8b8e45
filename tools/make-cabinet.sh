#!/bin/sh
# make-cabinet.sh SRC DEST MKASSETS
# Assembles the installation data and the demo cabinet from data/demo and
# pictures, sounds and music made here: marvo.dat, slicker.ttf, screen shots,
# ROM stand-ins and an MP3 playlist of made-up tunes.
set -eu
src=$1 dest=$2 mk=$3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

rm -rf "$dest"
mkdir -p "$dest"
cp -R "$src/config" "$src/emu" "$src/marvo.cfg" "$dest/"

# The menu font: a free font under the name the front-end looks for.
cp /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf "$dest/slicker.ttf"
cp /usr/share/doc/fonts-dejavu-core/copyright "$dest/slicker.ttf.LICENSE"

# marvo.dat: entries are sorted by name, so the names fix the indexes
# 0 next/previous, 3 quit, 4 selection, 5 icon, 6 game; 1 and 2 are spare.
"$mk" blip "$tmp/e0_switch.wav" 300 700 90
"$mk" blip "$tmp/e1_spare.wav" 500 500 60
"$mk" blip "$tmp/e2_spare.wav" 600 600 60
"$mk" blip "$tmp/e3_quit.wav" 700 200 250
"$mk" blip "$tmp/e4_select.wav" 900 1000 35
"$mk" icon "$tmp/e5_icon.bmp"
"$mk" blip "$tmp/e6_game.wav" 400 1200 300
(
  cd "$tmp"
  dat -a -t SAMP marvo.dat e0_switch.wav e1_spare.wav e2_spare.wav e3_quit.wav e4_select.wav e6_game.wav >/dev/null
  dat -a -t BMP -bpp 16 marvo.dat e5_icon.bmp >/dev/null
)
cp "$tmp/marvo.dat" "$dest/marvo.dat"

# Screen shots in every format the menu reads.
while read -r dir rom fmt caption; do
  [ -n "$dir" ] || continue
  mkdir -p "$dest/snaps/$dir"
  seed=$(printf '%s' "$rom" | cksum | cut -d' ' -f1)
  if [ "$fmt" = jpg ]; then
    "$mk" shot "$tmp/$rom.png" 640 480 "$seed" "$caption"
    convert "$tmp/$rom.png" -quality 85 "$dest/snaps/$dir/$rom.jpg"
  else
    "$mk" shot "$dest/snaps/$dir/$rom.$fmt" 320 240 "$seed" "$caption"
  fi
done < "$src/snaps.txt"

# The scanned ROM directory holds empty stand-ins.
mkdir -p "$dest/roms/consoles"
while IFS= read -r f; do
  [ -n "$f" ] && : > "$dest/roms/consoles/$f"
done < "$src/roms.txt"

# Background music.
mkdir -p "$dest/music"
: > "$dest/music/playlist.txt"
echo "# demo playlist: one file per line" >> "$dest/music/playlist.txt"
for n in 1 2 3; do
  "$mk" tune "$tmp/tune$n.wav" "$n" 20
  lame --quiet -b 128 "$tmp/tune$n.wav" "$dest/music/tune$n.mp3"
  echo "music/tune$n.mp3" >> "$dest/music/playlist.txt"
done
mkdir -p "$dest/logs"

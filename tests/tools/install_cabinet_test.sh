#!/bin/sh
# Installs a small built cabinet into folders whose names hold characters
# that text tools interpret, and checks that a second install keeps every
# change the owner made and only fills in what is missing.
set -u
install=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail=0
# A copy past the file-size limit set below fails instead of killing.
trap '' XFSZ
check() {
  if [ "$1" != "$2" ]; then
    printf 'FAIL %s\n  expected: %s\n  got:      %s\n' "$3" "$2" "$1"
    fail=1
  fi
}

built=$work/built
mkdir -p "$built/config" "$built/snaps" "$built/logs"
printf '[Main]\npath_prefix = @CABINET@/\nemulators = Arcade\n' > "$built/marvo.cfg"
printf 'executable = emu\n' > "$built/config/Arcade.cfg"
printf 'shot\n' > "$built/snaps/game1.png"
printf '%01000d\n' 0 > "$built/slicker.ttf"

for name in 'a&b' 'pipe|d' 'back\slash' 'blank d' '-dash'; do
  cab="$work/$name"
  (cd "$work" && "$install" "$built" "$name")
  check "$?" 0 "$name: install"
  check "$(sed -n 2p "$cab/marvo.cfg")" "path_prefix = $cab/" "$name: path prefix"
  check "$(sed -n 3p "$cab/marvo.cfg")" "emulators = Arcade" "$name: the rest of marvo.cfg"
done

# A second install keeps the owner's edits and additions and restores what
# is missing.
cab="$work/a&b"
printf 'executable = myemu\n' > "$cab/config/Arcade.cfg"
printf 'mine\n' > "$cab/snaps/game2.png"
printf 'path_prefix = /elsewhere/\n' > "$cab/marvo.cfg"
rm "$cab/snaps/game1.png"
"$install" "$built" "$cab"
check "$(cat "$cab/config/Arcade.cfg")" "executable = myemu" "edited emulator file kept"
check "$(cat "$cab/snaps/game2.png" 2>/dev/null)" "mine" "added screen shot kept"
check "$(cat "$cab/marvo.cfg")" "path_prefix = /elsewhere/" "owner's marvo.cfg kept"
check "$(cat "$cab/snaps/game1.png" 2>/dev/null)" "shot" "missing file restored"

# A cabinet path with a line break is refused: it would split path_prefix.
"$install" "$built" "$work/line
break" 2> /dev/null
check "$?:$(ls "$work" | grep -c line)" "1:0" "line break refused"

# An install cut short (no file of 512 bytes or more fits) is mended by the
# next one.
cab="$work/cut"
(ulimit -f 1; "$install" "$built" "$cab") 2> /dev/null
"$install" "$built" "$cab"
check "$(cat "$cab/slicker.ttf")" "$(cat "$built/slicker.ttf")" "a cut copy is redone"

[ $fail = 0 ] && echo "install: all cases passed"
exit $fail

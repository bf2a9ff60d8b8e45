#!/bin/sh
# install-cabinet.sh BUILT_CABINET CABINET: installs the demo cabinet made by
# the build into CABINET. Only what is missing is copied: a file that is
# already there (the owner's settings, state, logs, edited emulator files,
# added screen shots) is never overwritten or deleted. A new marvo.cfg gets
# the cabinet's absolute path as its path prefix.
set -eu
src=$1
# Absolute from the start: no name is then read as an option or as "cd -".
case $2 in
  '') echo "usage: install-cabinet.sh BUILT_CABINET CABINET" >&2; exit 2 ;;
  /*) target=$2 ;;
  *) target=$PWD/$2 ;;
esac
case $target in
  *'
'*)
    echo "install-cabinet.sh: the cabinet path holds a line break, which would split its path_prefix line" >&2
    exit 1 ;;
esac
mkdir -p -- "$target"
dest=$(CDPATH= cd -- "$target" && pwd)

# Copy what is missing, file by file, keeping existing files as they are.
# Each file is copied under a temporary name and renamed when whole: an
# install cut short (a full disk) leaves the real name missing, so the next
# install copies it again instead of keeping a cut file.
(cd -- "$src" && find . -type d) | while IFS= read -r d; do
  mkdir -p -- "$dest/$d"
done
(cd -- "$src" && find . ! -type d ! -name marvo.cfg) | while IFS= read -r f; do
  if [ ! -e "$dest/$f" ] && [ ! -L "$dest/$f" ]; then
    rm -f -- "$dest/$f.installing"
    cp -P -- "$src/$f" "$dest/$f.installing"
    mv -f -- "$dest/$f.installing" "$dest/$f"
  fi
done

# The path goes in as plain text: nothing here reads '&', '|' or '\' in it.
if [ ! -e "$dest/marvo.cfg" ]; then
  tmp="$dest/marvo.cfg.new"
  while IFS= read -r line || [ -n "$line" ]; do
    case $line in
      *@CABINET@*) printf '%s%s%s\n' "${line%%@CABINET@*}" "$dest" "${line#*@CABINET@}" ;;
      *) printf '%s\n' "$line" ;;
    esac
  done < "$src/marvo.cfg" > "$tmp"
  mv -- "$tmp" "$dest/marvo.cfg"
fi

#!/bin/sh
# install-cabinet.sh BUILT_CABINET CABINET: installs the demo cabinet made by
# the build into CABINET. Only what is missing is copied: a file that is
# already there (the owner's settings, state, logs, edited emulator files,
# added screen shots) is never overwritten or deleted. A new marvo.cfg gets
# the cabinet's absolute path as its path prefix.
set -eu
src=$1
mkdir -p "$2"
dest=$(CDPATH= cd -- "$2" && pwd)

# Copy what is missing, file by file, keeping existing files as they are.
(cd "$src" && find . -type d) | while IFS= read -r d; do
  mkdir -p "$dest/$d"
done
(cd "$src" && find . ! -type d ! -name marvo.cfg) | while IFS= read -r f; do
  [ -e "$dest/$f" ] || [ -L "$dest/$f" ] || cp -P -- "$src/$f" "$dest/$f"
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

#!/bin/sh
# Stands in for MAME in the generator's tests. It answers the list commands
# from fixture files beside it and records each command line it gets (the
# current directory, then every argument in brackets) in calls.log.
here=$(dirname "$0")
{
    printf '%s|' "$(pwd)"
    for argument in "$@"; do printf '[%s]' "$argument"; done
    printf '\n'
} >> "$here/calls.log"
case "$1" in
    -gamelist) cat "$here/fixture-gamelist.txt" 2>/dev/null ;;
    -listfull) cat "$here/fixture-listfull.txt" 2>/dev/null ;;
    -listinfo) cat "$here/fixture-listinfo.txt" 2>/dev/null ;;
    -verifyroms)
        # fixture-good.txt lists the games whose ROMs check out, one a line.
        if [ "$3" = "-rp" ] && grep -qx -e "$2" "$here/fixture-good.txt" 2>/dev/null; then
            echo "romset $2 is good"
        else
            echo "romset $2 is bad"
        fi ;;
esac
exit 0

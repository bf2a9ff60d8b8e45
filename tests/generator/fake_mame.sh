#!/bin/sh
# Stands in for MAME in the generator's tests, answering as MAME 0.251 does.
# It answers the list commands from fixture files beside it and records each
# command line it gets (the current directory, then every argument in
# brackets) in calls.log.
#
# fixture-listfull.txt  what -listfull prints
# fixture-listinfo.txt  present only to stand in for an older MAME that still
#                       had -listinfo; without it -listinfo is refused
# fixture-verify.txt    one "NAME VERDICT [PARENT]" a line, VERDICT good, best
#                       or bad, for a set that is NAME.zip or a folder NAME
#                       in a folder of the ROM path (folders parted by ";");
#                       any other listed machine has no ROMs
# fixture-delay.txt     seconds each call waits before it answers, as MAME
#                       takes to start (0.065 on a quiet machine); no wait
#                       without it
here=$(dirname "$0")
if [ -f "$here/fixture-delay.txt" ]; then
    read -r delay < "$here/fixture-delay.txt"
    sleep "$delay"
fi
{
    printf '%s|' "$(pwd)"
    for argument in "$@"; do printf '[%s]' "$argument"; done
    printf '\n'
} >> "$here/calls.log"
refuse() {
    echo "Error: unknown option: $1" >&2
    exit 6
}
case "$1" in
    -listfull)
        cat "$here/fixture-listfull.txt" 2>/dev/null
        exit 0 ;;
    -listinfo)
        [ -f "$here/fixture-listinfo.txt" ] || refuse "$1"
        cat "$here/fixture-listinfo.txt"
        exit 0 ;;
    -verifyroms)
        [ "$3" = "-rp" ] || refuse "$3"
        found=
        rest="$4;"
        while [ -n "$rest" ]; do
            folder=${rest%%;*}
            rest=${rest#*;}
            { [ -f "$folder/$2.zip" ] || [ -d "$folder/$2" ]; } && found=1
        done
        verdict=
        [ -n "$found" ] && verdict=$(awk -v name="$2" '$1 == name { print $2, $3; exit }' \
            "$here/fixture-verify.txt" 2>/dev/null)
        set -- "$2" $verdict
        if [ -z "$2" ]; then
            if awk -v name="$1" 'NR > 1 && $1 == name { found = 1 } END { exit !found }' \
                "$here/fixture-listfull.txt"; then
                echo "romset \"$1\" not found!" >&2
                exit 2
            fi
            echo "No matching systems found for '$1'" >&2
            exit 5
        fi
        set_name="$1"
        [ -n "$3" ] && set_name="$1 [$3]"
        rom=$(printf '%-12s: %s' "$1" "$1")
        case "$2" in
            good)
                echo "romset $set_name is good"
                echo "1 romsets found, 1 were OK."
                exit 0 ;;
            best)
                echo "$rom.u1 (16384 bytes) - NEEDS REDUMP"
                echo "romset $set_name is best available"
                echo "1 romsets found, 1 were OK."
                exit 0 ;;
            *)
                echo "$rom.u1 (16384 bytes) - NOT FOUND - NO GOOD DUMP KNOWN"
                echo "$rom.u2 (524288 bytes) - NOT FOUND"
                echo "romset $set_name is bad"
                echo "1 romsets found, 0 were OK." >&2
                exit 2 ;;
        esac ;;
esac
refuse "$1"

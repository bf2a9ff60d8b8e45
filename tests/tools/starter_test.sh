#!/bin/sh
# Drives the starter with a stand-in front-end that hands over batch files
# holding hostile file names, and checks that each reaches the emulator as
# one word and that nothing else runs.
set -u
starter=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
mkdir -p "emu dir" logs
fail=0
# A starter that ends early must fail the checks, not kill this script; a
# write past the file-size limit set below fails instead of killing.
trap "" PIPE XFSZ

cat > emu.sh <<'EMU'
#!/bin/sh
printf '[%s]\n' "$@" >> "$(dirname "$0")/../got"
EMU
chmod +x emu.sh
cp emu.sh "emu dir/emu.sh"

# The stand-in front-end: the first call writes runit.bat, the second quits.
cat > frontend.sh <<'FE'
#!/bin/sh
printf '%s %s\n' "$1" "$2" >> args
if [ ! -f handed ]; then
  : > handed
  ln -f batch runit.bat
  exit "${HANDOVER_CODE:-0}"
fi
exit 2
FE
chmod +x frontend.sh

check() {
  if [ "$1" != "$2" ]; then
    printf 'FAIL %s\n  expected: %s\n  got:      %s\n' "$3" "$2" "$1"
    fail=1
  fi
}

run_case() {
  name=$1 rom=$2 quoted=$3 dir=${4:-"\"$work/emu dir\""}
  rm -f handed got pwned args runit.bat
  {
    printf '@echo off\n'
    printf 'echo Will run: "$(touch pwned) \\0047 `touch pwned`"\n'
    printf 'cd %s\n' "$dir"
    printf './emu.sh %s > %s/logs/runit.log\n' "$quoted" "$work"
    printf 'cd %s\n' "$work"
  } > batch
  # No file of 512 bytes or more can be written whole.
  (ulimit -f 1; MARVO_FRONTEND=./frontend.sh "$starter") > out 2>&1
  code=$?
  check "$code" 0 "$name: exit code"
  check "$(cat got 2>/dev/null)" "[$rom]" "$name: word handed to the emulator"
  check "$(test -e pwned && echo yes || echo no)" no "$name: no injected command ran"
  check "$(sed -n 1p args)" "0x6D61 0x766F" "$name: argument pair"
  check "$(grep -c Will out)" 1 "$name: the echo line is shown"
}

run_case plain "pacman" "pacman"
run_case blanks "My Roms/pac man.zip" '"My Roms/pac man.zip"'
run_case semicolon "a;touch pwned.zip" "'a;touch pwned.zip'"
run_case subst '$(touch pwned).zip' "'\$(touch pwned).zip'"
run_case quote "x'y.zip" "'x'\\''y.zip'"
run_case backslash 'x\0047;touch pwned;\0047.zip' "'x\\0047;touch pwned;\\0047.zip'"
run_case cut 'a\cb.zip' "'a\\cb.zip'"
# The whole script runs, or none of it.
long=$(printf '%0480d' 0)
run_case long "$long" "$long"
# A folder name's lines are the name's, whatever they look like.
nl='
'
odd="emu${nl}echo Will run: \"\$(touch pwned)\"${nl}pause${nl}${nl}@echo on"
mkdir "$odd" && cp emu.sh "$odd/emu.sh"
run_case linebreak pacman pacman "'$work/$odd'"
cr=$(printf '\r')
mkdir "emu$cr${nl}dir" && cp emu.sh "emu$cr${nl}dir/emu.sh"
run_case crlf "a$cr${nl}b" "'a$cr${nl}b'" "'$work/emu$cr${nl}dir'"

# Pre- and post-commands run exactly as written, whatever their first word:
# only the lines the front-end writes itself are translated. In debug mode
# each "pause" waits for Enter on the starter's input.
announce() {
  printf 'echo Will run: "%s"\npause\n%s\n' "$1" "$1"
}
prepost_case() {
  mode=$1
  rm -rf handed got args runit.bat pre.out sub out fifo
  mkdir sub
  pre='echo pre > pre.out'
  post='cd sub && echo post > post.out'
  if [ "$mode" = debug ]; then
    {
      printf '@echo on\n'
      announce "$pre"
      printf 'cd "%s/emu dir"\n' "$work"
      announce './emu.sh game'
      printf 'cd %s\n' "$work"
      announce "$post"
      printf 'pause\n'
    } > batch
    mkfifo fifo
    HANDOVER_CODE=1 MARVO_FRONTEND=./frontend.sh "$starter" < fifo > out 2>&1 &
    exec 3> fifo
    n=0
    until grep -q 'Press Enter' out || [ $n -ge 100 ]; do sleep 0.1; n=$((n + 1)); done
    sleep 0.5
    check "$(test -e pre.out && echo ran || echo waits)" waits "$mode: pause waits for Enter"
    printf '\n\n\n\n' >&3
    exec 3>&-
    wait $!
    code=$?
    check "$(grep -o 'Press Enter' out | wc -l)" 4 "$mode: every pause asks for Enter"
    check "$(grep -cx 'Will run: "echo pre > pre.out"' out)" 1 "$mode: the announcement is shown literally"
  else
    printf '@echo off\n%s\ncd "%s/emu dir"\n./emu.sh game > %s/logs/runit.log\ncd %s\n%s\n' \
      "$pre" "$work" "$work" "$work" "$post" > batch
    MARVO_FRONTEND=./frontend.sh "$starter" > out 2>&1
    code=$?
  fi
  check "$code" 0 "$mode: exit code"
  check "$(cat got 2>/dev/null)" "[game]" "$mode: the emulator ran"
  check "$(cat pre.out 2>/dev/null)" pre "$mode: an echo pre-command is a command"
  check "$(cat sub/post.out 2>/dev/null)" post "$mode: a cd post-command runs as written"
}
prepost_case normal
prepost_case debug

# Exit codes 3 and 4 end the starter with the same code.
for code in 3 4; do
  printf '#!/bin/sh\nexit %s\n' "$code" > frontend.sh
  MARVO_FRONTEND=./frontend.sh "$starter" > /dev/null 2>&1
  check "$?" "$code" "front-end exit $code"
done

# Root does not run another user's cabinet: the front-end never starts and
# nothing of a planted runit.bat runs.
if [ "$(id -u)" = 0 ]; then
  rm -f args pwned handed
  printf 'touch pwned\n' > runit.bat
  printf '#!/bin/sh\necho started >> args\n[ -e handed ] && exit 2\n: > handed\n' > frontend.sh
  chown 65534 .
  MARVO_FRONTEND=./frontend.sh "$starter" > out 2>&1
  check "$?" 3 "root in a user's cabinet: exit code"
  chown 0 .
  check "$(ls args pwned 2>/dev/null)" "" "root in a user's cabinet: nothing ran"
  check "$(grep -c 'belongs to nobody, not root.*runuser -u nobody' out)" 1 "root in a user's cabinet: the owner is named"
fi

[ $fail = 0 ] && echo "starter: all cases passed"
exit $fail

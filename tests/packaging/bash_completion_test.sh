#!/usr/bin/env bash
# The bash completion for tarnlink-cli, run in a bash of its own against the tarnlink-cli of
# this build: commands, each command's options (the same set its --help names), files, and
# the ports of a fake sysfs tree for --port.
#
#   bash_completion_test.sh CLI COMPLETION FAKE_SYSFS
set -euo pipefail

cli=$1 completion=$2 sysfs=$3
export PATH="$(dirname "$cli"):/usr/bin:/bin" TARNLINK_SYSFS_ROOT=$sysfs
# shellcheck source=/dev/null
source "$completion"
failures=0

# The completions bash would offer for the words given; the last word is being completed.
complete_words() {
  COMP_WORDS=("$@")
  COMP_CWORD=$(($# - 1))
  COMPREPLY=()
  _tarnlink_cli
  ((${#COMPREPLY[@]} == 0)) || printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | tr '\n' ' '
}

expect() {
  local got
  got=$(complete_words "${@:2}")
  if [[ $got != "$1" ]]; then
    echo "FAIL: '${*:2}': expected '$1', got '$got'" >&2
    failures=$((failures + 1))
  fi
}

expect "crypt doctor load ports verify " tarnlink-cli ""
expect "doctor " tarnlink-cli do
expect "--help --version -V -h " tarnlink-cli -
expect "/dev/ttyACM0 /dev/ttyS0 /dev/ttyS10 /dev/ttyUSB0 /dev/ttyUSB1 all auto " \
  tarnlink-cli load image.bin --port ""
expect "/dev/ttyUSB0 /dev/ttyUSB1 " tarnlink-cli doctor -p /dev/ttyU
expect "all auto " tarnlink-cli load image.bin --port a
expect "" tarnlink-cli doctor --port a
expect "--no-reset-verify " tarnlink-cli load --no
expect "--udev-rule " tarnlink-cli doctor --ud
expect "ihex " tarnlink-cli verify fw.hex --format i
expect "all auto " tarnlink-cli verify image.bin --port a
expect "" tarnlink-cli load fw.s19 --base 0

# Files for IMAGE, OUTPUT and --trace.
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
touch "$dir/firmware.bin"
expect "$dir/firmware.bin " tarnlink-cli load "$dir/fir"
expect "$dir/firmware.bin " tarnlink-cli crypt "$dir/fir"
expect "$dir/firmware.bin " tarnlink-cli verify "$dir/fir"
expect "$dir/firmware.bin " tarnlink-cli load x --port /dev/ttyUSB0 --trace "$dir/fir"
expect "$dir/firmware.bin " tarnlink-cli load x --port all --record "$dir/fir"
expect "" tarnlink-cli ports "$dir/fir"

# Every option a command's --help names, and no other, is offered after "-".
for command in load verify crypt ports doctor; do
  want=$("$cli" "$command" --help | grep -oE '^ +(-[a-zA-Z],)?--[a-z-]+' | tr -d ' ' |
    tr ',' '\n' | LC_ALL=C sort | tr '\n' ' ')
  expect "$want" tarnlink-cli "$command" -
done

((failures == 0)) || exit 1
echo "bash completion: all cases pass"

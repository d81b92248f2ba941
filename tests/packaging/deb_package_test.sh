#!/usr/bin/env bash
# Builds the .deb from this build folder with CPack, unpacks it into a temporary folder and
# checks what it holds: exactly the files an installation needs, programs that run, manual
# pages that cover every option and render cleanly, the udev rule and the completion as
# they are in the source, and Depends that name the Qt 6 libraries.
#
#   deb_package_test.sh BUILD_DIR SOURCE_DIR VERSION
set -euo pipefail

build=$1 source=$2 version=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

(cd "$build" && cpack -G DEB -B "$work/cpack" >"$work/cpack.log" 2>&1) || {
  cat "$work/cpack.log" >&2
  exit 1
}
arch=$(dpkg --print-architecture)
deb="$work/cpack/tarnlink_${version}_${arch}.deb"
[[ -f $deb ]] || { ls "$work/cpack" >&2; echo "FAIL: no $deb" >&2; exit 1; }
root="$work/root"
dpkg-deb -x "$deb" "$root"

# Exactly these files, nothing more (no libraries, tests or headers slipped in).
expected="usr/bin/tarnlink
usr/bin/tarnlink-cli
usr/bin/tarnlink-sim
usr/lib/udev/rules.d/60-tarnlink.rules
usr/share/applications/tarnlink.desktop
usr/share/bash-completion/completions/tarnlink-cli
usr/share/doc/tarnlink/changelog.gz
usr/share/doc/tarnlink/copyright
usr/share/icons/hicolor/128x128/apps/tarnlink.png
usr/share/icons/hicolor/16x16/apps/tarnlink.png
usr/share/icons/hicolor/256x256/apps/tarnlink.png
usr/share/icons/hicolor/32x32/apps/tarnlink.png
usr/share/icons/hicolor/48x48/apps/tarnlink.png
usr/share/icons/hicolor/64x64/apps/tarnlink.png
usr/share/icons/hicolor/scalable/apps/tarnlink.svg
usr/share/man/man1/tarnlink-cli.1.gz
usr/share/man/man1/tarnlink-sim.1.gz
usr/share/man/man1/tarnlink.1.gz"
actual=$(cd "$root" && find . -type f -o -type l | sed 's|^\./||' | LC_ALL=C sort)
[[ $actual == "$expected" ]] || fail "files differ:
$(diff <(echo "$expected") <(echo "$actual"))"

# Control fields.
field() { dpkg-deb -f "$deb" "$1"; }
[[ $(field Package) == tarnlink ]] || fail "Package: $(field Package)"
[[ $(field Version) == "$version" ]] || fail "Version: $(field Version)"
[[ $(field Architecture) == "$arch" ]] || fail "Architecture: $(field Architecture)"
for lib in libqt6widgets6 libqt6gui6 libqt6core6 libstdc++6 libc6; do
  [[ $(field Depends) == *"$lib ("* ]] || fail "Depends lacks $lib: $(field Depends)"
done

# The programs run from where the package puts them; the dialog answers without a display.
for program in tarnlink tarnlink-cli tarnlink-sim; do
  [[ -x $root/usr/bin/$program ]] || fail "$program is not executable"
  out=$(env -i PATH=/usr/bin:/bin "$root/usr/bin/$program" --version) || fail "$program --version"
  [[ $out == "$program $version" ]] || fail "$program --version said '$out'"
done

# Files kept once in the source arrive unchanged.
cmp -s "$source/packaging/linux/60-tarnlink.rules" "$root/usr/lib/udev/rules.d/60-tarnlink.rules" ||
  fail "the udev rule differs from the source"
cmp -s "$source/packaging/linux/tarnlink-cli.bash-completion" \
  "$root/usr/share/bash-completion/completions/tarnlink-cli" || fail "the completion differs"
cmp -s "$source/ui/qt/tarnlink.desktop" "$root/usr/share/applications/tarnlink.desktop" ||
  fail "the desktop entry differs"
zcat "$root/usr/share/doc/tarnlink/changelog.gz" | head -1 | grep -q "^tarnlink ($version) " ||
  fail "the changelog does not start with this version"

# Manual pages: render without a warning, and name every command and option the program has.
for page in "$root"/usr/share/man/man1/*.1.gz; do
  warnings=$(zcat "$page" | groff -man -ww -z -Tutf8 2>&1) || fail "groff on $page"
  [[ -z $warnings ]] || fail "$(basename "$page"): $warnings"
done
text=$(zcat "$root/usr/share/man/man1/tarnlink-cli.1.gz")
cli="$root/usr/bin/tarnlink-cli"
for command in load crypt ports doctor; do
  [[ $text == *"tarnlink\\-cli $command"* ]] || fail "tarnlink-cli(1) lacks the command $command"
  for option in $(env -i "$cli" "$command" --help | grep -oE '^ +(-[a-zA-Z],)?--[a-z-]+' |
    sed 's/.*--//'); do
    [[ $text == *"\\-\\-${option//-/\\-}"* ]] || fail "tarnlink-cli(1) lacks $command --$option"
  done
done
for option in $(env -i "$root/usr/bin/tarnlink-sim" --help | grep -oE '^ +--[a-z-]+'); do
  zcat "$root/usr/share/man/man1/tarnlink-sim.1.gz" | grep -qF -- "${option//-/\\-}" ||
    fail "tarnlink-sim(1) lacks $option"
done
zcat "$root/usr/share/man/man1/tarnlink.1.gz" | grep -q '^\.SH DESCRIPTION' ||
  fail "tarnlink(1) has no description"

((failures == 0)) || exit 1
echo "deb package: $(basename "$deb") holds what it should"

#!/usr/bin/env bash
# Builds the Windows zip from this (cross) build folder with CPack, unpacks it and checks
# what a user receives: exactly the two programs and README.txt in one folder named after
# the version, programs stripped that need no DLL beyond Windows' own, that run (under
# Wine here) and tell the version, and a README.txt with Windows line ends.
#
#   zip_package_test.sh BUILD_DIR VERSION WINE_RUN WINE_PREFIX
set -euo pipefail

build=$1 version=$2 wine_run=$3 prefix=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

(cd "$build" && cpack -G ZIP -B "$work/cpack" >"$work/cpack.log" 2>&1) || {
  cat "$work/cpack.log" >&2
  exit 1
}
folder="tarnlink-$version-win64"
zip="$work/cpack/$folder.zip"
[[ -f $zip ]] || { ls "$work/cpack" >&2; echo "FAIL: no $zip" >&2; exit 1; }
python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' \
  "$zip" "$work/root"
root="$work/root/$folder"

expected="$folder/README.txt
$folder/tarnlink-cli.exe
$folder/tarnlink.exe"
actual=$(cd "$work/root" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
[[ $actual == "$expected" ]] || fail "files differ:
$(diff <(echo "$expected") <(echo "$actual"))"

# The runtime is linked in: a program that needs libstdc++-6.dll or libwinpthread-1.dll
# does not start on a machine without MinGW.
system_dlls='^(kernel32|user32|gdi32|comctl32|comdlg32|advapi32|setupapi|shell32|ole32|msvcrt|ws2_32|api-ms-win-[a-z0-9-]+)\.dll$'
for program in tarnlink tarnlink-cli; do
  exe="$root/$program.exe"
  [[ -f $exe ]] || continue
  [[ $(x86_64-w64-mingw32-objdump -f "$exe") == *'file format pei-x86-64'* ]] ||
    fail "$program.exe is not a 64-bit Windows program"
  [[ $(x86_64-w64-mingw32-objdump -h "$exe") != *.debug_* ]] || fail "$program.exe is not stripped"
  headers=$(x86_64-w64-mingw32-objdump -p "$exe")
  while read -r dll; do
    [[ ${dll,,} =~ $system_dlls ]] || fail "$program.exe needs $dll"
  done < <(sed -n 's/^\s*DLL Name: //p' <<<"$headers")
  # The dialog is a GUI program, the command line a console program.
  subsystem=$([[ $program == tarnlink ]] && echo 'Windows GUI' || echo 'Windows CUI')
  [[ $headers == *"($subsystem)"* ]] || fail "$program.exe is not a $subsystem program"
done

# The command line runs from the unpacked folder and knows its version.
if [[ -f $root/tarnlink-cli.exe ]]; then
  out=$("$wine_run" "$prefix" "$root/tarnlink-cli.exe" --version 2>&1) ||
    fail "tarnlink-cli.exe --version failed: $out"
  [[ $out == *"$version"* ]] || fail "tarnlink-cli.exe --version says: $out"
fi

readme="$root/README.txt"
if [[ -f $readme ]]; then
  lines=$(wc -l <"$readme")
  crlf=$(grep -c $'\r$' "$readme" || true)
  ((lines > 20 && crlf == lines)) || fail "README.txt: $crlf of $lines lines end in CR LF"
  grep -q "Tarnlink $version" "$readme" || fail "README.txt does not name version $version"
  grep -q 'tarnlink-cli load firmware.bin --port COM3' "$readme" ||
    fail "README.txt lacks the command line's quick start"
fi

((failures == 0)) || exit 1
echo "zip_package_test: $zip holds what it should"

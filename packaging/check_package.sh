#!/usr/bin/env bash
# Checks a built Debian package of plantscatter from the outside, as a user would meet it:
# what it installs, what it declares it depends on, and that what it carries works once
# unpacked away from the build tree.
#
#   packaging/check_package.sh PACKAGE.deb MAP.png
#
# MAP.png is a plant map with pixels of key colours 1 and 7 (examples/hillside.png).
# Needs dpkg-deb, dpkg, readelf, desktop-file-validate and groff; no display, no root.
# Prints one line per check and exits 1 if any failed.
set -euo pipefail

if [ $# -ne 2 ]; then
  echo "usage: $0 PACKAGE.deb MAP.png" >&2
  exit 2
fi
deb=$1 map=$2
failed=0
pass() { printf 'ok    %s\n' "$*"; }
fail() {
  printf 'FAIL  %s\n' "$*"
  failed=$((failed + 1))
}
check() {  # check DESCRIPTION COMMAND...: passes when the command succeeds
  local what=$1
  shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}

scratch=$(mktemp -d "${TMPDIR:-/tmp}/plantscatter-package.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

printf '%s\n' "$(basename "$deb"): $(dpkg-deb -f "$deb" Package) $(dpkg-deb -f "$deb" Version)"

# The file list: each installed file with its permissions.
listing=$(dpkg-deb -c "$deb" | awk '{ print $1, $6 }')
has_file() { grep -qxF -- "$1 $2" <<<"$listing"; }
for program in plantscatter plantscatter-cli; do
  check "executable ./usr/bin/$program" has_file -rwxr-xr-x "./usr/bin/$program"
done
for file in applications/plantscatter.desktop man/man1/plantscatter-cli.1.gz; do
  check "file ./usr/share/$file" has_file -rw-r--r-- "./usr/share/$file"
done

root=$scratch/root
dpkg-deb -x "$deb" "$root"
cli=$root/usr/bin/plantscatter-cli

# Depends must name the package of every library the programs load by name (their NEEDED
# entries), as the system resolves it; that includes the Qt 6 widgets library and libpng.
depends=$(dpkg-deb -f "$deb" Depends)
printf 'Depends: %s\n' "$depends"
declared=$(tr ',|' '\n' <<<"$depends" | sed 's/(.*//; s/[[:space:]]//g; /^$/d')
owner() {  # the package that holds a library file; /lib and /usr/lib are the same place
  local path=$1 candidate
  [ -n "$path" ] || return 0
  for candidate in "$path" "$(readlink -f "$path")" "/usr${path#/usr}" "${path#/usr}"; do
    dpkg -S "$candidate" 2>/dev/null | grep -v '^diversion' | head -n 1 | cut -d: -f1 && return
  done
  return 0
}
resolves_all() { ! grep -q 'not found' <<<"$1"; }
# A run path would make the installed program look for libraries where it was built.
has_no_run_path() { ! readelf -d "$1" | grep -qE '\((RPATH|RUNPATH)\)'; }
owners=()
for program in plantscatter plantscatter-cli; do
  binary=$root/usr/bin/$program
  resolved=$(ldd "$binary" 2>&1) || true
  check "$program: the system resolves every library it loads" resolves_all "$resolved"
  for lib in $(readelf -d "$binary" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
    path=$(awk -v lib="$lib" '$1 == lib && $2 == "=>" { print $3 }' <<<"$resolved")
    pkg=$(owner "$path")
    printf '      %s needs %s: %s from package %s\n' "$program" "$lib" "${path:-?}" "${pkg:-?}"
    owners+=("${pkg:-the package of $lib}")
  done
  check "$program has no RPATH or RUNPATH" has_no_run_path "$binary"
done
needed_owners=$(printf '%s\n' "${owners[@]}" | sort -u)
while read -r pkg; do
  check "Depends names $pkg" grep -qxF -- "$pkg" <<<"$declared"
done <<<"$needed_owners"
for pkg in $declared; do
  grep -qxF -- "$pkg" <<<"$needed_owners" || fail "Depends names $pkg, which no program needs"
done
qt_widgets=$(owner "$(ldd "$root/usr/bin/plantscatter" | awk '$1 == "libQt6Widgets.so.6" { print $3 }')")
png=$(owner "$(ldd "$cli" | awk '$1 == "libpng16.so.16" { print $3 }')")
check "Depends names the Qt 6 widgets library's package (${qt_widgets:-not needed})" \
  grep -qxF -- "${qt_widgets:-?}" <<<"$declared"
check "Depends names libpng's package (${png:-not needed})" grep -qxF -- "${png:-?}" <<<"$declared"

# The command-line tool as unpacked: its help, and a run on a copy of the example map.
help=$("$cli" --help) && status=0 || status=$?
check "plantscatter-cli --help exits 0 (got $status)" test "$status" -eq 0
check "plantscatter-cli --help shows the usage" grep -q '^Usage: plantscatter-cli ' <<<"$help"
work=$scratch/work
mkdir "$work"
cp "$map" "$work/map.png"
(cd "$work" && "$cli" map.png --count 1=40 --count 7=200 --seed 1 --quiet) && status=0 || status=$?
check "plantscatter-cli processes the example map (exit $status)" test "$status" -eq 0
export_file=$work/map_export.inc
check "the export lies beside the map as map_export.inc" test -s "$export_file"
if [ -s "$export_file" ]; then
  check "the export declares the copied map" \
    grep -qxF "#declare plant_map = \"$work/map.png\"$(printf '\r')" "$export_file"
  check "the export declares 240 plants" \
    grep -qxF "#declare plant_count = 240 ;$(printf '\r')" "$export_file"
fi

# The desktop entry: valid, and it starts a program the package installs.
entry=$root/usr/share/applications/plantscatter.desktop
if [ -f "$entry" ]; then
  report=$(desktop-file-validate "$entry" 2>&1) && status=0 || status=$?
  check "desktop-file-validate accepts the entry without remarks" \
    test "$status" -eq 0 -a -z "$report"
  [ -z "$report" ] || printf '%s\n' "$report"
  exec_program=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$entry")
  check "the entry's Exec ($exec_program) is installed in /usr/bin" \
    test -n "$exec_program" -a -x "$root/usr/bin/$exec_program"
fi

# The manual page: groff renders it with every warning on and says nothing, and it
# documents every option that --help lists.
page=$root/usr/share/man/man1/plantscatter-cli.1.gz
if [ -f "$page" ]; then
  warnings=$(gzip -dc "$page" | groff -man -Tutf8 -ww -z 2>&1) && status=0 || status=$?
  check "groff renders the manual page without warnings" test "$status" -eq 0 -a -z "$warnings"
  [ -z "$warnings" ] || printf '%s\n' "$warnings"
  text=$(gzip -dc "$page" | groff -man -Tascii -P-cbou 2>/dev/null) || true
  for option in $(grep -oE -- '(^|[ ,])--?[a-z][a-z-]*' <<<"$help" | tr -d ' ,' | sort -u); do
    # An option's entry starts at the left margin of the body: "-c, --count TYPE=N".
    check "the manual page has an entry for $option" \
      grep -qE -- "^ {7}(-[a-z], )?$option([ ,]|\$)" <<<"$text"
  done
fi

if ((failed)); then
  printf '%d package checks failed\n' "$failed"
  exit 1
fi
printf 'every package check passed\n'

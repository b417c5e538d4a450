#!/usr/bin/env bash
# Runs a command with the process locale set to LOCALE (such as de_DE.UTF-8),
# made with localedef into LOCALE_DIR when the system has not installed it.
# Usage: scripts/with-locale.sh LOCALE LOCALE_DIR COMMAND [ARG...]
# Exits 77 (a skipped test) with a message when no locale data exists to make
# it from; otherwise with the command's status.
set -euo pipefail
[ $# -ge 3 ] || { echo "usage: $0 LOCALE LOCALE_DIR COMMAND [ARG...]" >&2; exit 2; }
locale_name=$1
locale_dir=$2
shift 2

language=${locale_name%%.*}
charmap=${locale_name#*.}
[ "$charmap" != "$locale_name" ] || charmap=UTF-8

make_locale() {
  [ -f "$locale_dir/$locale_name/LC_CTYPE" ] && return 0
  if ! command -v localedef >/dev/null 2>&1 || [ ! -e "/usr/share/i18n/locales/$language" ]; then
    echo "skipped: no locale data to make $locale_name (install the locales package)" >&2
    return 77
  fi
  # Made aside and moved in, so that a test never sees half a locale.
  local work
  work=$(mktemp -d "$locale_dir/.make.XXXXXX")
  # localedef answers 1 for mere warnings; the locale is usable when its files are there.
  localedef -c -i "$language" -f "$charmap" "$work/$locale_name" >/dev/null 2>&1 || true
  if [ ! -f "$work/$locale_name/LC_CTYPE" ]; then
    rm -rf "$work"
    echo "skipped: localedef could not make $locale_name" >&2
    return 77
  fi
  mv -T "$work/$locale_name" "$locale_dir/$locale_name"
  rm -rf "$work"
}

mkdir -p "$locale_dir"
# Tests started at the same time make each locale once: the others wait here.
status=0
{
  flock 9
  make_locale || status=$?
} 9>"$locale_dir/.lock"
[ "$status" -eq 0 ] || exit "$status"

# The core test programs read TV_TEST_LOCALE, switch their process to it and
# fail when they cannot.
exec env LOCPATH="$locale_dir" LANG="$locale_name" LC_ALL="$locale_name" TV_TEST_LOCALE="$locale_name" "$@"

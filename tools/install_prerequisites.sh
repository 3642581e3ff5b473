#!/usr/bin/env bash
# Installs what the builds and tests need on Debian 12, only where it is
# missing: host compiler and GoogleTest, clang with its sanitizer and
# libFuzzer runtimes, mingw-w64 for 32-bit Windows, Wine with its 32-bit part,
# Xvfb, and the ja_JP.UTF-8 locale that the double-byte Wine scenario runs
# under. Needs root (or sudo) when anything is missing.
#
# A mirror in mid-sync is common: one package list may fail to download
# ("File has unexpected size ... Mirror sync in progress?"). Then the update is
# reported and the install is tried anyway. Where the install cannot resolve
# (the amd64 libraries come from a suite whose i386 list is missing, so their
# i386 twins have no matching version), it is tried once more with the
# release pinned, so that both architectures take the same suite's versions.
set -euo pipefail

missing=()
need_cmd() { command -v "$1" >/dev/null 2>&1 || missing+=("$2"); }
need_pkg() { dpkg -s "$1" >/dev/null 2>&1 || missing+=("$1"); }

need_cmd cmake cmake
need_cmd g++ g++
need_cmd clang++ clang
need_pkg libclang-rt-14-dev
need_cmd make make
need_cmd python3 python3
need_cmd i686-w64-mingw32-g++ g++-mingw-w64-i686
# The posix thread model, for the Win32 build of mediacheck.
need_cmd i686-w64-mingw32-g++-posix g++-mingw-w64-i686-posix
need_cmd i686-w64-mingw32-windres binutils-mingw-w64-i686
need_cmd Xvfb xvfb
need_cmd xdpyinfo x11-utils
need_cmd import imagemagick
need_cmd localedef locales
need_pkg libgtest-dev
need_pkg libgmock-dev
need_pkg wine
need_pkg wine32:i386

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi

# The Japanese locale: without it Wine cannot name a file past ASCII under
# LANG=ja_JP.UTF-8.
have_ja_locale() { locale -a 2>/dev/null | grep -qix 'ja_JP\.utf-\?8'; }
make_ja_locale() {
  have_ja_locale && return 0
  echo "Generating the ja_JP.UTF-8 locale"
  if ! $sudo localedef -i ja_JP -c -f UTF-8 -A /usr/share/locale/locale.alias \
    ja_JP.UTF-8 || ! have_ja_locale; then
    echo "install_prerequisites: could not generate the ja_JP.UTF-8 locale" \
      "(localedef failed); the double-byte Wine scenario needs it" >&2
    return 1
  fi
}

if [ ${#missing[@]} -eq 0 ]; then
  make_ja_locale
  exit 0
fi

echo "Installing: ${missing[*]}"
if [[ " ${missing[*]} " == *" wine32:i386 "* ]] &&
  ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi

update_log=$(mktemp)
install_log=$(mktemp)
trap 'rm -f "$update_log" "$install_log"' EXIT

update_failed=0
if ! $sudo apt-get update -q 2>&1 | tee "$update_log"; then
  update_failed=1
fi
if [ "$update_failed" -eq 1 ] || grep -q '^E: ' "$update_log"; then
  update_failed=1
  echo "install_prerequisites: apt-get update could not fetch every package list:" >&2
  grep -E '^(E|Err):|Mirror sync' "$update_log" | sed 's/^/  /' >&2 || true
  echo "install_prerequisites: trying the install with the lists it has" >&2
fi

packages=("${missing[@]/wine32:i386/wine32}")
apt_install() {
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "$@" \
    "${packages[@]}" 2>&1 | tee "$install_log"
  return "${PIPESTATUS[0]}"
}

release=""
if [ -r /etc/os-release ]; then
  release=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
fi
if ! apt_install; then
  if [ -z "$release" ]; then
    echo "install_prerequisites: apt-get install failed and the release's" \
      "codename is unknown (/etc/os-release), so it cannot be pinned" >&2
    exit 1
  fi
  echo "install_prerequisites: apt-get install failed; trying once more with" \
    "the release pinned (-t $release), so that every architecture takes" \
    "the same suite's versions" >&2
  if ! apt_install -t "$release"; then
    unmet=$(grep -E "^ [^ ].*: (Depends|PreDepends):|^E: " "$install_log" |
      sed 's/^/  /' || true)
    reason="the package lists do not offer matching versions"
    if [ "$update_failed" -eq 1 ]; then
      reason="apt-get update could not fetch every package list (a mirror in mid-sync?), and $reason"
    fi
    echo "install_prerequisites: could not install: ${packages[*]}" >&2
    echo "install_prerequisites: $reason; apt-get said:" >&2
    [ -n "$unmet" ] && echo "$unmet" >&2
    echo "install_prerequisites: run 'apt-get update' again later, or use another mirror" >&2
    exit 1
  fi
fi
make_ja_locale

#!/usr/bin/env bash
# Installs what the builds and tests need on Debian 12, only where it is
# missing: host compiler and GoogleTest, clang with its sanitizer and
# libFuzzer runtimes, mingw-w64 for 32-bit Windows, Wine with its 32-bit part,
# Xvfb. Needs root (or sudo) when anything is missing.
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
need_pkg libgtest-dev
need_pkg libgmock-dev
need_pkg wine
need_pkg wine32:i386

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
echo "Installing: ${missing[*]}"
if [[ " ${missing[*]} " == *" wine32:i386 "* ]] &&
  ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q \
  "${missing[@]/wine32:i386/wine32}"

#!/usr/bin/env bash
# Builds MERRIK.EXE and a demo media folder and runs the setup under Wine in a
# fresh 32-bit prefix under build-win/demo/.
#
# With a usable display (DISPLAY set) you click through the setup yourself.
# Without one, the script starts its own Xvfb, drives an Express install and
# takes three screenshots of the 1024x768 screen into build-win/demo/:
# welcome.png (the backdrop with the Welcome dialog), installing.png (while
# the pre-setup program runs, its window above the backdrop, held for a few
# seconds by Quillan.sleep) and success.png (the success prompt). Each one is checked (import's status, and
# a whole 1024x768 PNG) and reported as "saved <file>" or "FAILED: ...". Then
# it prints what was installed and the setup's exit code. The script ends
# with status 1 when the driver could not complete the install or any
# screenshot failed.
#
# The setup runs with /LOG: its log is MERRIK.LOG in the prefix's temporary
# folder, and the script prints its path and last lines.
#
# Environment: MERRIK_DEMO_VERSION=win95|nt40 (Windows version that Wine
# reports; default nt40), MERRIK_DEMO_ANSWER=OK|Cancel (answer to the success
# prompt in the unattended run; default OK, which requests the restart),
# MERRIK_JOBS (build jobs, default 2), MERRIK_DEMO_BUILD (build folder,
# default build-win), MERRIK_XVFB_DISPLAY (display number for the unattended
# run's Xvfb; default the first free one from 90).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
jobs=${MERRIK_JOBS:-2}
version=${MERRIK_DEMO_VERSION:-nt40}
answer=${MERRIK_DEMO_ANSWER:-OK}
build=${MERRIK_DEMO_BUILD:-"$root/build-win"}
demo="$build/demo"
prefix="$demo/prefix"

echo "== prerequisites"
"$root/tools/install_prerequisites.sh"

echo "== Windows build"
cmake -S "$root" -B "$build" \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" >/dev/null
cmake --build "$build" -j"$jobs" --target merrik sibling driver

merrik=$(find "$build" -name MERRIK.EXE -path '*resources*' | head -n1)
sibling="$build/tests/e2e/sibling.exe"
driver="$build/tests/e2e/driver.exe"

export WINEARCH=win32 WINEPREFIX="$prefix" WINEDEBUG=-all
# No menu entries on this machine; no Mono or Gecko installer.
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"

xvfb_pid=""
cleanup() {
  wineserver -k 2>/dev/null || true
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

interactive=0
driver_status=0
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  interactive=1
else
  n=${MERRIK_XVFB_DISPLAY:-}
  if [ -z "$n" ]; then
    for n in $(seq 90 120); do
      [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || break
    done
  elif [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; then
    echo "FAILED: display :$n is already in use (MERRIK_XVFB_DISPLAY)"
    exit 1
  fi
  export DISPLAY=":$n"
  Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp >"$demo.xvfb.log" 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 1 50); do
    xdpyinfo >/dev/null 2>&1 && break
    sleep 0.2
  done
  # A display that is already in use makes Xvfb end at once; the setup must
  # not then run on someone else's server.
  if ! kill -0 "$xvfb_pid" 2>/dev/null; then
    echo "FAILED: Xvfb could not start on $DISPLAY (see $demo.xvfb.log)"
    xvfb_pid=""
    exit 1
  fi
  echo "== Xvfb on $DISPLAY"
fi

echo "== fresh Wine prefix ($version) in $prefix"
wineserver -k 2>/dev/null || true
rm -rf "$demo"
mkdir -p "$demo"
wineboot -i >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine' /v Version /d "$version" /f >/dev/null
if [ "$interactive" = 0 ]; then
  # Xvfb has no window manager: unmanaged windows spare Wine's wait for one.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null
fi

echo "== demo media"
python3 "$root/tools/make_demo_media.py" --out "$demo/media" \
  --merrik "$merrik" --sibling "$sibling" --presetup-window
# The pre-setup program takes its time, with its window shown, so that the
# installation can be seen in progress.
printf '6000' >"$demo/media/Utility/Quillan.sleep"
# The media appear as drive D:, like the distribution CD.
rm -f "$prefix/dosdevices/d:" "$prefix/dosdevices/d::"
ln -s "$demo/media" "$prefix/dosdevices/d:"

if [ "$interactive" = 1 ]; then
  echo "== running D:\\MERRIK.EXE /LOG on $DISPLAY: click through the setup"
  set +e
  wine 'D:\MERRIK.EXE' /LOG
  code=$?
  set -e
else
  echo "== running D:\\MERRIK.EXE /LOG: Express install, answering $answer"
  transcript="$demo/transcript.txt"
  shots_failed=0
  # Waits until the driver reaches the sync point <name> (for installing.png
  # also until the pre-setup program's window is on the screen), screenshots
  # the whole screen into <png>, releases the driver, and reports the picture
  # as saved only when import succeeded and the file is a whole 1024x768 PNG.
  shoot() { # <sync name> <png>
    local flag="$transcript.$1" why="" status=0
    for _ in $(seq 1 600); do
      [ -e "$flag" ] && break
      sleep 0.1
    done
    if [ -e "$flag" ] && [ "$1" = installing ]; then
      for _ in $(seq 1 300); do
        xwininfo -root -tree 2>/dev/null | grep -qF '"Quillan window"' && break
        sleep 0.1
      done
    fi
    if [ ! -e "$flag" ]; then
      why="the driver never reached the point to take it (see the transcript)"
    else
      sleep 1 # let every window paint
      import -window root "$2" >"$2.log" 2>&1 || status=$?
      if [ "$status" != 0 ]; then
        why="import ended with status $status: $(tail -n 1 "$2.log")"
      elif ! why=$(python3 "$root/tools/check_screenshot.py" "$2" 1024 768); then
        why="not a whole 1024x768 PNG picture: $why"
      elif [ "$1" = installing ] && [ -e "$demo/media/Utility/Quillan.times" ]; then
        why="taken after the pre-setup program had ended, not during it"
      elif [ "$1" = installing ] && [ ! -e "$demo/media/Utility/Sondel.times" ]; then
        why="taken while the pre-install test ran, not the pre-setup program"
      else
        why=""
      fi
      rm -f "$flag" "$2.log"
    fi
    if [ -z "$why" ]; then
      echo "saved $2"
    else
      echo "FAILED: screenshot $2: $why"
      shots_failed=$((shots_failed + 1))
    fi
  }
  MERRIK_DRIVER_COMMAND_LINE='"D:\MERRIK.EXE" /LOG' \
    wine "$driver" "Z:${transcript//\//\\}" 'D:\MERRIK.EXE' welcome sync:welcome \
    install sync:installing box sync:success "answer:$answer" &
  driver_pid=$!
  shoot welcome "$demo/welcome.png"
  shoot installing "$demo/installing.png"
  shoot success "$demo/success.png"
  driver_status=0
  wait "$driver_pid" || driver_status=$?
  echo "== driver transcript"
  cat "$transcript"
  code=$(sed -n 's/^exit code=\([0-9]*\).*/\1/p' "$transcript")
  code=${code:-"not observed (the setup was ended by the restart)"}
  sleep 3 # a requested restart runs RunOnce and Run entries
fi

echo "== registry"
for key in 'HKLM\Software\VKO' \
  'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\VKO DMI' \
  'HKLM\System\CurrentControlSet\Services\VEZUDA' \
  'HKLM\System\CurrentControlSet\Services\Riveze'; do
  wine reg query "$key" /s 2>/dev/null | tr -d '\r' || echo "$key: absent"
done
wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Run' \
  /v ZEZOroza 2>/dev/null | tr -d '\r' || echo "Run\\ZEZOroza: absent"

echo "== program group"
group=$(find "$prefix/drive_c/users" -type d -name 'VKO Halvermont' \
  -path '*Start Menu/Programs*' | head -n1)
if [ -n "$group" ]; then
  echo "$group"
  ls -l "$group"
else
  echo "no program group"
fi

echo "== hand-off file"
if [ -e "$prefix/drive_c/windows/install.tmp" ]; then
  od -c "$prefix/drive_c/windows/install.tmp"
else
  echo "none"
fi

echo "== setup log"
log=$(find "$prefix/drive_c/users" -name MERRIK.LOG 2>/dev/null | head -n1)
if [ -n "$log" ]; then
  echo "$log"
  tail -n 16 "$log" | tr -d '\r'
else
  echo "none"
fi

case "$code" in
1641) meaning="installed, restart requested and accepted" ;;
3010) meaning="installed, restart declined or refused" ;;
1602) meaning="left the Welcome dialog without installing" ;;
1633) meaning="unsupported Windows version" ;;
1638) meaning="already installed" ;;
1603) meaning="installation failed" ;;
1622) meaning="the log file cannot be opened" ;;
*) meaning="" ;;
esac
echo "== exit code: $code${meaning:+ ($meaning)}"
failed=0
if [ "${driver_status:-0}" != 0 ]; then
  echo "FAILED: the driver could not complete the install (see the transcript)"
  failed=1
fi
if [ "${shots_failed:-0}" != 0 ]; then
  echo "FAILED: $shots_failed of 3 screenshots not taken"
  failed=1
fi
exit "$failed"

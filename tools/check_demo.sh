#!/usr/bin/env bash
# Runs the main-job command tools/demo.sh headless (DISPLAY unset, so it
# drives the install on its own Xvfb) and checks its result: exit status 0,
# no "FAILED" line, the three screenshots reported as saved and each a whole
# 1024x768 PNG (installing.png showing the pre-setup program's window, 400 by
# 300 at 100,100, above the backdrop's picture, which shows pixel for pixel
# everywhere else), welcome-16.png and welcome-256.png reported as saved and
# each a whole 640x480 or 800x600 PNG of the 16 VGA colours or the 20
# reserved colours only, and the registry and program-group listings printed with
# the suite's entries (the start-up and uninstall commands in double quotes,
# as the install directory holds blanks) and both shortcuts, and the setup
# log's last lines with the program group's commands and the restart. The demo's output
# is kept in <build>/demo-output.txt. Exits non-zero when any check fails.
#
# Environment: as tools/demo.sh (MERRIK_DEMO_BUILD, MERRIK_XVFB_DISPLAY, ...).
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${MERRIK_DEMO_BUILD:-"$root/build-win"}
demo="$build/demo"
out="$build/demo-output.txt"
mkdir -p "$build"

env -u DISPLAY "$root/tools/demo.sh" 2>&1 | tee "$out"
status=${PIPESTATUS[0]}

problems=0
fail() {
  echo "check_demo: $*"
  problems=$((problems + 1))
}
# The lines of the demo's output between "== <from>" and the next "== ".
section() {
  awk -v head="== $1" 'index($0, "== ") == 1 { on = ($0 == head); next }
    on { print }' "$out"
}
holds() { # <text> <fixed string>
  grep -qF -- "$2" <<<"$1"
}

[ "$status" = 0 ] || fail "tools/demo.sh ended with status $status"
reported=$(grep -c '^FAILED' "$out")
[ "$reported" = 0 ] || fail "the demo reported $reported FAILED lines"
for shot in welcome installing success; do
  png="$demo/$shot.png"
  grep -qxF "saved $png" "$out" || fail "$shot.png was not reported as saved"
  # In the middle of the installation nothing of the setup covers the
  # backdrop: its picture is on the screen pixel for pixel, but for the
  # pre-setup program's window above it (its frame is drawn inside the
  # window's rectangle).
  picture=()
  [ "$shot" = installing ] && picture=(--picture "$root/resources/backdrop.bmp"
    --window 100,100,400,300)
  if ! why=$(python3 "$root/tools/check_screenshot.py" "${picture[@]}" \
    "$png" 1024 768); then
    fail "$png: $why"
  fi
done

# The Welcome screen as a 16-colour 640x480 and a 256-colour 800x600 display
# show it: whole pictures of that size, of that display's colours only.
for shot in welcome-16:640:480:16 welcome-256:800:600:256; do
  IFS=: read -r name width height depth <<<"$shot"
  png="$demo/$name.png"
  grep -qxF "saved $png" "$out" || fail "$name.png was not reported as saved"
  if ! why=$(python3 "$root/tools/check_screenshot.py" --palette "$depth" \
    "$png" "$width" "$height"); then
    fail "$png: $why"
  fi
done

registry=$(section registry)
for text in 'HKEY_LOCAL_MACHINE\Software\VKO\DMI' \
  'path    REG_SZ    C:\Program Files\VKO Halvermont' \
  'HKEY_LOCAL_MACHINE\Software\VKO\DMI\LM78' \
  'HKEY_LOCAL_MACHINE\Software\VKO\DMI\LM75' \
  'HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Uninstall\VKO DMI' \
  'UninstallString    REG_SZ    "C:\Program Files\VKO Halvermont\Dovrel.exe"' \
  'ZEZOroza    REG_SZ    "C:\Program Files\VKO Halvermont\Zezoroza.exe"'; do
  holds "$registry" "$text" || fail "registry listing lacks: $text"
done

group=$(section "program group")
for text in 'Start Menu/Programs/VKO Halvermont' 'Hardware Monitor.lnk' \
  'Uninstall VKO Halvermont.lnk'; do
  holds "$group" "$text" || fail "program-group listing lacks: $text"
done

# The setup ran with /LOG: the log names each Program Manager command as
# carried out, the whole group, the exit status and, after it, the restart
# request of the accepted success prompt.
log=$(section "setup log")
for text in 'MERRIK.LOG' 'DdeClientTransaction XTYP_EXECUTE 32 bytes: carried out, DdeGetLastError 0, ' \
  ' ms: [CreateGroup(VKO Halvermont,1)]\x00' 'program group: whole, 2 items' \
  'success prompt: OK, restart' 'exit status 1641: installed, restart requested and accepted' \
  'ExitWindowsEx EWX_REBOOT: ok'; do
  holds "$log" "$text" || fail "setup log lacks: $text"
done

if [ "$problems" != 0 ]; then
  echo "check_demo: FAILED ($problems problems; output in $out)"
  exit 1
fi
echo "check_demo: passed (screenshots in $demo, output in $out)"

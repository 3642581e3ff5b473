#!/usr/bin/env bash
# Runs tools/install_prerequisites.sh against a fake apt-get, dpkg and locale
# tool on PATH that act like a Debian mirror in mid-sync: apt-get update fails
# on one list, and an unpinned install cannot resolve the i386 twins of the
# amd64 libraries. Checks that the script goes on after the update, retries
# the install with the release pinned, generates the Japanese locale, and
# that where even the pinned install fails it ends non-zero with one clear
# message.
set -uo pipefail
script=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/tools/install_prerequisites.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fake=$work/bin
mkdir -p "$fake"
release=$(. /etc/os-release && echo "$VERSION_CODENAME")

cat >"$fake/dpkg" <<'F'
#!/bin/sh
# Nothing is installed; i386 is already a foreign architecture.
case "$1" in
  --print-foreign-architectures) echo i386 ;;
  -s) exit 1 ;;
esac
exit 0
F
cat >"$fake/apt-get" <<'F'
#!/bin/sh
echo "apt-get $*" >>"$FAKE_DIR/calls"
case "$*" in
  *update*)
    echo "Err:6 http://deb.example/debian-security bookworm-security/main i386 Packages"
    echo "  File has unexpected size (374820 != 376004). Mirror sync in progress?"
    echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
    exit 100 ;;
  *" -t "*)
    [ -e "$FAKE_DIR/pinned_fails" ] || exit 0 ;;
esac
echo "The following packages have unmet dependencies:"
echo " libwine:i386 : Depends: zlib1g:i386 (>= 1:1.1.4) but it is not going to be installed"
echo "E: Unable to correct problems, you have held broken packages."
exit 100
F
cat >"$fake/locale" <<'F'
#!/bin/sh
echo C.utf8
[ -e "$FAKE_DIR/ja" ] && echo ja_JP.utf8
exit 0
F
cat >"$fake/localedef" <<'F'
#!/bin/sh
echo "localedef $*" >>"$FAKE_DIR/calls"
touch "$FAKE_DIR/ja"
F
cat >"$fake/id" <<'F'
#!/bin/sh
echo 0
F
chmod +x "$fake"/*

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
run() { FAKE_DIR=$work PATH="$fake:$PATH" "$script" >"$work/out" 2>"$work/err"; }

# A lagging mirror that the pinned install gets past.
run
status=$?
[ "$status" -eq 0 ] || fail "lagging mirror: status $status, not 0"
grep -q "apt-get update could not fetch every package list" "$work/err" ||
  fail "the failed update is not reported"
grep -q "Mirror sync in progress" "$work/err" || fail "the failed list is not shown"
calls=$(grep -c '^apt-get' "$work/calls")
[ "$calls" -eq 3 ] || fail "$calls apt-get calls, not update and two installs"
sed -n 2p "$work/calls" | grep -q -- "install -y -q .*wine32" ||
  fail "the first install is not the unpinned one with wine32"
sed -n 3p "$work/calls" | grep -q -- "install -y -q -t $release .*wine32" ||
  fail "the second install is not pinned to $release"
grep -q "^localedef .*ja_JP.UTF-8" "$work/calls" || fail "the ja_JP.UTF-8 locale is not generated"

# A mirror that even the pinned install cannot get past.
rm -f "$work/calls" "$work/ja"
touch "$work/pinned_fails"
run
status=$?
[ "$status" -ne 0 ] || fail "unresolvable install: status 0"
grep -q "could not install: .*wine32" "$work/err" || fail "the message does not name what is missing"
grep -q "could not fetch every package list (a mirror in mid-sync?)" "$work/err" ||
  fail "the message does not give the failed update as the reason"
grep -q "zlib1g:i386" "$work/err" || fail "the message does not show the unmet dependency"
[ "$(grep -c '^apt-get .*install' "$work/calls")" -eq 2 ] || fail "the install is not tried exactly twice"

if [ "$failures" -ne 0 ]; then
  echo "--- stderr of the last run"
  cat "$work/err"
  exit 1
fi
echo "prerequisites: both mirror faults handled"

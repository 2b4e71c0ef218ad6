#!/usr/bin/env bash
# The Debian package as a user meets it: its files, installed with dpkg on
# this machine (root, or sudo), `procloop --version`, a real capture by the
# installed binary on a private PulseAudio server (scripts/demo: two players,
# each tone where it belongs), then removed without a trace.
#
#   tests/package/install_deb.sh build/package/packages/procloop_<version>_amd64.deb
set -euo pipefail
deb=$(realpath "$1")
cd "$(dirname "$0")/../.."
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
fail() { echo "install_deb: $*" >&2; exit 1; }

version=$(dpkg-deb -f "$deb" Version)
[ "$(basename "$deb")" = "procloop_${version}_amd64.deb" ] || fail "named $(basename "$deb")"
expected="./usr/bin/procloop ./usr/share/doc/procloop/LICENSE ./usr/share/doc/procloop/README.md ./usr/share/man/man1/procloop.1"
files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort | xargs)
[ "$files" = "$expected" ] || fail "holds: $files"
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libc6 libpulse0 libxcb1 libxcb-res0; do
  [[ ", $depends," == *", $lib"[\ ,]* ]] || fail "does not depend on $lib: $depends"
done

dpkg -s procloop >/dev/null 2>&1 && fail "procloop is installed already"
trap '$sudo dpkg -r procloop >/dev/null 2>&1 || true' EXIT
$sudo dpkg -i "$deb"
[ "$(command -v procloop)" = /usr/bin/procloop ] || fail "not on the PATH as /usr/bin/procloop"
[ "$(procloop --version)" = "procloop $version" ] || fail "--version says $(procloop --version)"
PROCLOOP=/usr/bin/procloop scripts/demo

$sudo dpkg -r procloop
trap - EXIT
[ ! -e /usr/bin/procloop ] || fail "/usr/bin/procloop is still there after dpkg -r"
dpkg -s procloop >/dev/null 2>&1 && fail "still installed after dpkg -r"
echo "install_deb: procloop $version installed, ran a capture and was removed"

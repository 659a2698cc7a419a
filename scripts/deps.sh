#!/bin/sh
# Installs the Debian packages Vocora needs that are missing; does nothing when
# all are there. Usage: scripts/deps.sh run|test
set -eu
build="cmake ninja-build g++ pkg-config qt6-base-dev libasound2-dev libmp3lame-dev libmpg123-dev
  libasound2-plugins fonts-dejavu-core fonts-liberation2"
test="googletest libgmock-dev libgtest-dev libbenchmark-dev iproute2 util-linux pulseaudio pulseaudio-utils
  libx11-dev desktop-file-utils appstream dpkg-dev alsa-utils xvfb xdotool x11-utils espeak-ng sox lame mpg123 netcat-openbsd procps python3 imagemagick"
case "${1:-run}" in
  run) want="$build" ;;
  test) want="$build $test" ;;
  *) echo "usage: $0 run|test" >&2; exit 2 ;;
esac
missing=""
for p in $want; do
  dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed$' || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
echo "Installing:$missing"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends $missing

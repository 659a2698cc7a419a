#!/bin/sh
# Checks what a user installs: the installed file layout under an arbitrary prefix,
# the desktop entry and AppStream metadata, and the Debian package (contents, declared
# dependencies, installation into a throw-away root, and that the installed program
# opens its window carrying the application icon).
# Usage: packaging/check.sh [BUILD_DIR]   (default: build-package, configured as Release)
# Needs: cmake ninja-build desktop-file-utils appstream dpkg-dev util-linux iproute2
#        xvfb xdotool x11-utils, and the package's run-time dependencies installed.
# shellcheck disable=SC2016 # the sh -c snippets take their values as $1 and $2
set -eu
src=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$src/build-package}")
id=org.vocora.Vocora
sizes="16 32 48 64 128 256"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

passed=0
failed=0
ok() { passed=$((passed + 1)); echo "ok: $*"; }
bad() { failed=$((failed + 1)); echo "FAIL: $*"; }
# check DESCRIPTION COMMAND...: runs the command, its output shown only when it fails.
check() {
  what=$1; shift
  if "$@" >"$work/out" 2>&1; then ok "$what"; else bad "$what"; sed 's/^/    /' "$work/out"; fi
}

# Width x height from a PNG's header.
png_size() {
  od -An -tu1 -j16 -N8 "$1" | awk '{ print ($1*16777216 + $2*65536 + $3*256 + $4) "x" ($5*16777216 + $6*65536 + $7*256 + $8) }'
}

# Every file the install rules must put under a prefix, and nothing else.
expected_files() {
  {
    echo bin/vocora
    echo share/applications/$id.desktop
    echo share/metainfo/$id.metainfo.xml
    echo share/icons/hicolor/scalable/apps/$id.svg
    for px in $sizes; do echo "share/icons/hicolor/${px}x${px}/apps/$id.png"; done
    echo share/doc/vocora/README.md
  } | sort
}

# check_tree DIR: the installed layout below DIR (a prefix) is complete and consistent.
check_tree() {
  dir=$1
  (cd "$dir" && find . -type f -o -type l | sed 's#^\./##' | sort) >"$work/found"
  expected_files >"$work/expected"
  check "installs exactly the expected files" diff -u "$work/expected" "$work/found"
  check "program is executable" test -x "$dir/bin/vocora"
  for px in $sizes; do
    check "${px}px icon is ${px}x${px}" test "$(png_size "$dir/share/icons/hicolor/${px}x${px}/apps/$id.png")" = "${px}x${px}"
  done
  desktop=$dir/share/applications/$id.desktop
  meta=$dir/share/metainfo/$id.metainfo.xml
  check "desktop entry validates" desktop-file-validate "$desktop"
  check "metainfo validates" appstreamcli validate --no-net "$meta"
  check "desktop entry runs the installed program" grep -qx 'Exec=vocora' "$desktop"
  check "desktop entry names the icon by the application id" grep -qx "Icon=$id" "$desktop"
  check "metainfo carries the application id" grep -q "<id>$id</id>" "$meta"
  check "metainfo launches the desktop entry" grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$meta"
}

echo "== build ($build)"
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVOCORA_TESTS=OFF -DVOCORA_BENCH=OFF >/dev/null
fi
cmake --build "$build" --target vocora
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$build/CMakeCache.txt")

echo "== cmake --install into a staging root, odd prefix"
# DESTDIR keeps everything inside the staging root, so a rule with an absolute path shows up
# as an unexpected file instead of landing on this machine.
prefix=/opt/vocora-check
DESTDIR="$work/stage" cmake --install "$build" --prefix "$prefix" >/dev/null
check "nothing installed outside the prefix" test "$(ls -A "$work/stage")" = opt
check_tree "$work/stage$prefix"
check "metainfo lists this release ($version)" \
  grep -q "<release version=\"$version\"" "$work/stage$prefix/share/metainfo/$id.metainfo.xml"

echo "== Debian package"
arch=$(dpkg --print-architecture)
deb=$work/deb/vocora_${version}_${arch}.deb
cpack --config "$build/CPackConfig.cmake" -B "$work/deb" >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; exit 1; }
check "package file is vocora_${version}_${arch}.deb" test -f "$deb"
[ -f "$deb" ] || { echo "packaging: $passed passed, $failed failed"; exit 1; }
dpkg-deb -I "$deb" | sed 's/^/    /'
check "package name" test "$(dpkg-deb -f "$deb" Package)" = vocora
check "package version" test "$(dpkg-deb -f "$deb" Version)" = "$version"
check "package architecture" test "$(dpkg-deb -f "$deb" Architecture)" = "$arch"
depends=$(dpkg-deb -f "$deb" Depends)
names=$(echo "$depends" | tr ',' '\n' | sed 's/[(|].*//; s/ //g')
for need in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 qt6-qpa-plugins \
  libasound2 libmp3lame0 libmpg123-0; do
  check "depends on $need" sh -c 'echo "$1" | grep -qx "$2"' - "$names" "$need"
done
# The declared versions must be ones this Debian release has: they are met by what is installed here.
printf 'Source: vocora-check\n\nPackage: vocora-check\nArchitecture: any\n' >"$work/control"
check "dependencies are satisfied on this system" dpkg-checkbuilddeps -d "$depends" "$work/control"
dpkg-deb -c "$deb" | awk '{ print $6 }' >"$work/contents"
for f in usr/bin/vocora usr/share/applications/$id.desktop usr/share/metainfo/$id.metainfo.xml \
  usr/share/icons/hicolor/scalable/apps/$id.svg usr/share/icons/hicolor/48x48/apps/$id.png; do
  check "package holds /$f" grep -qx "\./$f" "$work/contents"
done
check "package installs only below /usr" sh -c '! grep -v -e "^\./$" -e "^\./usr/" "$1"' - "$work/contents"

echo "== install the package into a throw-away root"
root=$work/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
: >"$root/var/lib/dpkg/status"
# The root holds no other packages, so its dependencies cannot be met there.
check "dpkg installs the package" dpkg --root="$root" --force-depends -i "$deb"
check "dpkg records it as installed" sh -c 'dpkg --root="$1" -s vocora | grep -qx "Status: install ok installed"' - "$root"
check_tree "$root/usr"
check "installed tree validates (metainfo finds its desktop entry)" appstreamcli validate-tree --no-net "$root"
check "program finds all its libraries" sh -c '! ldd "$1" | grep -q "not found"' - "$root/usr/bin/vocora"

# The installed program opens its window under a private X server, in a private network
# namespace (it listens on port 2000), with the application icon set on the window.
cat >"$work/start.sh" <<'EOF'
# shellcheck disable=SC2016 # the sh -c snippets take their values as $1 and $2
set -eu
work=$1 exe=$2
ip link set lo up
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 400x300x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
while [ ! -s "$work/display" ]; do sleep 0.05; done
export DISPLAY=":$(cat "$work/display")"
VOCORA_AUDIO=wav QT_QPA_PLATFORM=xcb "$exe" >"$work/app.log" 2>&1 &
app=$!
w=""
for i in $(seq 100); do
  w=$(xdotool search --onlyvisible --name '^Vocora$' 2>/dev/null | head -1) && [ -n "$w" ] && break
  sleep 0.1
done
status=0
if [ -z "$w" ]; then
  echo "no window appeared"; cat "$work/app.log"; status=1
else
  xprop -id "$w" WM_CLASS _NET_WM_ICON >"$work/props"
  grep -q '^WM_CLASS(STRING) = "vocora", "vocora"' "$work/props" || { echo "wrong WM_CLASS"; status=1; }
  grep -q '^_NET_WM_ICON(CARDINAL) =' "$work/props" || { echo "window has no icon"; head -c 300 "$work/props"; status=1; }
fi
kill "$app" 2>/dev/null; wait "$app" || true
kill "$xvfb"
exit $status
EOF
check "installed program opens its window with the icon" unshare -n sh "$work/start.sh" "$work" "$root/usr/bin/vocora"

check "dpkg removes the package" dpkg --root="$root" -r vocora
check "removal leaves no files" test -z "$(find "$root/usr" -type f 2>/dev/null)"

echo "packaging: $passed passed, $failed failed"
[ "$failed" -eq 0 ]

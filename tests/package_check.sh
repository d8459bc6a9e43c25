#!/usr/bin/env bash
# Checks a Velloa .deb without installing it: exactly the files the install rules lay out,
# dependencies computed from the binaries, a valid desktop file, icons of the sizes their
# folders promise, a unit that starts the installed hub, binaries that run.
#
#   tests/package_check.sh DEB BUILD_DIR
set -euo pipefail
deb=$1
build=$2
fail() {
    printf 'package_check: %s\n' "$*" >&2
    exit 1
}

version=$(sed -n 's/.*APP_VERSION = QStringLiteral("\([^"]*\)").*/\1/p' "$build/generated/Version.h")
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = velloa ] || fail "package name $(field Package)"
[ "$(field Version)" = "$version" ] || fail "version $(field Version), the build is $version"
[ "$(field Section)" = utils ] || fail "section $(field Section)"
[ -n "$(field Maintainer)" ] || fail "no maintainer"
depends=$(field Depends)
for lib in libc6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6network6 libarchive13; do
    [[ ", $depends," == *", $lib "* || ", $depends," == *", $lib,"* ]] ||
        fail "Depends lacks $lib: $depends"
done

# Regular files only; the optional fonts come and go with resources/fonts.
files=$(dpkg-deb -c "$deb" | awk '$1 ~ /^-/ {print $1, $2, $6}' | grep -v '/share/velloa/' | sort)
expected=$(sort <<'LIST'
-rwxr-xr-x root/root ./usr/bin/velloa
-rwxr-xr-x root/root ./usr/bin/velloa-hub
-rw-r--r-- root/root ./usr/lib/systemd/user/velloa-hub.service
-rw-r--r-- root/root ./usr/share/applications/velloa.desktop
-rw-r--r-- root/root ./usr/share/doc/velloa/HUB.md
-rw-r--r-- root/root ./usr/share/doc/velloa/README.md
-rw-r--r-- root/root ./usr/share/icons/hicolor/128x128/apps/velloa.png
-rw-r--r-- root/root ./usr/share/icons/hicolor/48x48/apps/velloa.png
-rw-r--r-- root/root ./usr/share/icons/hicolor/scalable/apps/velloa.svg
LIST
)
[ "$files" = "$expected" ] || fail "files differ from the install layout:
$(diff <(printf '%s\n' "$expected") <(printf '%s\n' "$files") || true)"

tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
dpkg-deb -x "$deb" "$tree"
desktop-file-validate "$tree/usr/share/applications/velloa.desktop" ||
    fail "desktop-file-validate refuses velloa.desktop"
grep -qx 'Exec=velloa' "$tree/usr/share/applications/velloa.desktop" || fail "Exec is not velloa"
grep -qx 'Icon=velloa' "$tree/usr/share/applications/velloa.desktop" || fail "Icon is not velloa"
# Width and height from the PNG header (big-endian, bytes 16 to 23).
png_size() { od -An -tu1 -j16 -N8 "$1" | awk '{print $3 * 256 + $4 "x" $7 * 256 + $8}'; }
for size in 48 128; do
    got=$(png_size "$tree/usr/share/icons/hicolor/${size}x$size/apps/velloa.png")
    [ "$got" = "${size}x$size" ] || fail "the ${size}x$size icon is $got"
done
head -c 5 "$tree/usr/share/icons/hicolor/scalable/apps/velloa.svg" | grep -q '^<svg ' ||
    fail "velloa.svg is not an SVG picture"
grep -qx 'ExecStart=/usr/bin/velloa-hub' "$tree/usr/lib/systemd/user/velloa-hub.service" ||
    fail "the unit does not start /usr/bin/velloa-hub"
got=$("$tree/usr/bin/velloa-hub" --version)
[ "$got" = "Velloa $version" ] || fail "velloa-hub --version says: $got"
printf 'package_check: %s is sound\n' "$(basename "$deb")"

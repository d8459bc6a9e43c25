#!/usr/bin/env bash
# Makes a release of a build: lays out the portable application folder Velloa.app (the
# executable, its resources/ and a launcher), zips it, writes the version manifest and prints
# it as one line. With --hub the zip and the manifest go straight into a velloa-hub data
# folder, which then offers the release to every app that reads its /version.json.
#
#   tools/make-release.sh [--build DIR] [--out DIR] [--base-url URL] [--notes TEXT] [--hub DIR]
#
#   --build     the build folder (default build/release); its version is the release's version
#   --out       where Velloa.app, the zip and version.json are written (default BUILD/release)
#   --base-url  where the zip will be served from (default http://127.0.0.1:47613/releases,
#               the local hub); the manifest's url is BASE-URL/NAME
#   --notes     release notes shown in the offer
#   --hub       a velloa-hub data folder: copies the zip to HUB/releases/ and the manifest to
#               HUB/version.json
set -euo pipefail

die() {
    printf 'make-release: %s\n' "$*" >&2
    exit 2
}

# A JSON string literal: backslash, quote and the control characters escaped.
json_string() {
    local text=$1 out='' c i
    for ((i = 0; i < ${#text}; i++)); do
        c=${text:i:1}
        case $c in
        "\\") out+="\\\\" ;;
        '"') out+='\"' ;;
        $'\n') out+='\n' ;;
        $'\r') out+='\r' ;;
        $'\t') out+='\t' ;;
        [$'\x01'-$'\x1f']) out+=$(printf '\\u%04x' "'$c") ;;
        *) out+=$c ;;
        esac
    done
    printf '"%s"' "$out"
}

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/release
out=''
base_url=http://127.0.0.1:47613/releases
notes=''
hub=''
while [ $# -gt 0 ]; do
    case $1 in
    --build) build=${2:?--build needs a folder}; shift 2 ;;
    --out) out=${2:?--out needs a folder}; shift 2 ;;
    --base-url) base_url=${2:?--base-url needs a URL}; shift 2 ;;
    --notes) notes=${2?--notes needs a text}; shift 2 ;;
    --hub) hub=${2:?--hub needs a folder}; shift 2 ;;
    -h | --help) sed -n '2,17p' "$0"; exit 0 ;;
    *) die "unknown argument: $1" ;;
    esac
done
build=$(cd "$build" 2>/dev/null && pwd) || die "no build folder: $build"
out=${out:-$build/release}

version_header=$build/generated/Version.h
version=$(sed -n 's/.*APP_VERSION = QStringLiteral("\([^"]*\)").*/\1/p' "$version_header" 2>/dev/null) ||
    true
[ -n "$version" ] || die "cannot read the version from $version_header"

mkdir -p "$out"
out=$(cd "$out" && pwd)
case $(uname -s) in
Darwin)
    # The build's own bundle, zipped the way the Finder does it.
    bundle=$build/app/Velloa.app
    [ -d "$bundle/Contents/MacOS" ] || die "no application bundle at $bundle"
    name=velloa-$version-macos-$(uname -m).zip
    rm -f "$out/$name"
    ditto -c -k --keepParent "$bundle" "$out/$name"
    ;;
*)
    executable=$build/app/velloa
    [ -x "$executable" ] || die "no executable at $executable: build the app first"
    app=$out/Velloa.app
    rm -rf "$app"
    mkdir -p "$app/resources"
    cp "$executable" "$app/velloa"
    # Optional fonts (see the README); git ignores them in resources/fonts.
    for font in VelloaFont.ttf VelloaFontBold.ttf; do
        if [ -f "$root/resources/fonts/$font" ]; then
            cp "$root/resources/fonts/$font" "$app/resources/"
        fi
    done
    cat >"$app/velloa.sh" <<'LAUNCHER'
#!/bin/sh
# Starts Velloa from this folder, detached from the terminal. Point a desktop or autostart
# entry here; keep the folder where you can write, so the app can update itself.
here=$(dirname "$(readlink -f "$0")")
setsid "$here/velloa" "$@" </dev/null >/dev/null 2>&1 &
LAUNCHER
    chmod 755 "$app/velloa" "$app/velloa.sh"
    name=velloa-$version-linux-$(uname -m).zip
    rm -f "$out/$name"
    (cd "$out" && cmake -E tar cf "$name" --format=zip Velloa.app)
    ;;
esac

sha256=$(sha256sum "$out/$name" | cut -d ' ' -f 1)
url=${base_url%/}/$name
manifest="{\"version\": $(json_string "$version"), \"url\": $(json_string "$url"), \"sha256\": \"$sha256\""
if [ -n "$notes" ]; then
    manifest+=", \"notes\": $(json_string "$notes")"
fi
manifest+='}'
printf '%s\n' "$manifest" >"$out/version.json"

if [ -n "$hub" ]; then
    mkdir -p "$hub/releases"
    cp "$out/$name" "$hub/releases/$name"
    # Replaced in one step, so the hub never serves half a manifest.
    cp "$out/version.json" "$hub/version.json.new"
    mv "$hub/version.json.new" "$hub/version.json"
fi
printf '%s\n' "$manifest"

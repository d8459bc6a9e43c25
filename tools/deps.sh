# Sourced by tools/run.sh and tools/test.sh: installs the Debian packages Velloa needs,
# only those missing, so a second run installs nothing.
velloa_log() { printf '\033[1m==> %s\033[0m\n' "$*" >&2; }

velloa_install_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$pkg")
        fi
    done
    if [ ${#missing[@]} -eq 0 ]; then
        velloa_log "Debian packages already installed"
        return 0
    fi
    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        sudo=(sudo)
    fi
    velloa_log "Installing Debian packages: ${missing[*]}"
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# What building the app needs: compiler and build tools, Qt (libxkbcommon-dev and libgl-dev
# are what Qt's CMake packages look for), Qt's own translations (its error texts in the user's
# language), the JSON parser, libarchive for unpacking updates, CJK glyphs for the Chinese
# texts and colour emoji for section labels and tasks that carry them. lld and ccache only make
# builds faster (CMake uses them when present).
VELLOA_BUILD_PACKAGES=(g++ cmake ninja-build pkg-config lld ccache qt6-base-dev qt6-base-dev-tools
    qt6-translations-l10n libxkbcommon-dev libgl-dev libsimdjson-dev libarchive-dev
    fonts-noto-cjk fonts-noto-color-emoji)
# What the tests and benchmarks add: clang with its sanitizer and libFuzzer runtimes (the test
# command builds with clang, faster than gcc), Google Benchmark, font files for the asset tests,
# ShellCheck for the update's apply script, dpkg-dev (dpkg-shlibdeps computes the package's
# dependencies), desktop-file-utils for the package test and libxcb1-dev for the benchmark that
# times windows appearing. Widget tests draw offscreen, so the suite needs no X server.
VELLOA_TEST_PACKAGES=(clang libclang-rt-14-dev libbenchmark-dev fonts-dejavu-core shellcheck
    dpkg-dev desktop-file-utils libxcb1-dev)
# Only bench/desktop.sh: a virtual X server with a tray host to run the app and its yardstick on.
VELLOA_DESKTOP_BENCH_PACKAGES=(xvfb xauth trayer)
# tools/fuzz.sh on its own: clang and its libFuzzer and sanitizer runtimes.
VELLOA_FUZZ_PACKAGES=(clang libclang-rt-14-dev)

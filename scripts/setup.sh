#!/usr/bin/env bash
# Installs what building and testing need on a Debian 12 machine and cross-builds
# TagLib for i686 Windows. Safe to run again: every step checks before it acts.
set -euo pipefail

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive

. "$(dirname "$0")/deps-env.sh"
DEPS_ROOT="$QUILLORN_DEPS"

PACKAGES=(
  mingw-w64 mingw-w64-tools g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
  libz-mingw-w64-dev libwine-dev libutfcpp-dev
  cmake ninja-build dpkg-dev
  wine wine32:i386 wine64
  xvfb xdotool imagemagick
  googletest python3-mutagen
)

say() { printf '[setup] %s\n' "$*"; }

have_packages() {
  local p
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || return 1
  done
}

ensure_i386() {
  dpkg --print-foreign-architectures | grep -qx i386 && return 0
  say "adding the i386 architecture"
  $SUDO dpkg --add-architecture i386
  NEED_UPDATE=1
}

ensure_deb_src() {
  if ! grep -rqsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    say "adding a deb-src entry for bookworm"
    $SUDO tee /etc/apt/sources.list.d/quillorn-deb-src.sources >/dev/null <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
    NEED_UPDATE=1
  fi
}

NEED_UPDATE=0
ensure_i386
ensure_deb_src
if [ "$NEED_UPDATE" = 1 ] || ! have_packages; then
  say "installing packages"
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${PACKAGES[@]}" >/dev/null
fi

# Wine's 32-bit loader is an i386 Linux program. Where the kernel cannot run
# i386 programs itself, qemu's user-mode emulator runs them through binfmt_misc.
# Debian 12's qemu ignores MAP_FIXED_NOREPLACE, which makes every Wine start
# scan the address space for a minute; the static emulator of Debian 13's
# qemu-user package handles it, so that one binary is taken from there.
QEMU_DIR="$DEPS_ROOT/qemu-user-10"
QEMU_I386="$QEMU_DIR/qemu-i386"

fetch_qemu_i386() {
  [ -x "$QEMU_I386" ] && return 0
  say "fetching the i386 user-mode emulator from Debian 13's qemu-user"
  local apt_dir
  apt_dir=$(mktemp -d)
  mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial"
  echo "deb [arch=amd64 signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian trixie main" \
    > "$apt_dir/sources.list"
  local opts=(-o Dir::Etc::sourcelist="$apt_dir/sources.list" -o Dir::Etc::sourceparts=-
              -o Dir::State::Lists="$apt_dir/lists" -o Dir::Cache="$apt_dir/cache"
              -o APT::Architectures::=amd64 -o APT::Sandbox::User=root)
  apt-get "${opts[@]}" update -qq
  (cd "$apt_dir" && apt-get "${opts[@]}" download -qq qemu-user >/dev/null)
  dpkg-deb -x "$apt_dir"/qemu-user_*.deb "$apt_dir/root"
  mkdir -p "$QEMU_DIR"
  install -m 0755 "$apt_dir/root/usr/bin/qemu-i386" "$QEMU_I386"
  rm -rf "$apt_dir"
}

ensure_i386_exec() {
  local probe=/usr/lib/wine/wineserver32
  local misc=/proc/sys/fs/binfmt_misc entry=/proc/sys/fs/binfmt_misc/qemu-i386
  if [ ! -e "$entry" ] && "$probe" --version >/dev/null 2>&1; then
    return 0
  fi
  fetch_qemu_i386
  [ -f "$misc/register" ] || $SUDO mount -t binfmt_misc binfmt_misc "$misc"
  if [ -e "$entry" ] && ! grep -qx "interpreter $QEMU_I386" "$entry"; then
    echo -1 | $SUDO tee "$entry" >/dev/null
  fi
  if [ ! -e "$entry" ]; then
    say "registering $QEMU_I386 for i386 programs"
    printf '%s' ":qemu-i386:M::\\x7fELF\\x01\\x01\\x01\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x02\\x00\\x03\\x00:\\xff\\xff\\xff\\xff\\xff\\xfe\\xfe\\x00\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xfe\\xff\\xff\\xff:$QEMU_I386:F" |
      $SUDO tee "$misc/register" >/dev/null
  fi
  "$probe" --version >/dev/null 2>&1 || { echo "cannot run i386 programs on this machine" >&2; exit 1; }
}
ensure_i386_exec

build_taglib() {
  if [ -f "$TAGLIB_PREFIX/lib/libtag.a" ] && [ -f "$TAGLIB_PREFIX/.version" ] &&
     [ "$(cat "$TAGLIB_PREFIX/.version")" = "$TAGLIB_VERSION" ]; then
    return 0
  fi
  say "cross-building TagLib $TAGLIB_VERSION into $TAGLIB_PREFIX"
  local work
  work=$(mktemp -d)
  trap 'rm -rf "$work"' RETURN
  ( cd "$work" && apt-get source -qq "taglib=$TAGLIB_VERSION*" >/dev/null 2>&1 || apt-get source -qq taglib >/dev/null )
  local src
  src=$(find "$work" -maxdepth 1 -type d -name "taglib-$TAGLIB_VERSION*" | head -n 1)
  [ -n "$src" ] || { echo "TagLib $TAGLIB_VERSION sources not found" >&2; exit 1; }
  cmake -S "$src" -B "$work/build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$(cd "$(dirname "$0")/.." && pwd)/cmake/toolchain-i686-mingw.cmake" \
    -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$TAGLIB_PREFIX" \
    -DBUILD_SHARED_LIBS=OFF -DBUILD_TESTING=OFF -DBUILD_EXAMPLES=OFF -DBUILD_BINDINGS=OFF \
    -DWITH_ZLIB=ON -DZLIB_ROOT=/usr/i686-w64-mingw32 \
    -DCMAKE_CXX_FLAGS="-I/usr/include/utf8cpp" >/dev/null
  cmake --build "$work/build" >/dev/null
  cmake --install "$work/build" >/dev/null
  echo "$TAGLIB_VERSION" > "$TAGLIB_PREFIX/.version"
}
build_taglib
say "ready (TagLib in $TAGLIB_PREFIX)"

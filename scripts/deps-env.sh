# Where the cross-built dependencies live (shared by the set-up and build scripts).
QUILLORN_DEPS="${QUILLORN_DEPS:-${XDG_CACHE_HOME:-$HOME/.cache}/quillorn-deps}"
TAGLIB_VERSION=1.13
TAGLIB_PREFIX="$QUILLORN_DEPS/taglib-$TAGLIB_VERSION-i686-w64-mingw32"

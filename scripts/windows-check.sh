#!/usr/bin/env bash
# Compiles every product source with Debian's MinGW-w64 compiler, syntax only, so the code under
# Q_OS_WIN (device notifications, the user name) is known to compile for Windows. Nothing is
# linked or run. The Qt headers are the Linux ones: they declare the same API, and the compiler's
# own macros select Qt's Windows paths. Definitions, warnings, include paths and the generated
# forms come from a configured build (scripts/setup.sh makes one). Installs the compiler with
# apt-get when it is missing; needs root or sudo for that.
#
#   scripts/windows-check.sh [BUILD_DIR]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build}"
compiler=x86_64-w64-mingw32-g++-posix

"$root/scripts/install-packages.sh" g++-mingw-w64-x86-64-posix

if [[ -d "$build" ]]; then
    build="$(cd "$build" && pwd)"
fi
ninja_file="$build/build.ninja"
cache="$build/CMakeCache.txt"
if [[ ! -f "$ninja_file" || ! -f "$cache" ]]; then
    echo "windows-check: $build is not a configured Ninja build; run scripts/setup.sh first" >&2
    exit 1
fi

# The compile rule of the first library source carries what every library source gets.
library_compile() {
    awk -v name="$1" '
        /^build CMakeFiles\/halvern_core\.dir\/.*\.cpp\.o: / { found = 1; next }
        found && /^$/ { exit }
        found && $1 == name { sub(/^ *[A-Z_]+ = /, ""); print; exit }' "$ninja_file"
}
# The values are shell words, as Ninja hands them to the shell: the server address is quoted.
defines=() build_flags=() include_words=()
eval "defines=($(library_compile DEFINES))"
eval "build_flags=($(library_compile FLAGS))"
eval "include_words=($(library_compile INCLUDES))"
if ((${#defines[@]} == 0 || ${#include_words[@]} == 0)); then
    echo "windows-check: no library compile rule in $ninja_file" >&2
    exit 1
fi

warnings=()
for flag in "${build_flags[@]}"; do
    if [[ "$flag" == -W* ]]; then
        warnings+=("$flag")
    fi
done

# The build's include paths, with its source folder swapped for this one (the build may belong
# to another checkout) and the Linux platform folder of Qt's mkspecs left out.
configured_source="$(sed -n 's/^HalVernFlashTool_SOURCE_DIR:STATIC=//p' "$cache")"
includes=(-I "$root")
for ((i = 0; i < ${#include_words[@]}; i++)); do
    word="${include_words[i]}"
    case "$word" in
    -I | -isystem)
        path="${include_words[i + 1]}"
        i=$((i + 1))
        ;;
    -I*)
        word=-I
        path="${include_words[i]#-I}"
        ;;
    *) continue ;;
    esac
    if [[ "$path" == "$configured_source" || "$path" == */mkspecs/* ]]; then
        continue
    fi
    includes+=("$word" "$path")
done

# The forms' headers are generated at build time; a build that was only configured has none yet.
if ! compgen -G "$build/halvern_core_autogen/include/ui_*.h" >/dev/null; then
    cmake --build "$build" --target halvern_core_autogen
fi

# Every source goes into the Windows build too: UdevDeviceSource.cpp keeps its body under
# Q_OS_LINUX, so it is checked as well.
sources=()
for folder in app device cloud ui; do
    for source in "$root/$folder"/*.cpp; do
        sources+=("${source#"$root"/}")
    done
done

cd "$root"
for source in "${sources[@]}"; do
    if ! "$compiler" -std=c++17 -fsyntax-only "${warnings[@]}" "${defines[@]}" "${includes[@]}" \
        "$source"; then
        echo "windows-check: $source does not compile for Windows" >&2
        exit 1
    fi
done
echo "windows-check: ${#sources[@]} sources compile for Windows"

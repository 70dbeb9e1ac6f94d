#!/usr/bin/env bash
# cmake --install into a new prefix puts every file where a Linux desktop looks for it: the
# programs, the manual, the manual pages, the completions, the desktop entry, the metainfo
# and the icons; the installed programs run, and the desktop files pass their validators.
#   install_list.sh SOURCE-FOLDER BUILD-FOLDER MAN-PAGES(ON|OFF)
set -euo pipefail
root="$1"
build="$2"
man_pages="$3"
prefix="$(mktemp -d)"
trap 'rm -rf "$prefix"' EXIT
fail() {
    echo "FAILED: $*"
    exit 1
}

cmake --install "$build" --prefix "$prefix" >/dev/null

expected="$(
    cat "$root/tests/programs/installed-files.txt"
    for file in "$root"/src/ui/manual/*; do
        echo "share/hivewarden/manual/$(basename "$file")"
    done
)"
[[ "$man_pages" == ON ]] || expected="$(grep -v '^share/man/' <<<"$expected")"
installed="$(cd "$prefix" && find . \( -type f -o -type l \) -printf '%P\n')"
if ! diff <(sort <<<"$expected") <(sort <<<"$installed"); then
    fail "the installed files differ from the list (< expected, > installed)"
fi

# The installed programs run from their place, the window's without a display.
for program in hivewarden hivewarden-cli; do
    version="$(env -u DISPLAY -u WAYLAND_DISPLAY "$prefix/bin/$program" --version)" ||
        fail "$program --version failed"
    [[ "$version" == "$program "* ]] || fail "$program --version printed: $version"
done
if [[ "$man_pages" == ON ]]; then
    # The page lists every command of the program.
    page="$(gzip -dc "$prefix/share/man/man1/hivewarden-cli.1.gz")"
    while read -r command; do
        grep -qF "$command" <<<"$page" || fail "the manual page lacks the command $command"
    done < <("$prefix/bin/hivewarden-cli" --help | sed -n '/^Commands:$/,$ s/^  \([a-z][a-z-]*\( [a-z][a-z-]*\)\?\)  .*/\1/p')
    # Text laid out as the program prints it keeps its backslashes.
    if command -v man >/dev/null; then
        MANWIDTH=100 man -l "$prefix/share/man/man1/hivewarden-cli.1.gz" 2>/dev/null |
            grep -qF '"\Restores\2024"' || fail "the manual page lost the backslashes of store run"
    fi
fi

if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$prefix/share/applications/hivewarden.desktop" ||
        fail "desktop-file-validate"
fi
if command -v appstreamcli >/dev/null; then
    appstreamcli validate --no-net --pedantic "$prefix/share/metainfo/hivewarden.metainfo.xml" ||
        fail "appstreamcli validate"
fi
echo "cmake --install put the $(wc -l <<<"$installed") files of the list in place"

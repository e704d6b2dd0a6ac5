#!/usr/bin/env bash
# Installs the build into a scratch folder and checks what a user of the
# package meets beside the programs: every installed program has a manual
# page that gives its exit status and a bash completion that offers every
# option its --help lists, and the window's AppStream entry, desktop entry and
# icons agree.
#   installed_files_test.sh CMAKE BUILD_DIR
set -euo pipefail
# Staged as a package would be: the FlightGear protocol files go to
# FlightGear's own folder, outside the prefix.
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
DESTDIR=$stage "$1" --install "$2" --prefix /usr >/dev/null
root=$stage/usr

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# Prints, one a line, what the completion of PROGRAM offers for its command
# line WORDS... (the last word being completed).
complete_words() {
    bash -c 'source "$1"; shift
             COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
             function=$(complete -p "$1" | sed -n "s/.* -F \([^ ]*\) .*/\1/p")
             "$function"
             printf "%s\n" "${COMPREPLY[@]}"' _ "$root/share/bash-completion/completions/$1" "$@"
}

for program in "$root"/bin/*; do
    name=${program##*/}
    page=$root/share/man/man1/$name.1.gz
    if [[ ! -f $page ]]; then
        fail "$name has no manual page"
    elif ! zgrep -q '^\.SH "EXIT STATUS"' "$page"; then
        fail "the manual page of $name does not give its exit status"
    fi
    if [[ ! -f $root/share/bash-completion/completions/$name ]]; then
        fail "$name has no bash completion"
        continue
    fi
    offered=$(complete_words "$name" --)
    for option in $("$program" --help | grep -E '^  -' | grep -oE -- '--[a-z][-a-z]*' | sort -u); do
        grep -qxF -- "$option" <<<"$offered" || fail "the completion of $name does not offer $option"
    done
done

# Values with a fixed set of choices complete to them.
choices=$(complete_words kestrun-export --format '' | tr '\n' ' ')
[[ $choices == "csv gpx kml svg summary igc " ]] || fail "kestrun-export --format completes to '$choices'"

for protocol in kestrun.xml kestrun-replay.xml; do
    [[ -f $root/share/games/flightgear/Protocol/$protocol ]] ||
        fail "$protocol is not installed where FlightGear looks for it"
done

# The logbook's menu entry is installed even without the window.
[[ -f $root/share/applications/org.kestrun.Logbook.desktop ]] ||
    fail "the Kestrun Logbook desktop entry is not installed"
for entry in "$root"/share/applications/*.desktop; do
    desktop-file-validate "$entry" >&2 || fail "desktop-file-validate refuses $(basename "$entry")"
done

if [[ -d $root/share/metainfo ]] && command -v appstreamcli >/dev/null; then
    appstreamcli validate-tree --no-net "$root" >&2 || fail "appstreamcli refuses the installed tree"
fi
((failures == 0))

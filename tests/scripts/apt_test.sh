#!/usr/bin/env bash
# setup.sh's apt decisions against a stand-in apt-get, first on PATH, that fails the way a mirror in
# the middle of a sync does: one index of the update with the wrong size, and an install that cannot
# be resolved from the lists until it is resolved against the release's own suite.
#   apt_test.sh SCRIPTS_DIR
set -uo pipefail
scripts=$(cd "$1" && pwd)
source "$(dirname "$0")/../support/check.sh"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"
calls=$work/calls
cat > "$work/bin/apt-get" <<'STANDIN'
#!/usr/bin/env bash
# Stand-in: the arguments to $calls, then the answer $mode asks for.
echo "$*" >> "$STANDIN_CALLS"
count=$(grep -c . "$STANDIN_CALLS")
case " $* " in
*" update "*)
    echo "Get:1 http://deb.debian.org/debian bookworm InRelease [151 kB]"
    if [[ $STANDIN_UPDATE == always || ( $STANDIN_UPDATE == once && $count == 1 ) ]]; then
        echo "Err:6 http://deb.debian.org/debian-security bookworm-security/main i386 Packages"
        echo "  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 203.0.113.80 80]"
        echo "E: Failed to fetch http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress?"
        echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
        exit 100
    fi
    echo "Reading package lists..." ;;
*" install "*)
    case $STANDIN_INSTALL in
    ok) exit 0 ;;
    release) [[ " $* " == *" -t bookworm "* ]] && exit 0 ;;
    unknown) echo "E: Unable to locate package no-such-package"; exit 100 ;;
    esac
    echo "The following packages have unmet dependencies:"
    echo " libkrb5-3:i386 : Depends: libssl3:i386 (>= 3.0.0) but it is not going to be installed"
    echo " libelf1:i386 : Depends: zlib1g:i386 (>= 1:1.1.4) but it is not going to be installed"
    echo "E: Error, pkgProblemResolver::Resolve generated breaks, this may be caused by held packages."
    exit 100 ;;
esac
STANDIN
chmod +x "$work/bin/apt-get"
export PATH=$work/bin:$PATH STANDIN_CALLS=$calls APT_RETRY_PAUSE=0

# run UPDATE INSTALL COMMAND...: the command in a shell that sourced apt.sh; its status, its standard
# error in $work/err and the stand-in's calls in $calls.
run() {
    export STANDIN_UPDATE=$1 STANDIN_INSTALL=$2
    shift 2
    : > "$calls"
    (set -euo pipefail; source "$scripts/apt.sh"; as_root() { "$@"; }; apt_release() { echo bookworm; }; "$@") \
        >/dev/null 2>"$work/err"
}
calls_of() { grep -c -- "$1" "$calls"; }

run never ok apt_update
check "a clean update: one call" "0 1" "$? $(calls_of update)"
check "a clean update: nothing said" "" "$(cat "$work/err")"

run once ok apt_update
check "an update failing once: tried again, then fine" "0 2" "$? $(calls_of update)"
check "an update failing once: the retry said" 1 "$(grep -c 'trying again' "$work/err")"
check "an update failing once: nothing left out" 0 "$(grep -c 'going on without' "$work/err")"

run always ok apt_update -o Dir::State::Lists=/x
check "an index that keeps failing: tried 3 times, then goes on" "0 3" "$? $(calls_of update)"
check "the failed index is named" 1 \
    "$(grep -c '^setup:   http://deb.debian.org/debian-security bookworm-security/main i386 Packages$' "$work/err")"
check "an update's options reach apt-get" 3 "$(calls_of 'Dir::State::Lists=/x')"

run never release apt_install wine wine32:i386
status=$?
check "an unresolvable install: resolved against the release's suite" "0 2" "$status $(calls_of install)"
check "the second try names the suite" "-t bookworm wine wine32:i386" \
    "$(sed -n 2p "$calls" | grep -o -- '-t bookworm.*')"
check "the second try is said" 1 "$(grep -c "resolved against the release's own suite (bookworm)" "$work/err")"

run never ok apt_install wine
check "a resolvable install: one call, nothing said" "0 1 " "$? $(calls_of install) $(cat "$work/err")"

run never never apt_install wine wine32:i386
status=$?
check "unresolvable either way: fails after two tries" "100 2" "$status $(calls_of install)"
check "what was asked for is named" 1 "$(grep -c '^setup: cannot install: wine wine32:i386$' "$work/err")"
check "what cannot be had is named" 1 \
    "$(grep -c '^setup: not to be had from the package lists: libssl3:i386 zlib1g:i386$' "$work/err")"

run never unknown apt_install no-such-package
check "an unknown package is named" "100 1" \
    "$? $(grep -c '^setup: not to be had from the package lists: no-such-package$' "$work/err")"

# setup.sh stops on a failed install, whatever its own shell options.
run never never bash -c "set -e; source '$scripts/apt.sh'; as_root() { \"\$@\"; }; apt_install x; echo after"
check "a failed install stops a script under set -e" 100 "$?"

summary "apt"

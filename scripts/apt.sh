# apt-get as setup.sh uses it, with a mirror's passing faults in mind. Sourced, not run.
#   apt_update [APT-OPTION...]          update; tried again a few times, then goes on without what failed
#   apt_install PACKAGE...              install; once more against the release's own suite if unresolvable
# Both print apt's own output as it comes. apt_install returns non-zero only after saying what cannot
# be had. APT_RETRY_PAUSE sets the first pause between tries (seconds; it doubles each time).

apt_tries=3
apt_pause=${APT_RETRY_PAUSE:-10}

as_root() {
    if [[ $(id -u) == 0 ]]; then "$@"; else sudo "$@"; fi
}

# The release's own suite ("bookworm"), from os-release.
apt_release() {
    (. /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}")
}

# Runs apt-get with its output shown and kept in the file $1; apt-get's status.
apt_logged() {
    local log=$1
    shift
    as_root env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 "$@" 2>&1 | tee "$log"
    return "${PIPESTATUS[0]}"
}

# The indexes an update could not fetch, one per line: "Err:6 http://... bookworm-security/main i386
# Packages" gives "http://... bookworm-security/main i386 Packages".
apt_failed_indexes() {
    sed -n -E 's/^Err:[0-9]+ +(.*[^ ]) *$/\1/p' "$1" | sort -u
}

apt_update() {
    local log try pause=$apt_pause failed
    log=$(mktemp)
    for ((try = 1; try <= apt_tries; try++)); do
        if apt_logged "$log" "$@" update -q && [[ -z $(apt_failed_indexes "$log") ]]; then
            rm -f "$log"
            return 0
        fi
        if ((try < apt_tries)); then
            echo "setup: apt-get update failed (try $try of $apt_tries); trying again in ${pause} s" >&2
            sleep "$pause"
            pause=$((pause * 2))
        fi
    done
    failed=$(apt_failed_indexes "$log")
    rm -f "$log"
    if [[ -n $failed ]]; then
        echo "setup: going on without these package indexes, which could not be fetched:" >&2
        sed 's/^/setup:   /' <<<"$failed" >&2
    else
        echo "setup: apt-get update failed $apt_tries times; going on with the package lists there are" >&2
    fi
    return 0
}

# Whether apt's answer in $1 is one it could not resolve from its lists.
apt_unresolved() {
    grep -q -E 'unmet dependencies|Unable to correct problems|held broken packages|pkgProblemResolver|Unable to locate package|has no installation candidate' "$1"
}

# What apt's answer in $1 says cannot be had: packages it does not know or cannot install.
apt_unavailable() {
    {
        sed -n -E 's/^E: Unable to locate package (.*)$/\1/p; s/^E: Package .(.*). has no installation candidate$/\1/p' "$1"
        sed -n -E 's/.*Depends: ([^ ]+).* but it is not (going to be installed|installable).*/\1/p' "$1"
    } | sort -u | paste -s -d ' '
}

apt_install() {
    local log release status=0
    log=$(mktemp)
    apt_logged "$log" install -y -q --no-install-recommends "$@" || status=$?
    if ((status != 0)) && apt_unresolved "$log"; then
        release=$(apt_release)
        if [[ -n $release ]]; then
            echo "setup: the install cannot be resolved from the package lists; trying once more resolved against the release's own suite ($release)" >&2
            status=0
            apt_logged "$log" install -y -q --no-install-recommends -t "$release" "$@" || status=$?
        fi
    fi
    if ((status != 0)); then
        local missing
        missing=$(apt_unavailable "$log")
        echo "setup: cannot install: $*" >&2
        [[ -n $missing ]] && echo "setup: not to be had from the package lists: $missing" >&2
    fi
    rm -f "$log"
    return "$status"
}

#!/usr/bin/env bash
# The installer package's version rules, without Wine: the project's version as the package's version,
# the versions it replaces and the ones it gives way to, and the versions no package can carry.
#   msi_version_test.sh <settings.cmake> <BuildMsi.cmake> <cmake>
# Exits 77 (skipped) where the package was not built or msiinfo is missing.
set -uo pipefail
settings=$1 build_msi=$2 cmake=$3
if [[ ! -f $settings ]]; then
    echo "skipped: no installer package was built; see the configure step's 'No installer package' line"
    exit 77
fi
if ! command -v msiinfo >/dev/null; then
    echo "skipped: msiinfo (msitools) is not installed"
    exit 77
fi
source "$(dirname "${BASH_SOURCE[0]}")/../support/check.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

package() { timeout 120 "$cmake" -DSETTINGS="$settings" -DVERSION="$1" -DOUTPUT="$2" -P "$build_msi" >"$work/log" 2>&1; }
# A table's rows without msiinfo's three header lines, for one column set.
rows() { msiinfo export "$1" "$2" | tail -n +4 | tr -d '\r'; }

# version | ProductVersion | the lowest version not replaced (the upgrade rows' bound)
while IFS='|' read -r version product below; do
    msi=$work/GleanerQt-$version-x86.msi
    package "$version" "$msi" || { check "$version: built" 0 "$?"; cat "$work/log"; continue; }
    check "$version: product version" "$product" "$(rows "$msi" Property | sed -n 's/^ProductVersion\t//p')"
    # UpgradeCode, VersionMin, VersionMax, Language, Attributes, Remove, ActionProperty
    check "$version: replaces every version below $below" "0.0.0	$below	256	GLEANER_REPLACED" \
        "$(rows "$msi" Upgrade | awk -F'\t' '$7 == "GLEANER_REPLACED" { print $2 "\t" $3 "\t" $5 "\t" $7 }')"
    check "$version: refuses from $below on" "$below		258	GLEANER_NEWER" \
        "$(rows "$msi" Upgrade | awk -F'\t' '$7 == "GLEANER_NEWER" { print $2 "\t" $3 "\t" $5 "\t" $7 }')"
done <<'TABLE'
0.1|0.1.0|0.1.1
1|1.0.0|1.0.1
0.2.3|0.2.3|0.2.4
0.2.3.4|0.2.3.4|0.2.4
0.1.65535|0.1.65535|0.2.0
0.255.65535|0.255.65535|1.0.0
TABLE

# Not a package version: refused, and no package left behind.
for version in '' 0.1-rc1 1.2.3.4.5 256.0 0.256 0.1.65536 .1 255.255.65535; do
    msi=$work/bad.msi
    package "$version" "$msi"; rc=$?
    check "'$version': refused" yes "$([[ $rc != 0 ]] && echo yes)"
    check "'$version': nothing written" "" "$(find "$work" -name 'bad.msi*')"
done

# The package's tables that wixl cannot write, added after it.
msi=$work/GleanerQt-0.1-x86.msi
check "per-user or per-machine registry root (HKMU)" "-1
-1" "$(rows "$msi" Registry | cut -f2)"
check "PATH in its scope" "$(printf 'MachinePath\tALLUSERS=1\nUserPath\tNOT ALLUSERS=1')" \
    "$(rows "$msi" Component | awk -F'\t' '$1 ~ /Path$/ { print $1 "\t" $5 }' | sort)"
check "PATH rows" "$(printf 'MachinePath\t=-*Path\t[INSTALLDIR];[~]\tMachinePath\nUserPath\t=-Path\t[INSTALLDIR];[~]\tUserPath')" \
    "$(rows "$msi" Environment | sort)"

summary "installer package versions"

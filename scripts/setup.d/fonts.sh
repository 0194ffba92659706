#!/bin/bash
# Fetches the Montserrat family (TTF files, SIL Open Font License) from the npm registry into a
# per-user cache that every checkout and build folder of this machine shares. The build picks
# the files up from there and gives them their resource names; nothing is committed.
# Usage: fonts.sh <repository top>   (run by scripts/setup)
set -euo pipefail

package="@expo-google-fonts/montserrat"
version="0.4.2"
sha256="27dfd624c74ba3240597a643d580ea8fe043eda17aceeee50364e08d542cd78e"

cache="${TAVRIX_FONTS_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/tavrixvpn/montserrat-$version}"

if [ "$(find "$cache" -maxdepth 1 -name 'Montserrat_*.ttf' 2>/dev/null | wc -l)" -eq 18 ] \
        && [ -f "$cache/LICENSE_FONT" ]; then
    exit 0
fi

command -v npm >/dev/null || { echo "fonts: npm is missing (scripts/setup installs it)" >&2; exit 1; }
echo "fonts: fetching $package@$version"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
(cd "$work" && npm pack --silent "$package@$version" >/dev/null)
tarball="$(find "$work" -maxdepth 1 -name '*.tgz' | head -n 1)"
[ -n "$tarball" ] || { echo "fonts: npm pack produced no archive" >&2; exit 1; }
if ! echo "$sha256  $tarball" | sha256sum --check --status; then
    echo "fonts: $package@$version does not match the pinned checksum" >&2
    exit 1
fi
mkdir -p "$work/x"
tar -xzf "$tarball" -C "$work/x" --wildcards 'package/*/*.ttf' package/LICENSE_FONT

# Fill a sibling folder first and swap it in, so a broken run never leaves half a family.
mkdir -p "$(dirname "$cache")"
fresh="$cache.new.$$"
rm -rf "$fresh"
mkdir -p "$fresh"
find "$work/x/package" -name 'Montserrat_*.ttf' -exec cp {} "$fresh/" \;
cp "$work/x/package/LICENSE_FONT" "$fresh/"
count="$(find "$fresh" -name 'Montserrat_*.ttf' | wc -l)"
if [ "$count" -ne 18 ]; then
    echo "fonts: expected 18 font files, the package has $count" >&2
    rm -rf "$fresh"
    exit 1
fi
rm -rf "$cache"
mv "$fresh" "$cache"
echo "fonts: Montserrat ready in $cache"

#!/usr/bin/env bash
# Builds the Debian package from a build directory and checks it as a user would get it: the
# control fields, every file in it with owner and mode, the computed dependencies, and that the
# unpacked programs start without the build tree.
#   check_deb.sh BUILD_DIR SOURCE_DIR VERSION
set -euo pipefail
build=$(realpath "$1")
src=$(realpath "$2")
version=$3

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

start=$(date +%s)
if ! (cd "$build" && cpack -G DEB -B "$work/out" >"$work/cpack.log" 2>&1); then
  cat "$work/cpack.log" >&2
  echo "FAIL: cpack could not build the package" >&2
  exit 1
fi
shopt -s nullglob
debs=("$work"/out/*.deb)
if [ ${#debs[@]} -ne 1 ]; then
  echo "FAIL: expected one .deb, got: ${debs[*]:-none}" >&2
  exit 1
fi
deb=${debs[0]}
arch=$(dpkg --print-architecture)
echo "built $(basename "$deb"), $(stat -c %s "$deb") bytes, in $(($(date +%s) - start)) s"

# Control fields.
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(basename "$deb")" = "dahlo_${version}_${arch}.deb" ] || fail "file name $(basename "$deb")"
[ "$(field Package)" = dahlo ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version), project is $version"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture: $(field Architecture)"
[ "$(field Section)" = hamradio ] || fail "Section: $(field Section)"
grep -Eq '^[^<>]+ <[^<>@ ]+@[^<> ]+>$' <<<"$(field Maintainer)" ||
  fail "Maintainer is not 'Name <address>': $(field Maintainer)"
description=$(field Description)
[ "$(wc -l <<<"$description")" -ge 3 ] || fail "Description has no long part: $description"

# Depends is computed from the binaries: every library they link, with a minimum version.
depends=$(field Depends)
echo "Depends: $depends"
for package in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6dbus6 libsndfile1 libhamlib4 \
  libsamplerate0 libportaudio2 libpulse0; do
  tr ',' '\n' <<<"$depends" | awk -v p="$package" '$1 == p && $2 == "(>=" { found = 1 }
                                                   END { exit !found }' ||
    fail "Depends has no versioned $package"
done

# Exactly these files, owned by root, with the modes Debian expects.
expected="./usr/bin/dahlo
./usr/bin/dahlo-decode
./usr/share/applications/dahlo.desktop
./usr/share/dahlo/dahlo.hlp
./usr/share/doc/dahlo/changelog.gz
./usr/share/icons/hicolor/scalable/apps/dahlo.svg
./usr/share/man/man1/dahlo-decode.1.gz
./usr/share/man/man1/dahlo.1.gz
./usr/share/metainfo/org.dahlo.Dahlo.metainfo.xml"
dpkg-deb -c "$deb" >"$work/listing"
actual=$(awk '$1 !~ /^d/ { print $6 }' "$work/listing" | sort)
if [ "$actual" != "$expected" ]; then
  fail "files in the package differ from the expected list:"
  diff <(echo "$expected") <(echo "$actual") >&2 || true
fi
bad_modes=$(awk '$2 != "root/root" ||
                 ($1 ~ /^d/ && $1 != "drwxr-xr-x") ||
                 ($1 ~ /^-/ && $6 ~ /^\.\/usr\/bin\// && $1 != "-rwxr-xr-x") ||
                 ($1 ~ /^-/ && $6 !~ /^\.\/usr\/bin\// && $1 != "-rw-r--r--")' "$work/listing")
[ -z "$bad_modes" ] || fail "wrong owner or mode:
$bad_modes"

# Unpacked, the programs link only system libraries and carry no path into the build tree.
root=$work/root
dpkg-deb -x "$deb" "$root"
for program in dahlo dahlo-decode; do
  binary=$root/usr/bin/$program
  [ -x "$binary" ] || { fail "$program missing"; continue; }
  if ldd "$binary" | grep -q "not found"; then
    fail "$program: unresolved libraries: $(ldd "$binary" | grep "not found")"
  fi
  if readelf -d "$binary" | grep -Eq '\((RPATH|RUNPATH)\)'; then
    fail "$program keeps a library path: $(readelf -d "$binary" | grep -E 'R(UN)?PATH')"
  fi
  if readelf -S "$binary" | grep -q '\.symtab'; then
    fail "$program is not stripped"
  fi
done

# dahlo-decode runs from the unpacked tree, in an empty environment and working directory.
cp "$src/samples/cq-20wpm-700hz.flac" "$work/"
run_decode() { (cd "$work" && env -i PATH=/usr/bin:/bin HOME="$work" "$root/usr/bin/dahlo-decode" "$@"); }
if ! out=$(run_decode --version 2>&1); then
  fail "dahlo-decode --version failed: $out"
elif ! grep -q "$version" <<<"$out"; then
  fail "dahlo-decode --version does not say $version: $out"
fi
# The text keyed into the sample (samples/README.md).
if ! out=$(run_decode cq-20wpm-700hz.flac 2>"$work/decode.err"); then
  fail "dahlo-decode could not decode the sample: $(cat "$work/decode.err")"
elif ! grep -qi "cq cq de dl1abc dl1abc k" <<<"$out"; then
  fail "dahlo-decode did not decode the CQ call in the sample: $out"
fi

# The help viewer looks beside the program in ../share/dahlo/.
cmp -s "$root/usr/bin/../share/dahlo/dahlo.hlp" "$src/docs/dahlo.hlp" ||
  fail "the help document is not at bin/../share/dahlo/dahlo.hlp"

# Manual pages: whole, and compressed without a name or time stamp, as Debian ships them.
for page in dahlo.1 dahlo-decode.1; do
  gz=$root/usr/share/man/man1/$page.gz
  [ -f "$gz" ] || continue
  cmp -s <(gzip -dc "$gz") "$src/docs/$page" || fail "$page.gz does not hold docs/$page"
  [ "$(od -An -tu4 -j4 -N4 "$gz" | tr -d ' ')" = 0 ] || fail "$page.gz carries a time stamp"
done

# The changelog's newest entry is this release.
changelog=$root/usr/share/doc/dahlo/changelog.gz
if [ -f "$changelog" ]; then
  head=$(gzip -dc "$changelog" | head -n 1)
  [ "$head" = "dahlo ($version) unstable; urgency=medium" ] ||
    fail "changelog's newest entry is '$head', the project is $version"
fi

# Debian's own checks. The project states no licence yet, so there is no copyright file to
# ship; that one finding stays until the owners choose a licence.
if ! lintian --fail-on error,warning --suppress-tags no-copyright-file "$deb" >"$work/lintian.log" 2>&1; then
  cat "$work/lintian.log" >&2
  fail "lintian finds errors or warnings in the package"
fi

# The desktop entry, the icon and the AppStream metadata name each other and the program.
desktop=$root/usr/share/applications/dahlo.desktop
metainfo=$root/usr/share/metainfo/org.dahlo.Dahlo.metainfo.xml
if [ -f "$desktop" ] && [ -f "$metainfo" ]; then
  desktop-file-validate "$desktop" || fail "desktop-file-validate rejects dahlo.desktop"
  appstreamcli validate --no-net "$metainfo" >"$work/appstream.log" 2>&1 ||
    { cat "$work/appstream.log" >&2; fail "appstreamcli rejects the metainfo"; }
  exec_name=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
  [ -x "$root/usr/bin/$exec_name" ] || fail "Exec=$exec_name is not a program in the package"
  icon=$(sed -n 's/^Icon=//p' "$desktop")
  [ -f "$root/usr/share/icons/hicolor/scalable/apps/$icon.svg" ] ||
    fail "Icon=$icon is not an icon in the package"
  launchable=$(sed -n 's:.*<launchable type="desktop-id">\(.*\)</launchable>.*:\1:p' "$metainfo")
  [ "$launchable" = dahlo.desktop ] || fail "metainfo launches '$launchable', not dahlo.desktop"
  newest=$(sed -n 's:.*<release version="\([^"]*\)".*:\1:p' "$metainfo" | head -n 1)
  [ "$newest" = "$version" ] || fail "metainfo's newest release is $newest, the project is $version"
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures package checks failed" >&2
  exit 1
fi
echo "package checks passed"

#!/usr/bin/env bash
# The three packages as a user gets them: made with the README's commands from an empty
# package folder, the .deb put through lintian (no E: and no W: line), each package
# unpacked into a scratch folder and its quillmark and quillsum run on `abc` and on a
# missing file (the .exe files under Wine), and the packaged man pages rendered with
# `man -l`, without a warning from groff. The version each package shows must be the
# project's.
set -euo pipefail
cd "$(dirname "$0")/../.."
here=$PWD

# The packages carry the last commit's time, as a release from this commit would.
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null || true)
fi
export SOURCE_DATE_EPOCH

fail() {
    echo "FAIL: $*"
    exit 1
}

rm -rf build/packages
cmake --preset release && cmake --build --preset release && cpack --preset deb
cpack --preset tgz
cmake --preset mingw && cmake --build --preset mingw && cpack --preset win64-zip

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/release/CMakeCache.txt)
[ -n "$version" ] || fail "no project version in build/release/CMakeCache.txt"
deb=build/packages/quillmark_${version}_amd64.deb
tgz=build/packages/quillmark-${version}-linux-x86_64.tar.gz
zip=build/packages/quillmark-${version}-win64.zip
for package in "$deb" "$tgz" "$zip"; do
    [ -f "$package" ] || fail "no $package; build/packages holds: $(ls build/packages)"
done

echo "--- lintian $deb"
lint=$(lintian --display-info "$deb" 2>&1) || true
echo "$lint"
! grep -E '^(E|W):' <<<"$lint" >/dev/null || fail "lintian reports errors or warnings"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "the .deb's version is not $version"

work=$(mktemp -d "${TMPDIR:-/tmp}/quillmark-package.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
printf abc >abc
abc_line=0300000000000000BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD

try() {  # try <eol> <quillmark command...>: quillmark on abc, then on a missing file
    local eol=$1 rc
    shift
    rc=0
    "$@" abc >out.bin 2>err.txt || rc=$?
    [ "$rc" = 0 ] && [ ! -s err.txt ] && cmp -s out.bin <(printf '%s%s' "$abc_line" "$eol") ||
        fail "$* abc: exit $rc, printed '$(cat -A out.bin err.txt)'"
    rc=0
    "$@" missing >out.bin 2>err.txt || rc=$?
    [ "$rc" = 2 ] && [ ! -s err.txt ] &&
        cmp -s out.bin <(printf "Failed to open file 'missing'%s" "$eol") ||
        fail "$* missing: exit $rc, printed '$(cat -A out.bin err.txt)'"
    echo "ran $*: abc and a missing file"
}

try_sum() {  # try_sum <eol> <quillsum command...>: the same for quillsum, whose problems
    local eol=$1 rc  # go to standard error
    shift
    rc=0
    "$@" abc >out.bin 2>err.txt || rc=$?
    [ "$rc" = 0 ] && [ ! -s err.txt ] && cmp -s out.bin <(printf '%s  abc%s' "$abc_line" "$eol") ||
        fail "$* abc: exit $rc, printed '$(cat -A out.bin err.txt)'"
    rc=0
    "$@" missing >out.bin 2>err.txt || rc=$?
    [ "$rc" = 2 ] && [ ! -s out.bin ] &&
        cmp -s err.txt <(printf 'quillsum: missing: No such file or directory%s' "$eol") ||
        fail "$* missing: exit $rc, printed '$(cat -A out.bin err.txt)'"
    echo "ran $*: abc and a missing file"
}

manual() {  # manual <page>: man renders it, with the project's version in its footer,
    local text warnings  # and groff has nothing to warn about
    text=$(MANWIDTH=80 man -P cat -l "$1" 2>&1) || fail "man -l $1: $text"
    grep -q "^NAME" <<<"$text" || fail "man -l $1 shows no NAME section"
    grep -q "quillmark $version" <<<"$text" || fail "man -l $1 shows no 'quillmark $version'"
    warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l "$1" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "man --warnings -l $1: $warnings"
    echo "man -l renders $1"
}

mkdir root
dpkg-deb -x "$here/$deb" root
try $'\n' root/usr/bin/quillmark
try_sum $'\n' root/usr/bin/quillsum
manual root/usr/share/man/man1/quillmark.1.gz
manual root/usr/share/man/man1/quillsum.1.gz

mkdir tarball
tar -xzf "$here/$tgz" -C tarball
top=tarball/quillmark-${version}-linux-x86_64
try $'\n' "$top/bin/quillmark"
try_sum $'\n' "$top/bin/quillsum"
manual "$top/share/man/man1/quillmark.1"
manual "$top/share/man/man1/quillsum.1"
for doc in README.md LICENSE; do
    cmp "$here/$doc" "$top/share/doc/quillmark/$doc" || fail "the tarball's $doc differs"
done

mkdir zip
unzip -q "$here/$zip" -d zip
top=zip/quillmark-${version}-win64
# Every line of the README ends in CR LF, and it says what the README says.
tr -d '\r' <"$top/README.txt" | cmp -s - "$here/README.md" &&
    [ "$(grep -c $'\r$' "$top/README.txt")" = "$(wc -l <"$here/README.md")" ] ||
    fail "README.txt is not the README with CR LF line ends"
[ "$(tr -d '\r' <"$top/LICENSE.txt")" = "$(cat "$here/LICENSE")" ] || fail "LICENSE.txt differs"
# Each program's version resource (UTF-16) and manifest carry the project's version and
# the program's own names.
resources() {  # resources <program> <assembly name>
    local exe=$top/$1.exe pair
    [ -f "$exe" ] || fail "the zip holds no $1.exe"
    grep -qaF "name=\"$2\" version=\"$version.0\"" "$exe" ||
        fail "the manifest of $1.exe is not $2 version $version.0"
    strings -el "$exe" >resource.txt
    for pair in "FileVersion $version.0" "ProductVersion $version" "ProductName quillmark" \
        "InternalName $1" "OriginalFilename $1.exe"; do
        grep -A1 -x "${pair% *}" resource.txt | grep -qx "${pair#* }" ||
            fail "the version resource of $1.exe has no $pair"
    done
}
resources quillmark Corvantis.Sentrel.Quillmark
resources quillsum Corvantis.Sentrel.Quillsum
export WINEPREFIX=$here/build/mingw/wineprefix WINEDEBUG=-all LC_ALL=C.UTF-8
try $'\r\n' /usr/lib/wine/wine64 "$top/quillmark.exe"
try_sum $'\r\n' /usr/lib/wine/wine64 "$top/quillsum.exe"
/usr/lib/wine/wineserver -k 2>/dev/null || true
echo "packages good: $deb $tgz $zip"

#!/usr/bin/env bash
# Same commit, same bytes: the tree is copied into another folder (a path of another
# length, so that no padded field hides a difference) and built there as well, then
# quillmark.exe and quillsum.exe, the Linux release binaries and the three packages must
# equal those of this tree byte for byte. Neither the build folder nor the time of the
# build may reach them. Builds this tree's release preset when needed, and the mingw
# preset's two programs when they are not there yet.
set -euo pipefail
cd "$(dirname "$0")/.."
here=$PWD

# As a user builds: without SOURCE_DATE_EPOCH, which the linker and cpack would otherwise
# put in place of the time of the build. The binaries must not need it, and the packages
# must fall back to their fixed time.
unset SOURCE_DATE_EPOCH

scratch=$(mktemp -d "${TMPDIR:-/tmp}/quillmark-reproducible.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
other=$scratch/a-checkout-in-another-folder
mkdir "$other"
# The files a checkout holds (committed or not), without any build output.
git ls-files -z --cached --others --exclude-standard | xargs -0 cp --parents -t "$other"

build() {  # build <tree> <package folder>: release and Windows builds, then packages
    local tree=$1 packages=$2 preset
    (
        set -e
        cd "$tree"
        cmake --preset release >/dev/null
        cmake --build --preset release
        cmake --preset mingw >/dev/null
        cmake --build --preset mingw --target quillmark quillsum
        for preset in deb tgz win64-zip; do
            cpack --preset "$preset" -B "$packages" >/dev/null
        done
    )
}
build "$here" "$scratch/packages-here"
build "$other" "$scratch/packages-other"

failed=0
same() {  # same <file in this tree> <file in the copy>
    if cmp -s "$1" "$2"; then
        echo "same bytes: ${1#"$here"/}"
    else
        echo "DIFFERENT: $1 and $2"
        cmp "$1" "$2" | head -n 1 || true
        failed=1
    fi
}
for program in quillmark quillsum; do
    same "$here/build/release/$program" "$other/build/release/$program"
    same "$here/build/mingw/$program.exe" "$other/build/mingw/$program.exe"
done
for package in "$scratch"/packages-here/*.{deb,tar.gz,zip}; do
    same "$package" "$scratch/packages-other/${package##*/}"
done
exit "$failed"

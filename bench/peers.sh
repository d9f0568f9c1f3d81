# Sourced by the benchmarks: what they need from Debian before they can measure.

# install_missing <package>...: installs the packages named (those a benchmark found
# missing) from Debian's archive; without root it names them and exits.
install_missing() {
    [ "$#" -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "run as root, or install these Debian packages first: $*"
        exit 1
    fi
    echo "installing: $*"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update >/dev/null
    apt-get install -y --no-install-recommends "$@" >/dev/null
}

# need_space <MiB>: exits unless scratch_parent (TMPDIR, else /tmp) has that much free.
scratch_parent=${TMPDIR:-/tmp}
need_space() {
    local need_kib=$(($1 * 1024)) avail_kib
    avail_kib=$(df -Pk "$scratch_parent" | awk 'NR == 2 { print $4 }')
    ((avail_kib >= need_kib)) || {
        echo "$scratch_parent has $((avail_kib / 1024)) MiB free, needs $1 MiB"
        exit 1
    }
}

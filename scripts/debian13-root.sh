# Sourced by the compatibility checks: a Debian 13 root with Wine 10 (build/trixie-root),
# made once with debootstrap and reused. The caller runs as process 1 of a private mount
# and PID namespace (so every mount here ends with it) and defines:
#   root   the project's folder      work   a folder for the logs
#   skip   a function that reports a skip and exits 77
trixie=$root/build/trixie-root
trixie_stamp=$trixie/.tesmo-root-complete  # written last: a root without it is rebuilt
trixie_mirror=${TESMO_DEBIAN_MIRROR:-http://deb.debian.org/debian}

build_root() {
  [ -f "$trixie_stamp" ] && return
  if findmnt -rn -o TARGET | grep -q "^$trixie"; then
    echo "FAILED: something is mounted under $trixie; not removing it" >&2
    exit 1
  fi
  echo "Building the Debian 13 root $trixie (first run only) ..."
  rm -rf "$trixie"
  local logs=${work#"$root"/}
  debootstrap --variant=minbase trixie "$trixie" "$trixie_mirror" >"$work/debootstrap.log" 2>&1 ||
    skip "debootstrap of Debian 13 from $trixie_mirror failed (no network or mirror down?):" \
      "see $logs/debootstrap.log"
  mount_system
  { chroot "$trixie" apt-get update -q &&
    chroot "$trixie" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q \
      --no-install-recommends wine64 libwine libpulse0 libv4l-0; } >"$work/apt.log" 2>&1 ||
    skip "Debian 13's wine64, libwine, libpulse0 and libv4l-0 could not be installed:" \
      "see $logs/apt.log"
  chroot "$trixie" apt-get clean
  touch "$trixie_stamp"
}

# libv4l2, which Wine's camera filter uses where it is installed; added to a root made
# before it was in the list above. Fails when it cannot be fetched.
root_with_libv4l2() {
  [ -e "$trixie/usr/lib/x86_64-linux-gnu/libv4l2.so.0" ] && return
  mount_system
  { chroot "$trixie" apt-get update -q &&
    chroot "$trixie" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q \
      --no-install-recommends libv4l-0; } >"$work/apt-libv4l2.log" 2>&1 || return 1
  chroot "$trixie" apt-get clean
}

mount_system() {
  mountpoint -q "$trixie/proc" && return
  mount -t proc proc "$trixie/proc"
  mount --rbind /dev "$trixie/dev"
  mount --rbind /sys "$trixie/sys"
  mount -t tmpfs tmpfs "$trixie/tmp"
}

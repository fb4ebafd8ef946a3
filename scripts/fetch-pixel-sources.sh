#!/usr/bin/env bash
# Fetches the source packages of the two pixel libraries the DLL links statically,
# libjpeg-turbo and libyuv, from Debian's own mirror, and unpacks them with Debian's
# patches into build/deps/src/<name>. apt checks every file against the signed index.
# The machine's apt sources stay untouched: the deb-src entry and its lists live in a
# private folder (build/deps/apt). Does nothing when both are unpacked already.
#   scripts/fetch-pixel-sources.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
deps=$root/build/deps
packages=(libjpeg-turbo libyuv)

all_there=1
for p in "${packages[@]}"; do [ -f "$deps/src/$p/.unpacked" ] || all_there=0; done
[ $all_there -eq 1 ] && { echo "Pixel library sources present (build/deps/src)."; exit 0; }

sudo=""; [ "$(id -u)" -eq 0 ] || sudo=sudo
apt_dir=$deps/apt
mkdir -p "$apt_dir/sources" "$apt_dir/lists/partial" "$deps/download" "$deps/src"
# The suite and mirror of the machine's own Debian.
suite=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
cat >"$apt_dir/sources/tesmo-src.sources" <<EOF
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: $suite
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
apt_options=(-o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$apt_dir/sources"
             -o Dir::State::Lists="$apt_dir/lists" -o APT::Sandbox::User=root)
echo "Fetching the index of Debian's source packages ($suite)..."
$sudo apt-get "${apt_options[@]}" -q update >/dev/null
for p in "${packages[@]}"; do
  [ -f "$deps/src/$p/.unpacked" ] && continue
  echo "Fetching Debian's source package $p..."
  (cd "$deps/download" && $sudo apt-get "${apt_options[@]}" -q source --download-only "$p" >/dev/null)
  dsc=$(ls -t "$deps/download/${p}_"*.dsc | head -1)
  rm -rf "$deps/src/$p"
  # The files were verified by apt; dpkg-source applies Debian's patches.
  dpkg-source --no-check -x "$dsc" "$deps/src/$p" >/dev/null
  basename "$dsc" .dsc >"$deps/src/$p/.unpacked"
  echo "  $(cat "$deps/src/$p/.unpacked") in build/deps/src/$p"
done

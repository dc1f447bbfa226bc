#!/usr/bin/env bash
# Installs what the build and the tests need from Debian's packages; does nothing when all of it is there.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev googletest libgtest-dev libgmock-dev libbenchmark-dev zlib1g-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 libz-mingw-w64-dev mingw-w64-tools
  wine wine32:i386 wine64 xvfb xauth xserver-xorg-core xserver-xorg-video-dummy x11-xserver-utils x11-utils
  xdotool imagemagick python3 libtomlplusplus-dev libcli11-dev nlohmann-json3-dev osslsigncode openssl fonts-ipafont-gothic
  nsis wixl msitools lintian locales
  libxinerama1:i386 libxrandr2:i386 libxi6:i386 libxrender1:i386 libxcursor1:i386 libxcomposite1:i386
  libxfixes3:i386 libxxf86vm1:i386
)

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed' || missing+=("$p")
done

# Wine names files on Unix in the code set of the Unix locale: a Japanese test run needs the locale compiled, or
# the folders it names in Japanese are not found.
make_locales() {
  locale -a 2>/dev/null | grep -qix 'ja_JP.utf-\?8' || "${sudo_cmd[@]}" localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
}
trap 'status=$?; if [ "$status" = 0 ]; then make_locales || exit 1; fi' EXIT

[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
dpkg --print-foreign-architectures | grep -qx i386 || "${sudo_cmd[@]}" dpkg --add-architecture i386
apt_install() { DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "$@" "${missing[@]}"; }
"${sudo_cmd[@]}" apt-get update -q && { apt_install; exit; }
# A mirror caught mid-sync serves an index that does not match its release file, and apt then lacks the i386 half
# of the security suite: the i386 libraries cannot match their amd64 twins' versions. The main archive's own
# suites, which carry both halves, can still be installed from.
echo "apt-get update failed; installing from the sources that do not name a security suite" >&2
apt_install || {
    sources=$(mktemp -d)
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -e "$f" ] || continue
        # deb822 stanzas are separated by blank lines; keep those whose URIs are not a security archive.
        awk -v RS= -v ORS='\n\n' '!/URIs:[^\n]*-security/' "$f" >"$sources/$(basename "$f")"
    done
    grep -sv -- '-security' /etc/apt/sources.list >"$sources/one-line.list" || true
    status=0
    apt_install -o Dir::Etc::SourceParts="$sources" -o Dir::Etc::SourceList="$sources/one-line.list" || status=$?
    rm -rf "$sources"
    exit "$status"
}

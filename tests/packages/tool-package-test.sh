#!/usr/bin/env bash
# The tool's own package, made by cpack in a build folder and unpacked into a scratch folder as an author would
# install it: the tool found there must find its runtimes from its own place and build a screensaver with no
# --runtime. A Debian package in the native build (checked with dpkg-deb and, when installed, lintian), a zip in
# the win32 build (its tool run under Wine, inside scripts/wine-env.sh).
#
#   tool-package-test.sh BUILD_DIR MKSWF WORKDIR
set -uo pipefail
[ $# -eq 3 ] || { echo "usage: tool-package-test.sh BUILD_DIR MKSWF WORKDIR" >&2; exit 2; }
build=$1 mkswf=$2 work=$3
rm -rf "$work" && mkdir -p "$work" || exit 2
failures=0
not() { ! "$@"; }
check() { local what=$1; shift; if "$@"; then echo "ok: $what"; else echo "FAIL: $what" >&2; failures=$((failures + 1)); fi; }

"$mkswf" "$work/movie.swf" 320 240 cc3366 >/dev/null || exit 2
if [ -f "$build/tools/pack/mutone-pack.exe" ]; then
    kind=zip
else
    kind=deb
fi
(cd "$build" && cpack -G "${kind^^}" -B "$work/cpack") >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; exit 1; }
package=$(ls "$work"/cpack/*."$kind" 2>/dev/null | head -1)
[ -n "$package" ] || { echo "cpack made no .$kind"; cat "$work/cpack.log"; exit 1; }
mkdir -p "$work/root"

if [ $kind = deb ]; then
    info=$(dpkg-deb --info "$package")
    check "the package is named mutone-pack" grep -q '^ Package: mutone-pack$' <<<"$info"
    check "the package says what it depends on" grep -q '^ Depends: .*libc6' <<<"$info"
    contents=$(dpkg-deb --contents "$package")
    for f in ./usr/bin/mutone-pack ./usr/share/mutone/mutone.scr ./usr/share/mutone/mutone64.scr; do
        check "the package holds $f" grep -q " $f\$" <<<"$contents"
    done
    dpkg -x "$package" "$work/root" || exit 1
    if command -v lintian >/dev/null; then
        lintian --tag-display-limit 0 "$package" >"$work/lintian.txt" 2>&1
        check "lintian finds no error" not grep -q '^E: ' "$work/lintian.txt"
        grep -q '^E: ' "$work/lintian.txt" && cat "$work/lintian.txt"
    fi
    tool=("$work/root/usr/bin/mutone-pack")
    movie=$work/movie.swf out=$work/movie.scr
else
    (cd "$work/root" && cmake -E tar xf "$package") || exit 1
    root=$(ls -d "$work"/root/*/ | head -1)
    for f in bin/mutone-pack.exe share/mutone/mutone.scr share/mutone/mutone64.scr README.md; do
        check "the zip holds $f" test -f "$root/$f"
    done
    tool=(wine "$root/bin/mutone-pack.exe")
    movie="Z:${work//\//\\}\\movie.swf" out="Z:${work//\//\\}\\movie.scr"
fi
"${tool[@]}" build "$movie" -o "$out" </dev/null >"$work/build.log" 2>&1
check "the unpacked tool builds a screensaver with its own runtime" test -s "$work/movie.scr"
runtime=$(ls "$work"/root/usr/share/mutone/mutone.scr "$work"/root/*/share/mutone/mutone.scr 2>/dev/null | head -1)
# The header's checksum is the one byte range that differs: the tool makes it cover the whole file.
same_but_checksum() {
    local lfanew sum differing
    lfanew=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
    sum=$((lfanew + 88 + 1)) # cmp counts from 1
    differing=$(cmp -l -n "$(stat -c %s "$1")" "$1" "$2" | awk -v a="$sum" '$1 < a || $1 > a + 3' | wc -l)
    [ "$differing" -eq 0 ]
}
check "what it built is the 32-bit runtime with the movie behind it" same_but_checksum "$runtime" "$work/movie.scr"
check "and more than the runtime" [ "$(stat -c %s "$work/movie.scr")" -gt "$(stat -c %s "$runtime")" ]
[ "$failures" -eq 0 ] || cat "$work/build.log"
[ "$failures" -eq 0 ]

#!/usr/bin/env bash
# Build, then sign: a screensaver built by the Windows mutone-pack and signed with osslsigncode and a self-signed
# certificate made here verifies, finds its content behind the signature, and plays; packing it again removes
# the signature. Runs inside scripts/wine-env.sh (ctest of the win32 build does that).
#   signed-screensaver.sh MUTONE-PACK.EXE TEST_E2E.EXE MKSWF.EXE MKICO.EXE RESOURCE_PROBE.EXE
set -euo pipefail
tool=$1 e2e=$2 mkswf=$3 mkico=$4 probe=$5
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
fail() { echo "signed-screensaver: $*" >&2; exit 1; }

openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 -subj "/CN=mutone test signer" \
    -addext "extendedKeyUsage=codeSigning" 2>/dev/null
wine "$mkswf" movie.swf 550 400 3366cc
wine "$mkico" icon.ico 3366cc
cat > signed.toml <<'TOML'
id = "{7A3C1E52-9B4D-4F60-8E21-5C6D7E8F9A0B}"
[product]
name = "Horloge signée"
icon = "icon.ico"
version = "2.5.1.7"
company = "Atelier Müller"
copyright = "© 2026 Müller"
[movie]
file = "movie.swf"
flashvars = "signed=yes"
TOML
wine "$tool" build signed.toml -o unsigned.scr >/dev/null

osslsigncode sign -certs cert.pem -key key.pem -n "mutone test" -in unsigned.scr -out signed.scr >/dev/null
osslsigncode verify -CAfile cert.pem -in signed.scr >verify.txt 2>&1 || { cat verify.txt; fail "the signature does not verify"; }
tail=$(( $(stat -c %s signed.scr) - $(stat -c %s unsigned.scr) ))
info=$(wine "$tool" info --json signed.scr | tr -d '\r')
expected="{\"file_size\":$(stat -c %s signed.scr),\"image_end\":$(wine "$tool" info --json unsigned.scr | tr -d '\r' |
    sed 's/.*"image_end":\([0-9]*\).*/\1/'),\"store\":\"fallback\",\"tail\":$tail,\"items\":5,\"arch\":\"x86\"}"
[ "$info" = "$expected" ] || fail "info: $info, expected $expected"

MUTONE_SIGNED_SCREENSAVER=$(winepath -w "$work/signed.scr") wine "$e2e" --gtest_filter=E2EPack.ASignedScreensaverPlays \
    >e2e.txt 2>&1 || { cat e2e.txt; fail "the signed screensaver did not play"; }
grep -q "SKIPPED" e2e.txt && { cat e2e.txt; fail "the play test was skipped"; }

# What Windows reads from the resources, before signing and after.
expected_probe='name: Horloge signée
icon images: 16x16/4bit 32x32/8bit 48x48/32bit 256x256/32bit
icon groups: 1
extracted: large 32x32, small 16x16
fixed: 2.5.1.7 2.5.1.7
FileVersion: 2.5.1.7
ProductVersion: 2.5.1.7
CompanyName: Atelier Müller
LegalCopyright: © 2026 Müller
FileDescription: Horloge signée
ProductName: Horloge signée
checksum: matches the file'
for f in unsigned.scr signed.scr; do
  probed=$(wine "$probe" "$f" | tr -d '\r')
  [ "$probed" = "$expected_probe" ] || fail "$f's resources read back as:
$probed"
done
# Identical inputs give identical bytes; packing the output again gives them too.
wine "$tool" build signed.toml -o again.scr >/dev/null
cmp unsigned.scr again.scr || fail "the same inputs gave other bytes"
wine "$tool" build signed.toml -o over.scr --runtime unsigned.scr >/dev/null
cmp unsigned.scr over.scr || fail "packing the output again gave other bytes"

# Packing the signed one again: its signature goes, and the bytes are those of the first build.
wine "$tool" build signed.toml -o repacked.scr --runtime signed.scr | tr -d '\r' | grep -q "removed the signature" ||
    fail "no word of the removed signature"
cmp unsigned.scr repacked.scr || fail "packing the signed screensaver again did not give the unsigned bytes"
if osslsigncode verify -CAfile cert.pem -in repacked.scr >/dev/null 2>&1; then fail "a signature survived"; fi
echo "signed-screensaver: signed, verified, played; packed again without the signature"

#!/usr/bin/env bash
# Adds signed images to the fuzzers' starting corpus (fuzz_make_seeds'
# folder, given as argument) for fuzz_authenticode: plain.exe and plus.exe
# signed by osslsigncode with a throw-away certificate (SHA-256; SHA-1 with
# a nested SHA-256 signature; SHA-384 with an RFC 3161 timestamp from its
# built-in authority), and each signature alone as a certificate table, the
# form the fuzzer appends to an image of its own. Does nothing without
# osslsigncode and openssl.
set -euo pipefail
seeds=$1
command -v osslsigncode >/dev/null && command -v openssl >/dev/null || { echo "signed_seeds: no osslsigncode or openssl" >&2; exit 0; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
req() { openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj "$1" -addext "$2" -keyout "$work/$3.key" -out "$work/$3.pem" 2>/dev/null; }
req "/O=Tavelin Seeds/CN=Seed Signer" extendedKeyUsage=codeSigning signer
req "/O=Tavelin Seeds/CN=Seed Timestamps" extendedKeyUsage=critical,timeStamping tsa
# osslsigncode writes no file that exists: each run starts afresh.
sign() { rm -f "${@: -1}"; osslsigncode sign -certs "$work/signer.pem" -key "$work/signer.key" "$@" >/dev/null; }
for base in plain plus; do
  in=$seeds/$base.exe
  sign -h sha256 -in "$in" -out "$seeds/$base-sha256.exe"
  sign -h sha1 -in "$in" -out "$work/$base-sha1.exe"
  sign -nest -h sha256 -in "$work/$base-sha1.exe" -out "$seeds/$base-dual.exe"
  sign -h sha384 -TSA-certs "$work/tsa.pem" -TSA-key "$work/tsa.key" -TSA-time 1700000000 \
    -in "$in" -out "$seeds/$base-stamped.exe"
done
for f in "$seeds"/plus-*.exe; do
  rm -f "$work/sig.der"
  osslsigncode extract-signature -in "$f" -out "$work/sig.der" >/dev/null
  # WIN_CERTIFICATE: dwLength, revision 2.0, PKCS#7 SignedData, padded to 8.
  python3 - "$work/sig.der" "${f%.exe}.table" <<'PY'
import struct, sys
der = open(sys.argv[1], "rb").read()
entry = struct.pack("<IHH", 8 + len(der), 0x0200, 2) + der
open(sys.argv[2], "wb").write(entry + b"\0" * (-len(entry) % 8))
PY
done

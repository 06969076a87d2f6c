#!/bin/sh
# Checks KoboRoot.tgz: exactly the library in Nickel's imageformats folder
# and the folders above it, sorted, owned by root, with fixed time stamps and
# modes; the library stripped and built for the reader; and the same bytes
# again when packed from a copy with another time stamp and another umask.
#   tst_koboroot.sh ARCHIVE LIBRARY STRIP WORKDIR
set -eu
archive=$1 library=$2 strip=$3 work=$4
fail() { echo "FAIL: $*" >&2; exit 1; }

rm -rf "$work" && mkdir -p "$work"
TZ=UTC tar --list --verbose --numeric-owner --full-time -zf "$archive" |
    awk '{ print $1, $2, $4, $5, $6 }' > "$work/listing"
cat > "$work/expected" <<LIST
drwxr-xr-x 0/0 2026-01-01 00:00:00 usr/
drwxr-xr-x 0/0 2026-01-01 00:00:00 usr/local/
drwxr-xr-x 0/0 2026-01-01 00:00:00 usr/local/Kobo/
drwxr-xr-x 0/0 2026-01-01 00:00:00 usr/local/Kobo/imageformats/
-rw-r--r-- 0/0 2026-01-01 00:00:00 usr/local/Kobo/imageformats/libzorvi.so
LIST
diff -u "$work/expected" "$work/listing" || fail "unexpected entries"

tar -xzf "$archive" -C "$work"
packed=$work/usr/local/Kobo/imageformats/libzorvi.so
file "$packed" | grep -q "ELF 32-bit LSB shared object, ARM, EABI5" || fail "not an armhf library: $(file "$packed")"
readelf -S "$packed" | grep -q '\.symtab' && fail "library is not stripped"
readelf --dyn-syms -W "$library" | awk '$7 != "UND" { print $8 }' | sort > "$work/built.syms"
readelf --dyn-syms -W "$packed" | awk '$7 != "UND" { print $8 }' | sort > "$work/packed.syms"
cmp -s "$work/built.syms" "$work/packed.syms" || fail "stripping changed the exported symbols"

cp "$library" "$work/copy.so"
touch -d 2001-02-03 "$work/copy.so"
(umask 077 && "$(dirname "$0")/../../scripts/koboroot" "$work/copy.so" "$work/again.tgz" "$strip")
cmp "$archive" "$work/again.tgz" || fail "packing again gave other bytes"
echo "KoboRoot.tgz: $(wc -c < "$archive") bytes, library $(wc -c < "$packed") bytes"

#!/bin/sh
# Checks KoboRoot.tgz: exactly the add-on's library in Nickel's imageformats
# folder, zorvid and zorvid-keeper in /usr/local/zorvi, the udev rule, and
# the folders above them, sorted, owned by root, with fixed time stamps and
# modes; the programs stripped, built for the reader and of one version; and
# the same bytes again when packed from copies with other time stamps and
# another umask.
#   tst_koboroot.sh ARCHIVE STRIP LIBRARY ZORVID KEEPER RULES WORKDIR
set -eu
archive=$1 strip=$2 library=$3 zorvid=$4 keeper=$5 rules=$6 work=$7
fail() { echo "FAIL: $*" >&2; exit 1; }

rm -rf "$work" && mkdir -p "$work"
TZ=UTC tar --list --verbose --numeric-owner --full-time -zf "$archive" |
    awk '{ print $1, $2, $4, $5, $6 }' > "$work/listing"
cat > "$work/expected" <<LIST
drwxr-xr-x 0/0 2026-01-01 00:00:00 etc/
drwxr-xr-x 0/0 2026-01-01 00:00:00 etc/udev/
drwxr-xr-x 0/0 2026-01-01 00:00:00 etc/udev/rules.d/
-rw-r--r-- 0/0 2026-01-01 00:00:00 etc/udev/rules.d/98-zorvi.rules
drwxr-xr-x 0/0 2026-01-01 00:00:00 usr/
drwxr-xr-x 0/0 2026-01-01 00:00:00 usr/local/
drwxr-xr-x 0/0 2026-01-01 00:00:00 usr/local/Kobo/
drwxr-xr-x 0/0 2026-01-01 00:00:00 usr/local/Kobo/imageformats/
-rw-r--r-- 0/0 2026-01-01 00:00:00 usr/local/Kobo/imageformats/libzorvi.so
drwxr-xr-x 0/0 2026-01-01 00:00:00 usr/local/zorvi/
-rwxr-xr-x 0/0 2026-01-01 00:00:00 usr/local/zorvi/zorvid
-rwxr-xr-x 0/0 2026-01-01 00:00:00 usr/local/zorvi/zorvid-keeper
LIST
diff -u "$work/expected" "$work/listing" || fail "unexpected entries"

tar -xzf "$archive" -C "$work"
packed=$work/usr/local/Kobo/imageformats/libzorvi.so
file "$packed" | grep -q "ELF 32-bit LSB shared object, ARM, EABI5" || fail "not an armhf library: $(file "$packed")"
for program in zorvid zorvid-keeper; do
    file "$work/usr/local/zorvi/$program" | grep -q "ELF 32-bit LSB executable, ARM, EABI5" ||
        fail "$program is not an armhf program: $(file "$work/usr/local/zorvi/$program")"
done
for binary in "$packed" "$work/usr/local/zorvi/zorvid" "$work/usr/local/zorvi/zorvid-keeper"; do
    readelf -S "$binary" | grep -q '\.symtab' && fail "$binary is not stripped"
done
readelf --dyn-syms -W "$library" | awk '$7 != "UND" { print $8 }' | sort > "$work/built.syms"
readelf --dyn-syms -W "$packed" | awk '$7 != "UND" { print $8 }' | sort > "$work/packed.syms"
cmp -s "$work/built.syms" "$work/packed.syms" || fail "stripping changed the exported symbols"
cmp -s "$rules" "$work/etc/udev/rules.d/98-zorvi.rules" || fail "the udev rule differs"
# The add-on and zorvid carry the one version of the build.
version=$(strings "$packed" | grep '^zorvi-version ' || true)
[ -n "$version" ] || fail "the library carries no version"
[ "$(strings "$work/usr/local/zorvi/zorvid" | grep '^zorvi-version ')" = "$version" ] ||
    fail "zorvid does not carry the library's $version"

for file in "$library" "$zorvid" "$keeper" "$rules"; do
    cp "$file" "$work/copy.$(basename "$file")"
    touch -d 2001-02-03 "$work/copy.$(basename "$file")"
done
(umask 077 && "$(dirname "$0")/../../scripts/koboroot" "$work/again.tgz" "$strip" \
    "$work/copy.$(basename "$library")" "$work/copy.$(basename "$zorvid")" \
    "$work/copy.$(basename "$keeper")" "$work/copy.$(basename "$rules")")
cmp "$archive" "$work/again.tgz" || fail "packing again gave other bytes"
echo "KoboRoot.tgz: $(wc -c < "$archive") bytes; library $(wc -c < "$packed") bytes," \
    "zorvid $(wc -c < "$work/usr/local/zorvi/zorvid") bytes," \
    "zorvid-keeper $(wc -c < "$work/usr/local/zorvi/zorvid-keeper") bytes"

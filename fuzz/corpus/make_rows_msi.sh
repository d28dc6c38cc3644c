#!/usr/bin/env bash
# Makes fuzz_package_file/rows.msi, the fuzzer's seed and the package PackageFile's
# tests read: a database with a Binary table whose rows hold the bytes pattern(size, seed) of tests/compound_file_test.cpp, one in the
# mini stream, one of exactly the cutoff (4096 bytes) and one of many regular sectors,
# under names that pack into one unit per two characters or leave one over, a
# Property table whose ProductCode the tests read, and a CustomAction table with an
# empty Target, null ExtendedType cells and the extreme values of both integer sizes.
# Needs msibuild (Debian package msitools). Run it again only when the rows change.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir "$stage/Binary"
printf 'Name\tData\ns72\tv0\nBinary\tName\n' > "$stage/Binary.idt"
for row in small:1000:1 Fa9_row.v2:4095:2 cut.4096:4096:3 large:70000:4; do
  IFS=: read -r name size seed <<< "$row"
  python3 -c 'import sys
size, seed = int(sys.argv[1]), int(sys.argv[2])
sys.stdout.buffer.write(bytes(((i * 2654435761 + seed * 40503) & 0xFFFFFFFF) >> 13 & 0xFF for i in range(size)))' \
    "$size" "$seed" > "$stage/Binary/$name"
  printf '%s\t%s\n' "$name" "$name" >> "$stage/Binary.idt"
done
printf 'Property\tValue\ns72\tl0\nProperty\tProperty\nProductName\tRows\nProductCode\t{3D2C8A1E-6B7F-4C90-A1D2-E3F405162738}\n' \
  > "$stage/Property.idt"
printf 'Action\tType\tSource\tTarget\tExtendedType\ns72\ti2\tS72\tS255\tI4\nCustomAction\tAction\n%s' \
  'PreProcessInstallCA	1	FA9WOLT_DLL	PreProcessInstallCA	
RegisterWOLTKeysCA	3073	FA9WOLT_DLL	RegisterWOLTKeysCA	
SetARPINSTALLLOCATION	51	ARPINSTALLLOCATION		
RollbackWide	-32767	FA9WOLT_DLL	RemoveWOLTKeysCA	-2147483647
' > "$stage/CustomAction.idt"
out="$here/fuzz_package_file/rows.msi"
rm -f "$out"
(cd "$stage" && msibuild "$out" -i Binary.idt Property.idt CustomAction.idt)
msiinfo streams "$out"

#!/usr/bin/env bash
# Builds the test installer package from a preset's build directory:
#   package/build-package.sh <preset-build-dir> <out.msi> [options]
# The build directory provides src/fa9wolt.dll, siblings/fa9osse_install3.dll and
# strings/<locale>/fa9istring_v97.dll; this script cross-builds the stand-in programs
# and placeholders of package/stand-ins, runs wixl on fa9wolt.wxs, then adds with
# msibuild the tables wixl cannot author (Binary rows under exact names, CustomAction
# rows with their sequence slots, Dialog and Control rows, Property values, the
# installation folder's LockPermissions rows).
#
# Options (for the scenario variants):
#   --without-row NAME        leave the Binary row NAME out (repeatable)
#   --row NAME=PATH           the Binary row NAME from the file PATH instead (repeatable)
#   --product-language N      ProductLanguage in the Property table (default 1033)
#   --property NAME=VALUE     set or add a Property row (repeatable); exact value, quotes kept
#   --arch x64|x86            bitness (default: that of fa9wolt.dll)
#   --dll PATH, --def PATH    another fa9wolt.dll / export list (default: the build's, the repo's)
#   --cache DIR               where the cross-built stand-ins are kept (default: beside out.msi)
#   --unsequenced NAME        keep custom action NAME out of the sequences (repeatable)
#   --set-after-store N=V     set property N to V right after PreProcessInstallCA saved the
#                             store (a type-51 action): what deferred actions read then shows
#                             whether they read the store or the session
#   --set-before-store N=V    the same right before PreProcessInstallCA (after costing, so
#                             the installer does not tidy a directory's value): the store
#                             and the deferred actions get V exactly
#   --tamper swap|store|attack  run the stand-in tamper.exe as the user between the
#                             extraction and the script: "swap" replaces the runtime
#                             folder's commontoolreg.exe with itself and writes decoys
#                             into the user's store, "store" writes only the decoys,
#                             "attack" (before the provider check) also plants a DLL as
#                             the allocator and string libraries, as msvcr80.dll and as
#                             version.dll
#   --other-source NAME       the library's row NAME calls the DLL through a second
#                             Binary row, fa9wolt_other.dll, holding the same file: a row
#                             PreProcessInstallCA does not know as the library's
#   --faults                  after each custom action of the library in the execute
#                             sequence, a row that runs the stand-in fault.exe with
#                             [FA9FAULT_MODE] (/kill or /fail) when FA9FAULT_AT names that
#                             action (in the script for the script's actions)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/.." && pwd)
# The same sources give the same package: every time stamp it holds (files in the
# cabinet, the summary's dates, the stand-ins' PE headers) is SOURCE_DATE_EPOCH, by
# default the time of the commit, and the package code is derived from the contents.
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git -C "$repo" log -1 --format=%ct 2>/dev/null || echo 0)
fi
export SOURCE_DATE_EPOCH

usage() { sed -n '2,36p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }
[ $# -ge 2 ] || usage
build=$(cd "$1" && pwd); out=$2; shift 2
dll=$build/src/fa9wolt.dll
def=$repo/src/actions/fa9wolt.def
arch= language=1033 cache_dir=
without=() rows=() props=() unsequenced=() other_source=() set_after_store= set_before_store= tamper= faults=
while [ $# -gt 0 ]; do
  case $1 in
    --without-row) without+=("$2"); shift 2 ;;
    --row) rows+=("$2"); shift 2 ;;
    --product-language) language=$2; shift 2 ;;
    --property) props+=("$2"); shift 2 ;;
    --arch) arch=$2; shift 2 ;;
    --dll) dll=$2; shift 2 ;;
    --def) def=$2; shift 2 ;;
    --cache) cache_dir=$2; shift 2 ;;
    --unsequenced) unsequenced+=("$2"); shift 2 ;;
    --set-after-store) set_after_store=$2; shift 2 ;;
    --set-before-store) set_before_store=$2; shift 2 ;;
    --tamper) tamper=$2; shift 2 ;;
    --other-source) other_source+=("$2"); shift 2 ;;
    --faults) faults=1; shift ;;
    *) echo "build-package.sh: unknown option $1" >&2; usage ;;
  esac
done
for f in "$dll" "$def" "$build/siblings/fa9osse_install3.dll" "$build/fa9-version.txt"; do
  [ -f "$f" ] || { echo "build-package.sh: missing $f" >&2; exit 1; }
done

if [ -z "$arch" ]; then
  case $(x86_64-w64-mingw32-objdump -f "$dll" | sed -n 's/.*file format //p') in
    pei-x86-64) arch=x64 ;;
    pei-i386) arch=x86 ;;
    *) echo "build-package.sh: $dll is not a Windows DLL" >&2; exit 1 ;;
  esac
fi
case $arch in
  x64) cc=x86_64-w64-mingw32-gcc ;;
  x86) cc=i686-w64-mingw32-gcc ;;
  *) echo "build-package.sh: --arch must be x64 or x86" >&2; exit 2 ;;
esac

out_dir=$(mkdir -p "$(dirname "$out")" && cd "$(dirname "$out")" && pwd)
out=$out_dir/$(basename "$out")
stage=${out%.msi}.stage
rm -rf "$stage" "$out"
mkdir -p "$stage/idt/Binary" "$stage/stand-ins" "$stage/tables"

# --- stand-ins: cached per bitness beside the output, rebuilt when a source changes
cache=${cache_dir:-$out_dir}
mkdir -p "$cache"
cache=$(cd "$cache" && pwd)/stand-ins-$arch
mkdir -p "$cache"
cross() {  # cross <output> <source> <cc flags...>
  local target=$1 src=$2; shift 2
  if [ ! -f "$cache/$target" ] || [ "$src" -nt "$cache/$target" ] || [ "$0" -nt "$cache/$target" ] ||
     [ "$here/stand-ins/standin.h" -nt "$cache/$target" ]; then
    # A bare output name: the linker derives a DLL's preferred base from it.
    (cd "$cache" && "$cc" -O2 -s -static-libgcc "$@" -o "$target.tmp" "$src")
    mv "$cache/$target.tmp" "$cache/$target"
  fi
}
for f in msvcm80.dll msvcp80.dll msvcr80.dll mfc80.dll mfc80u.dll mfcm80.dll mfcm80u.dll; do
  cross "$f" "$here/stand-ins/placeholder.c" -shared "-DPLACEHOLDER_NAME=\"$f\""
done
for f in fa9genreg_install3.dll fa9install_install3.dll; do
  cross "$f" "$here/stand-ins/sibling.c" -shared "-DSIBLING_NAME=\"$f\""
done
# The programs the custom actions start; devenv.exe is not in the package (the
# scenarios place it in the IDE folders of the machine they prepare).
cross commontoolreg.exe "$here/stand-ins/commontoolreg.c"
cross macConfigChange.exe "$here/stand-ins/macconfigchange.c"
cross devenv.exe "$here/stand-ins/devenv.c"
if [ -n "$tamper" ]; then
  # The planted DLL travels inside tamper.exe, which writes it where it attacks.
  cross planted.dll "$here/stand-ins/planted.c" -shared
  if [ ! -f "$cache/planted_dll.h" ] || [ "$cache/planted.dll" -nt "$cache/planted_dll.h" ]; then
    { echo 'static const unsigned char planted_dll[] = {'
      od -An -v -tx1 "$cache/planted.dll" | sed 's/ \([0-9a-f][0-9a-f]\)/0x\1,/g'
      echo '};'; } > "$cache/planted_dll.h.tmp"
    mv "$cache/planted_dll.h.tmp" "$cache/planted_dll.h"
    rm -f "$cache/tamper.exe"
  fi
  cross tamper.exe "$here/stand-ins/tamper.c" "-DPLANTED_DLL=\"$cache/planted_dll.h\""
fi
[ -n "$faults" ] && cross fault.exe "$here/stand-ins/fault.c"

# --- Binary rows: name -> file, in the order the runtime extraction reads them
binary_rows=(
  "fa9wolt.dll=$dll"
  "msvcm80.dll=$cache/msvcm80.dll"
  "msvcp80.dll=$cache/msvcp80.dll"
  "msvcr80.dll=$cache/msvcr80.dll"
  "microsoft.vc80.crt.manifest=$here/stand-ins/microsoft.vc80.crt.manifest"
  "mfc80.dll=$cache/mfc80.dll"
  "mfc80u.dll=$cache/mfc80u.dll"
  "mfcm80.dll=$cache/mfcm80.dll"
  "mfcm80u.dll=$cache/mfcm80u.dll"
  "microsoft.vc80.mfc.manifest=$here/stand-ins/microsoft.vc80.mfc.manifest"
  "fa9genreg_install3.dll=$cache/fa9genreg_install3.dll"
  "fa9osse_install3.dll=$build/siblings/fa9osse_install3.dll"
  "fa9install_install3.dll=$cache/fa9install_install3.dll"
  "commontoolreg.exe=$cache/commontoolreg.exe"
)
[ -n "$tamper" ] && binary_rows+=("tamper.exe=$cache/tamper.exe")
[ ${#other_source[@]} -gt 0 ] && binary_rows+=("fa9wolt_other.dll=$dll")
[ -n "$faults" ] && binary_rows+=("fault.exe=$cache/fault.exe")
for lib in "$build"/strings/*/fa9istring_v97.dll; do
  [ -f "$lib" ] || continue
  locale=$(basename "$(dirname "$lib")")
  binary_rows+=("FA9ISTRING_${locale^^}=$lib")
done
{
  printf 'Name\tData\ns72\tv0\nBinary\tName\n'
  for row in "${binary_rows[@]}"; do
    name=${row%%=*} file=${row#*=}
    skip=0
    for w in "${without[@]+"${without[@]}"}"; do [ "$w" = "$name" ] && skip=1; done
    [ $skip = 1 ] && continue
    for r in "${rows[@]+"${rows[@]}"}"; do [ "${r%%=*}" = "$name" ] && file=${r#*=}; done
    cp "$file" "$stage/idt/Binary/$name"
    printf '%s\t%s\n' "$name" "$name"
  done
} > "$stage/idt/Binary.idt"

# --- wixl: directories, components, features, files
cp "$here/fa9wolt.wxs" "$stage/"
cp -r "$here/files" "$stage/"
cp "$cache/macConfigChange.exe" "$stage/stand-ins/"
product_code=FA9D0A11-57B1-4E60-9A05-3C1E0F0A9700
version=$(cat "$build/fa9-version.txt")
find "$stage" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +  # the cabinet keeps each file's time
(cd "$stage" && wixl -a "$arch" -D "Arch=$arch" -D "ProductCode=$product_code" -D "Version=$version" -o "$out" fa9wolt.wxs)
(cd "$stage/tables" && msidump -d . -t "$out" >/dev/null)

# --- custom actions the DLL exports, placed by custom-actions.tsv
exports=$(awk '/^[[:space:]]*EXPORTS/{on=1; next} on && NF && $1 !~ /^;/ {sub(/[=@].*/, "", $1); print $1}' "$def")
cp "$stage/tables/InstallUISequence.idt" "$stage/idt/InstallUISequence.idt"
cp "$stage/tables/InstallExecuteSequence.idt" "$stage/idt/InstallExecuteSequence.idt"
printf 'Action\tType\tSource\tTarget\tExtendedType\ns72\ti2\tS72\tS255\tI4\nCustomAction\tAction\n' > "$stage/idt/CustomAction.idt"
scheduled=()
is_exported() { local e; for e in $exports; do [ "$e" = "$1" ] && return 0; done; return 1; }
# One CustomAction row per line of the table whose target the DLL exports (rows for
# exports still to come are left out); every export must have a line.
# (Fields are split at a non-blank separator so that an empty condition stays a field.)
while IFS=$'\x1f' read -r name kind tables sequence condition target; do
  case $name in ''|'#'*) continue ;; esac
  target=${target:-$name}
  is_exported "$target" || continue
  case $kind in
    immediate) type=1 ;;
    deferred) type=3073 ;;
    rollback) type=3329 ;;
    *) echo "build-package.sh: bad kind '$kind' for $name" >&2; exit 1 ;;
  esac
  source=fa9wolt.dll
  for o in "${other_source[@]+"${other_source[@]}"}"; do [ "$o" = "$name" ] && source=fa9wolt_other.dll; done
  printf '%s\t%s\t%s\t%s\t\n' "$name" "$type" "$source" "$target" >> "$stage/idt/CustomAction.idt"
  for u in "${unsequenced[@]+"${unsequenced[@]}"}"; do [ "$u" = "$name" ] && tables=-; done
  # tables "-": no sequence row (a control event runs it)
  case ,$tables, in *,UI,*) printf '%s\t%s\t%s\n' "$name" "$condition" "$sequence" >> "$stage/idt/InstallUISequence.idt" ;; esac
  case ,$tables, in *,Execute,*) printf '%s\t%s\t%s\n' "$name" "$condition" "$sequence" >> "$stage/idt/InstallExecuteSequence.idt" ;; esac
  scheduled+=("$name")
  # The fault right after it (type 2: a program from the Binary table, waited for, its exit
  # code checked; 3074 runs it in the script like the deferred action before it).
  if [ -n "$faults" ] && [ "$kind" != rollback ] && [ "$sequence" -gt 0 ] && case ,$tables, in *,Execute,*) true ;; *) false ;; esac; then
    fault_type=2; [ "$kind" = deferred ] && fault_type=3074
    fault_condition="FA9FAULT_AT=\"$name\""; [ -n "$condition" ] && fault_condition="($condition) AND $fault_condition"
    printf '%s\t%s\t%s\t%s\t\n' "Fault_$name" "$fault_type" fault.exe '[FA9FAULT_MODE]' >> "$stage/idt/CustomAction.idt"
    printf '%s\t%s\t%s\n' "Fault_$name" "$fault_condition" "$((sequence + 1))" >> "$stage/idt/InstallExecuteSequence.idt"
  fi
done < <(tr '\t' '\037' < "$here/custom-actions.tsv")
for name in $exports; do
  if ! awk -F'\t' -v n="$name" '$1 == n || $6 == n {found=1} END {exit !found}' "$here/custom-actions.tsv"; then
    echo "build-package.sh: $name is exported but has no line in package/custom-actions.tsv" >&2; exit 1
  fi
done

if [ -n "$set_after_store" ]; then
  printf '%s\t%s\t%s\t%s\t\n' SetAfterStore 51 "${set_after_store%%=*}" "${set_after_store#*=}" >> "$stage/idt/CustomAction.idt"
  printf '%s\t%s\t%s\n' SetAfterStore '' 1455 >> "$stage/idt/InstallExecuteSequence.idt"
fi
if [ -n "$set_before_store" ]; then
  printf '%s\t%s\t%s\t%s\t\n' SetBeforeStore 51 "${set_before_store%%=*}" "${set_before_store#*=}" >> "$stage/idt/CustomAction.idt"
  printf '%s\t%s\t%s\n' SetBeforeStore '' 1445 >> "$stage/idt/InstallExecuteSequence.idt"
fi
if [ -n "$tamper" ]; then
  case $tamper in swap|store|attack) ;; *) echo "build-package.sh: --tamper must be swap, store or attack" >&2; exit 2 ;; esac
  # Type 2: a program from the Binary table, run as the user and waited for; after
  # PreProcessInstallCA, so only what the script reads later can be affected, or for the
  # attack right after the provider check, which runs the runtime folder's program.
  printf '%s\t%s\t%s\t%s\t\n' Tamper 2 tamper.exe "/plant \"[CURRENT_PROCESS_DIRECTORY]\" $tamper" >> "$stage/idt/CustomAction.idt"
  printf '%s\t%s\t%s\n' Tamper 'NOT Installed' "$([ "$tamper" = attack ] && echo 1425 || echo 1460)" >> "$stage/idt/InstallExecuteSequence.idt"
fi

# --- the user interface: the welcome dialog (its Next builds the summary with
# AddSummaryCA when the DLL exports it) and the Summary dialog, whose Install starts the
# installation. /qn runs skip both.
printf '%s\t%s\t%s\n' InstallWelcome_noJava 'NOT Installed' 1230 >> "$stage/idt/InstallUISequence.idt"
summary_action=
for name in "${scheduled[@]+"${scheduled[@]}"}"; do [ "$name" = AddSummaryCA ] && summary_action=1; done
{
  printf '%s\n' 'Dialog_	Control_	Event	Argument	Condition	Ordering' 's72	s50	s50	s255	S255	I2' \
    'ControlEvent	Dialog_	Control_	Event	Argument	Condition'
  [ -n "$summary_action" ] && printf '%s\n' 'InstallWelcome_noJava	Next	DoAction	AddSummaryCA	1	1'
  printf '%s\n' 'InstallWelcome_noJava	Next	NewDialog	Summary	1	2' \
    'InstallWelcome_noJava	Cancel	EndDialog	Exit	1	1' \
    'Summary	Next	EndDialog	Return	1	1' \
    'Summary	Cancel	EndDialog	Exit	1	1'
} > "$stage/idt/ControlEvent.idt"

printf '%s\n' 'Dialog	HCentering	VCentering	Width	Height	Attributes	Title	Control_First	Control_Default	Control_Cancel' \
  's72	i2	i2	i2	i2	I4	L128	s50	S50	S50' 'Dialog	Dialog' \
  'InstallWelcome_noJava	50	50	374	266	3	[ProductName] Setup	Next	Next	Cancel' \
  'Summary	50	50	488	340	3	[ProductName] Setup	Next	Next	Cancel' > "$stage/idt/Dialog.idt"
printf '%s\n' 'Dialog_	Control	Type	X	Y	Width	Height	Attributes	Property	Text	Control_Next	Help' \
  's72	s50	s20	i2	i2	i2	i2	I4	S72	L0	S50	L50' 'Control	Dialog_	Control' \
  'InstallWelcome_noJava	Welcome	Text	20	20	330	40	3		Welcome to the installation of [ProductName].		' \
  'InstallWelcome_noJava	Next	PushButton	230	243	66	17	3		&Next >	Cancel	' \
  'InstallWelcome_noJava	Cancel	PushButton	301	243	66	17	3		Cancel	Next	' \
  'Summary	Heading	Text	47	20	394	30	3		Ready to install [ProductName] with these settings:		' \
  'Summary	Next	PushButton	300	313	66	17	3		&Install	Cancel	' \
  'Summary	Cancel	PushButton	375	313	66	17	3		Cancel	Next	' > "$stage/idt/Control.idt"

# --- properties: exact values here, since Wine's msiexec drops quotes from its command line
props=("ProductLanguage=$language" "${props[@]+"${props[@]}"}")
awk -F'\t' 'NR <= 3' "$stage/tables/Property.idt" > "$stage/idt/Property.idt"
awk -F'\t' 'NR > 3' "$stage/tables/Property.idt" | while IFS=$'\t' read -r name value; do
  keep=1
  for p in "${props[@]}"; do [ "${p%%=*}" = "$name" ] && keep=0; done
  [ $keep = 1 ] && printf '%s\t%s\n' "$name" "$value"
done >> "$stage/idt/Property.idt"
for p in "${props[@]}"; do printf '%s\t%s\n' "${p%%=*}" "${p#*=}" >> "$stage/idt/Property.idt"; done

# --- the installation folder locked the installer's way (its CreateFolder row), so that
# INSTALLDIR and the bin folder below it, from which the script runs macConfigChange.exe
# as SYSTEM, stay out of users' reach wherever INSTALLDIR is put: Administrators full
# control, Everyone reading and running (the installer gives LocalSystem full control
# itself, and only "Everyone" and "Administrators" are names it knows in every
# language). Wine's msiexec does not apply the table.
printf '%s\n' 'LockObject	Table	Domain	User	Permission' 's72	s32	S255	s255	I4' \
  'LockPermissions	LockObject	Table	Domain	User' \
  'INSTALLDIR	CreateFolder		Administrators	268435456' \
  'INSTALLDIR	CreateFolder		Everyone	-1610612736' > "$stage/idt/LockPermissions.idt"

# The summary: dates from SOURCE_DATE_EPOCH, and a package code derived from everything
# the package is made of, so that another package never shares it.
stamp=$(date -u -d "@$SOURCE_DATE_EPOCH" '+%Y/%m/%d %H:%M:%S')
code=$( (cd "$stage" && find idt files stand-ins fa9wolt.wxs -type f -print0 | sort -z | xargs -0 sha256sum;
         echo "$version $arch $product_code") | sha256sum | tr a-f A-F)
package_code="{${code:0:8}-${code:8:4}-${code:12:4}-${code:16:4}-${code:20:12}}"
awk -F'\t' -v OFS='\t' -v code="$package_code" -v stamp="$stamp" \
  'NR > 3 && $1 == 9 {$2 = code} NR > 3 && ($1 == 12 || $1 == 13) {$2 = stamp} {print}' \
  "$stage/tables/_SummaryInformation.idt" > "$stage/idt/_SummaryInformation.idt"

(cd "$stage/idt" && msibuild "$out" -i Binary.idt -i CustomAction.idt -i InstallUISequence.idt \
   -i InstallExecuteSequence.idt -i Dialog.idt -i Control.idt -i ControlEvent.idt -i Property.idt \
   -i LockPermissions.idt -i _SummaryInformation.idt)

rows=$(awk -F'\t' 'NR > 3 {print $1}' "$stage/idt/Binary.idt" | paste -sd' ')
echo "package: $out ($arch, version $version, ProductLanguage $language, package code $package_code)"
echo "  Binary rows: $rows"
echo "  custom actions: ${scheduled[*]:-(none exported)}"

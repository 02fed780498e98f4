#!/usr/bin/env bash
# What KQV.dll exports and imports and where its records lie, read from the
# files with objdump; and that every program of the build finds the DLLs it
# needs beside it or in the system.
#   check_dll_tables.sh OBJDUMP BIN_DIR
set -uo pipefail
objdump=$1
bin=$2
dll="$bin/KQV.dll"
failures=0

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

[ -f "$dll" ] || { echo "FAIL: $dll not built"; exit 1; }
headers=$("$objdump" -p "$dll") || { echo "FAIL: $objdump -p $dll failed"; exit 1; }

# --- Exports: the registration entry, nothing else.
exports=$(awk '/^\[Ordinal\/Name Pointer\] Table/ { inside = 1; next }
               inside && /^[[:space:]]*\[ *[0-9]+\]/ { print $NF; next }
               inside { inside = 0 }' <<<"$headers")
if [ "$exports" != "cnt1entd" ]; then
    fail "KQV.dll exports [$(echo $exports)], expected exactly [cnt1entd]"
fi

# --- Imports: the hub's DLLs and the system's, no runtime DLL of the compiler.
imports_of() { "$objdump" -p "$1" | awk '/DLL Name:/ { print $3 }'; }
mapfile -t imports < <(imports_of "$dll")
system_dlls=" kernel32.dll msvcrt.dll ntdll.dll user32.dll advapi32.dll "
hub_dlls=" hubtrace.dll hubreg.dll hubds.dll hubdsnet.dll "
for import in "${imports[@]}"; do
    lower=${import,,}
    if [[ "$system_dlls" != *" $lower "* && "$hub_dlls" != *" $lower "* ]]; then
        fail "KQV.dll imports $import, which is neither the hub's nor the system's"
    fi
done
for hub in $hub_dlls; do
    printf '%s\n' "${imports[@],,}" | grep -qx "$hub" || fail "KQV.dll does not import $hub"
done

# Its start-up turns off thread notifications.
kernel32_functions=$(awk '/DLL Name: KERNEL32.dll/ { inside = 1; next }
                          /DLL Name:/ { inside = 0 }
                          inside && NF >= 2 && $1 ~ /^[0-9a-f]+$/ { print $NF }' <<<"$headers")
grep -qx DisableThreadLibraryCalls <<<"$kernel32_functions" ||
    fail "KQV.dll does not import DisableThreadLibraryCalls from KERNEL32.dll"

# --- Where the registration records lie: the vector read-only, the contents
# and the entry list writable.
sections=$("$objdump" -h "$dll")
symbols=$("$objdump" -t "$dll")
# objdump -t gives a symbol's section by 1-based number, -h lists them from 0.
# C names carry a leading underscore; a const record has internal linkage
# and a C++ name (__ZL11PRB1_Vector).
section_of() {
    local number
    number=$(awk -v pattern="^_*(ZL[0-9]+)?$1\$" '$NF ~ pattern && /\(sec +[0-9]+\)/ {
                 match($0, /\(sec +[0-9]+\)/); s = substr($0, RSTART + 4, RLENGTH - 5); print s + 0; exit }' <<<"$symbols")
    [ -n "$number" ] || return 1
    awk -v index_="$((number - 1))" '$1 == index_ { name = $2; getline; print name, $0; exit }' <<<"$sections"
}
check_section() {
    local symbol=$1 want=$2 found
    found=$(section_of "$symbol") || { fail "KQV.dll has no symbol $symbol (stripped?)"; return; }
    local name=${found%% *}
    case "$want" in
        read-only) [[ "$found" == *READONLY* ]] || fail "$symbol lies in $name, which is writable" ;;
        writable) [[ "$found" != *READONLY* && "$found" == *DATA* ]] || fail "$symbol lies in $name, which is not writable data" ;;
    esac
    echo "$symbol: section $name ($want)"
}
check_section PRB1_Vector read-only
check_section CNT1_Contents writable
check_section CNT1_entryList writable

# --- Nothing of the library's own runs at load: the only constructor the C
# runtime start-up calls is its registration of the unwind tables.
text_vma=$(awk '$2 == ".text" { print $4; exit }' <<<"$sections")
ctor_list=$(awk '$NF == "__CTOR_LIST__" && /\(sec +1\)/ { print $(NF - 1); exit }' <<<"$symbols")
if [ -z "$text_vma" ] || [ -z "$ctor_list" ]; then
    fail "KQV.dll has no .text section or no __CTOR_LIST__"
else
    start=$((0x$text_vma + ctor_list))
    # Little-endian words from the list on: a -1 mark, the entries, a 0.
    mapfile -t words < <("$objdump" -s -j .text --start-address="$start" --stop-address="$((start + 64))" "$dll" |
        awk '/^ [0-9a-f]+ / { for (i = 2; i <= 5; i++) if (length($i) == 8 && $i ~ /^[0-9a-f]+$/) print $i }' |
        sed -E 's/(..)(..)(..)(..)/\4\3\2\1/')
    constructors=()
    for word in "${words[@]:1}"; do
        [ "$word" = 00000000 ] && break
        offset=$(printf '0x%08x' $((0x$word - 0x$text_vma)))
        constructors+=("$(awk -v value="$offset" '/\(sec +1\)/ && $(NF - 1) == value && $NF !~ /^\./ { print $NF; exit }' <<<"$symbols")")
    done
    if [ "${constructors[*]}" != "_register_frame_ctor" ]; then
        fail "KQV.dll runs constructors at load: [${constructors[*]}], expected only the runtime's [_register_frame_ctor]"
    else
        echo "constructors at load: ${constructors[*]} (the runtime's)"
    fi
fi

# --- Every program and DLL of the build runs from bin/ as it is.
present=$(ls "$bin" | tr '[:upper:]' '[:lower:]')
shopt -s nullglob
for file in "$bin"/*.dll "$bin"/*.exe; do
    while read -r import; do
        lower=${import,,}
        [[ "$system_dlls" == *" $lower "* || "$lower" == api-ms-win-* ]] && continue
        grep -qxF "$lower" <<<"$present" || fail "$(basename "$file") imports $import, which is not in $bin"
    done < <(imports_of "$file")
done

echo "KQV.dll exports: $(echo $exports)"
echo "KQV.dll imports: ${imports[*]}"
if [ "$failures" -gt 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all checks passed"

#!/bin/sh
# Checks what the provider library shows the dynamic loader and the data
# server: the libraries it needs, its search path, its name and its exports.
#
# usage: check_library.sh LIBRARY HUB_LIBDIR READELF NM POINTER_BYTES
set -u

if [ $# -ne 5 ]; then
    echo "usage: $0 LIBRARY HUB_LIBDIR READELF NM POINTER_BYTES" >&2
    exit 2
fi
library=$1
hub_libdir=$2
readelf=$3
nm=$4
pointer_bytes=$5

failures=0
fail() {
    printf 'FAIL: %s\n' "$*" >&2
    failures=$((failures + 1))
}

dynamic=$("$readelf" -d -W "$library") || { echo "cannot read the dynamic section of $library" >&2; exit 1; }
dynsyms=$("$readelf" --dyn-syms -W "$library") || { echo "cannot read the dynamic symbols of $library" >&2; exit 1; }
sections=$("$readelf" -S -W "$library") || { echo "cannot read the sections of $library" >&2; exit 1; }
symtab=$("$nm" "$library") || { echo "cannot read the symbol table of $library" >&2; exit 1; }

# The value in brackets of every dynamic entry of one tag.
dynamic_values() {
    printf '%s\n' "$dynamic" | sed -n "s/.*($1).*\[\(.*\)\]\$/\1/p"
}

# --- Libraries needed at run time: the hub's four and the C runtime -----------
needed=$(dynamic_values NEEDED | sort | tr '\n' ' ')
expected_needed=$(printf '%s\n' libc.so.6 libhubds.so libhubdsnet.so libhubreg.so libhubtrace.so | sort | tr '\n' ' ')
[ "$needed" = "$expected_needed" ] || fail "NEEDED is '$needed', expected '$expected_needed'"

# The provider calls only the C library's memory, string and formatting
# functions and malloc and free, which glibc has versioned since 2.1.3 at the
# latest: a newer version needed means a new dependency crept in, and hubs on
# older systems could not load the deliverable.
if [ "$pointer_bytes" = 4 ]; then
    newest_glibc=$(printf '%s\n' "$dynsyms" | grep -o '@GLIBC_[0-9.]*' | cut -d_ -f2 | sort -uV | tail -n 1)
    [ "$(printf '%s\n' "$newest_glibc" 2.1.3 | sort -V | tail -n 1)" = 2.1.3 ] ||
        fail "needs GLIBC_$newest_glibc, newer than GLIBC_2.1.3"
fi

# --- Search path and name -----------------------------------------------------
runpath=$(dynamic_values RUNPATH)
expected_runpath=".:./lib:../lib:$hub_libdir"
[ "$runpath" = "$expected_runpath" ] || fail "RUNPATH is '$runpath', expected '$expected_runpath'"
[ -z "$(dynamic_values RPATH)" ] || fail "has an RPATH entry besides its RUNPATH: '$(dynamic_values RPATH)'"

soname=$(dynamic_values SONAME)
[ "$soname" = "KQVDWSYS" ] || fail "SONAME is '$soname', expected 'KQVDWSYS'"

# --- Exports --------------------------------------------------------------------
# "TYPE BIND VIS SIZE SECTION-INDEX" of a defined dynamic symbol, empty if none.
exported() {
    printf '%s\n' "$dynsyms" | awk -v name="$1" '$8 == name && $7 != "UND" { print $4, $5, $6, $3, $7 }'
}

section_name() {
    printf '%s\n' "$sections" | sed -n "s/^ *\[ *$1\] \([^ ]*\) .*/\1/p"
}

for function in cnt1entd qvdwsysr qvdwsypr qvdwsyts collectQVStatusdata summarizeQVStatusData \
                kqvsqlp kqvsqlo kqvsqli kqvsqlf kqvsqlc kqvsqld RSLTinit RSLTget RSLTdestroy \
                buildOrigList buildNodeList jwbld00; do
    set -- $(exported "$function")
    if [ $# -eq 0 ]; then
        fail "function $function is not exported"
    elif [ "$1 $2 $3" != "FUNC GLOBAL DEFAULT" ]; then
        fail "function $function is exported as '$1 $2 $3'"
    fi
done

# Data: name, size in the 32-bit build, whether it must lie in writable storage.
while read -r name size32 writable; do
    set -- $(exported "$name")
    if [ $# -eq 0 ]; then
        fail "data $name is not exported"
        continue
    fi
    [ "$1 $2 $3" = "OBJECT GLOBAL DEFAULT" ] || fail "data $name is exported as '$1 $2 $3'"
    if [ "$pointer_bytes" = 4 ] && [ "$4" != "$size32" ]; then
        fail "data $name has $4 bytes, expected $size32"
    fi
    if [ "$writable" = yes ]; then
        section=$(section_name "$5")
        case "$section" in
            .data | .data.rel | .data.rel.local) ;;
            *) fail "data $name lies in section '$section', not in writable data" ;;
        esac
    fi
done <<EOF
CNT1_Contents 264 yes
CNT1_entryList 40 yes
PRB1_Vector 96 yes
values_list 16 no
info_strings 76 no
comment_strings 72 no
EOF

# The version entry is local to its unit: reachable only through the vector.
[ -z "$(exported KQVDWSYS__GCD)" ] || fail "KQVDWSYS__GCD is in the dynamic symbol table"
printf '%s\n' "$symtab" | grep -Eq '^[0-9a-fA-F]+ t KQVDWSYS__GCD$' ||
    fail "KQVDWSYS__GCD is not a local function of that exact name in the symbol table"

# The contents header exists only to import the registration service's handler.
printf '%s\n' "$dynsyms" | awk '$7 == "UND" { sub(/@.*/, "", $8); print $8 }' | grep -qx kglcnt1h ||
    fail "kglcnt1h is not imported"

mangled=$(printf '%s\n' "$dynsyms" | awk '$7 != "UND" && $8 ~ /^_Z/ { print $8 }' | tr '\n' ' ')
[ -z "$mangled" ] || fail "C++-mangled symbols are exported: $mangled"

if [ "$failures" -ne 0 ]; then
    echo "$library: $failures check(s) failed" >&2
    exit 1
fi
echo "$library: all checks passed"

#!/bin/sh
# The image's own frames: compiles the firmware sources for the UEFI target
# (the flags of efi/CMakeLists.txt's image objects) with -fstack-usage and
# prints the largest frames, a cross-check of zelm-stack-bench's depths
# (no path can be shallower than its largest frame).
#   stack-usage.sh OUTDIR CXX ROOT SOURCE...
# Prints:
#   stack-frame <bytes> <function> (the five largest)
#   stack-frame-max <bytes>
set -eu
outdir=$1
cxx=$2
root=$3
shift 3
mkdir -p "$outdir"
rm -f "$outdir"/*.su
for src in "$@"; do
  stem=$(echo "$src" | sed "s|^$root/||; s|[/.]|_|g")
  "$cxx" --target=x86_64-unknown-windows -std=c++20 -O2 -ffreestanding -nostdlibinc \
    -fno-exceptions -fno-rtti -fno-threadsafe-statics -mno-red-zone -fshort-wchar \
    -fno-stack-protector -mno-stack-arg-probe -ffunction-sections -fdata-sections \
    -I"$root/include" -I"$root" -fstack-usage -c "$src" -o "$outdir/$stem.obj"
done
# Lines: file:line:function<TAB>bytes<TAB>kind.
cat "$outdir"/*.su | awk -F'\t' '{ n = split($1, p, ":"); print $2, p[n] }' | sort -n -r >"$outdir/frames.txt"
head -n 5 "$outdir/frames.txt" | while read -r bytes name; do
  echo "stack-frame $bytes $name"
done
echo "stack-frame-max $(head -n 1 "$outdir/frames.txt" | cut -d' ' -f1)"

#!/usr/bin/env bash
# Boots the test harness under QEMU + OVMF and passes when the harness
# reports a pass.
# Usage: run-ovmf.sh [--no-region-hob | --two-boots] <harness.efi> <zelm.efi>
#
# --no-region-hob puts the marker file zelm-no-region-hob on the ESP: the
# harness then gives the driver no region-table HOB, and the run passes only
# when the harness says it left the HOB out.
#
# --two-boots starts QEMU twice over the same ESP and the same copy of the
# variable store: zelm-boot-1 on the ESP for the first run, replaced by
# zelm-boot-2 for the second. Each run must pass on its own, and must say
# it saw its marker. Given zelm-sim as a third argument, it then mirrors
# the variables boot 2 published (printed by the harness on its console in
# efivarfs layout, rebuilt here as a directory) and dry-runs boot 2's settings packet on the mirror: the
# tool must refuse what the image refused and accept what it accepted.
#
# A fresh ESP directory holds the harness as EFI/BOOT/BOOTX64.EFI (started
# by the firmware's default boot) and zelm.efi beside it; the firmware gets
# a private copy of the variable store. The 4 MB OVMF build is the one whose
# variable store takes a full-size packet. Emulation is TCG, named
# explicitly: KVM is not there on every machine, and where /dev/kvm exists
# inside a virtual machine OVMF can stop in its first instructions.
set -u

name=ovmf_boot
no_region_hob=false
two_boots=false
if [[ ${1:-} == --no-region-hob ]]; then
  name=ovmf_boot_no_hob
  no_region_hob=true
  shift
elif [[ ${1:-} == --two-boots ]]; then
  name=ovmf_two_boots
  two_boots=true
  shift
fi
usage="usage: run-ovmf.sh [--no-region-hob | --two-boots] <harness.efi> <zelm.efi> [zelm-sim]"
harness=${1:?$usage}
driver=${2:?$usage}
sim=${3:-}
ovmf_code=${ZELM_OVMF_CODE:-/usr/share/OVMF/OVMF_CODE_4M.fd}
ovmf_vars=${ZELM_OVMF_VARS:-/usr/share/OVMF/OVMF_VARS_4M.fd}
limit=${ZELM_OVMF_TIMEOUT:-50}
# The harness writes 0x10 (pass) or 0x11 (fail) to isa-debug-exit, which
# makes QEMU exit with (value << 1) | 1.
exit_passed=33

fail() {
  echo "$name: FAILED: $*" >&2
  exit 1
}

command -v qemu-system-x86_64 >/dev/null ||
  fail "qemu-system-x86_64 is not installed (Debian package qemu-system-x86)"
command -v timeout >/dev/null || fail "timeout (coreutils) is not installed"
for f in "$ovmf_code" "$ovmf_vars"; do
  [[ -r $f ]] || fail "$f is missing (Debian package ovmf)"
done
for f in "$harness" "$driver"; do
  [[ -r $f ]] || fail "$f is missing (build the EFI images first)"
done

work=$(mktemp -d "${TMPDIR:-/tmp}/zelm-ovmf.XXXXXX") || fail "cannot make a work directory"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/esp/EFI/BOOT"
cp "$harness" "$work/esp/EFI/BOOT/BOOTX64.EFI"
cp "$driver" "$work/esp/zelm.efi"
cp "$ovmf_vars" "$work/vars.fd"
if $no_region_hob; then
  : >"$work/esp/zelm-no-region-hob"
fi

# One QEMU run over the ESP and the variable store; sets status, seconds
# and verdict from the serial log $1.
boot() {
  local log=$1
  local start end
  start=$(date +%s.%N)
  timeout --kill-after=5 "$limit" \
    qemu-system-x86_64 -machine q35 -m 256 -nographic -no-reboot \
    -drive if=pflash,format=raw,readonly=on,file="$ovmf_code" \
    -drive if=pflash,format=raw,file="$work/vars.fd" \
    -drive format=raw,file=fat:rw:"$work/esp" \
    -net none -device isa-debug-exit,iobase=0xf4,iosize=0x04 -accel tcg \
    </dev/null >"$log" 2>&1
  status=$?
  end=$(date +%s.%N)
  seconds=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.1f", b - a }')
  # The console carries terminal control sequences; the verdict line is plain.
  verdict=$(tr -d '\r' <"$log" | grep -aoE 'zelm-harness: (PASS|FAIL [0-9]+)' | tail -n 1)
}

# The serial log $1 in full, then the reason for failing.
fail_with_log() {
  local log=$1
  shift
  echo "----- serial log -----"
  cat -v "$log"
  echo "----- end of serial log -----"
  if [[ $status -eq 124 || $status -eq 137 ]]; then
    fail "${*:+$* }no verdict within ${limit} s (the firmware or the harness did not answer)"
  fi
  fail "${*:+$* }verdict '${verdict:-none}', QEMU exit status $status (expected $exit_passed), after ${seconds} s"
}

if $two_boots; then
  total=0
  for n in 1 2; do
    rm -f "$work/esp/zelm-boot-1" "$work/esp/zelm-boot-2"
    : >"$work/esp/zelm-boot-$n"
    log=$work/serial-$n.log
    boot "$log"
    total=$(awk -v a="$total" -v b="$seconds" 'BEGIN { printf "%.1f", a + b }')
    # Without this line the harness did not see the marker and the run
    # would only repeat the single boot.
    if ! tr -d '\r' <"$log" | grep -aq "zelm-harness: info: end-to-end boot $n\$"; then
      fail_with_log "$log" "boot $n: the harness did not see zelm-boot-$n;"
    fi
    if [[ $verdict != "zelm-harness: PASS" || $status -ne $exit_passed ]]; then
      fail_with_log "$log" "boot $n:"
    fi
    tr -d '\r' <"$log" | grep -a 'zelm-harness:'
    echo "$name: boot $n passed in ${seconds} s"
  done
  if [[ -n $sim ]]; then
    # Boot 2 printed the published variables in efivarfs layout on its
    # console; rebuild the directory from there.
    machine=$work/efivars
    mkdir -p "$machine"
    file=
    while read -r tag value; do
      case $tag in
        zelm-efivar-file) file=$machine/$value; : >"$file" ;;
        zelm-efivar-data) [[ -n $file ]] && printf '%b' "$(sed 's/../\\x&/g' <<<"$value")" >>"$file" ;;
      esac
    done < <(tr -d '\r' <"$work/serial-2.log" | grep -aoE 'zelm-efivar-(file|data) [-0-9A-Za-z]+')
    [[ -n $file ]] || fail "boot 2 printed no published variable"
    # Boot 1 enrolled the owner; the mirror must be told, as the operating
    # system cannot see it.
    if ! "$sim" --store "$work/mirror" mirror --efivarfs "$machine" --owner-enrolled \
      >"$work/mirror.log" 2>&1; then
      cat "$work/mirror.log"
      fail "zelm-sim could not mirror what boot 2 published"
    fi
    # Boot 2's settings packet: the packet applies, USB boot (the owner's
    # alone since boot 1) is refused. Then what boot 1 applied, again.
    printf '%s' '<?xml version="1.0" encoding="utf-8"?><SettingsPacket><Version>2</Version><LowestSupportedVersion>1</LowestSupportedVersion><Settings><Setting><Id>Device.USBBoot.Enable</Id><Value>Disabled</Value></Setting></Settings></SettingsPacket>' >"$work/boot2.xml"
    printf '%s' '<?xml version="1.0" encoding="utf-8"?><SettingsPacket><Version>2</Version><LowestSupportedVersion>1</LowestSupportedVersion><Settings><Setting><Id>Device.BootOrderLock.Enable</Id><Value>Enabled</Value></Setting><Setting><Id>Zelm3.AssetTag.String</Id><Value>E2E-0001</Value></Setting></Settings></SettingsPacket>' >"$work/boot1.xml"
    refused=$("$sim" --store "$work/mirror" apply settings "$work/boot2.xml" --signer local --dry-run --json)
    accepted=$("$sim" --store "$work/mirror" apply settings "$work/boot1.xml" --signer local --dry-run --json)
    [[ $refused == '{"state": 4, "status": "0x0", '*'"elements": [{"id": "Device.USBBoot.Enable", "result": "0x800000000000000F"'* ]] ||
      fail "the mirror does not refuse what boot 2 refused: $refused"
    [[ $accepted == '{"state": 4, "status": "0x0", '*'"elements": [{"id": "Device.BootOrderLock.Enable", "result": "0x0"'*'{"id": "Zelm3.AssetTag.String", "result": "0x0", "before": "E2E-0001", "after": "E2E-0001"'* ]] ||
      fail "the mirror does not accept what the image accepted: $accepted"
    echo "$name: zelm-sim's mirror of boot 2's published variables refuses and accepts as the image did"
  fi
  echo "$name: PASS in ${total} s (zelm.efi $(stat -c %s "$driver") bytes)"
  exit 0
fi

log=$work/serial.log
boot "$log"

# Without this line the harness did not see the marker and the run would
# only repeat the first one.
hob_left_out=true
if $no_region_hob && ! tr -d '\r' <"$log" | grep -aq 'zelm-harness: info: region-table HOB left out'; then
  hob_left_out=false
fi

if [[ $verdict == "zelm-harness: PASS" && $status -eq $exit_passed ]] && $hob_left_out; then
  tr -d '\r' <"$log" | grep -a 'zelm-harness:'
  echo "$name: passed in ${seconds} s (zelm.efi $(stat -c %s "$driver") bytes)"
  exit 0
fi

if ! $hob_left_out && [[ $verdict == "zelm-harness: PASS" ]]; then
  echo "----- serial log -----"
  cat -v "$log"
  echo "----- end of serial log -----"
  fail "the harness did not leave the region-table HOB out (marker not seen)"
fi
fail_with_log "$log"

# The closing table of `make bench`, from the "<key words> <number>" lines
# of every benchmark: the key is the words before the first number.
#   awk -f bench/summary.awk figures.txt
function row(label, key, target,    shown, verdict) {
  if (!(key in value)) {
    printf "  %-44s %12s\n", label, "(not run)"
    return
  }
  shown = value[key]
  verdict = ""
  if (target != "") {
    verdict = (value[key] + 0 <= target + 0) ? "met" : "MISS"
    verdict = sprintf("<= %-8s %s", target, verdict)
  }
  printf "  %-44s %12s  %s\n", label, shown, verdict
}
function head(title) {
  printf "\n%s\n", title
}
{
  key = ""
  for (i = 1; i <= NF; i++) {
    if ($i ~ /^-?[0-9]+(\.[0-9]+)?$/) {
      value[key] = $i
      break
    }
    key = key == "" ? $i : key " " $i
  }
}
END {
  printf "\n== Zelm figures (each also printed above as its own line) ==\n"
  head("XML library, ours over the peer (time of ours / time of theirs)")
  row("parse / pugixml", "ratio parse pugixml", "1.0")
  row("parse / expat", "ratio parse expat", "0.15")
  row("parse / libxml2", "ratio parse libxml2", "0.15")
  row("parse / tinyxml2", "ratio parse tinyxml2", "0.15")
  row("write / pugixml", "ratio write pugixml", "0.7")
  row("pool bytes per input byte (24 KiB packet)", "pool-bytes-per-input-byte", "3")
  head("ApplyPacket on the largest packets, over parsing their payload")
  row("settings, 70 settings unchanged", "ratio apply/parse unchanged", "3")
  row("settings, 70 settings changed", "ratio apply/parse changed", "3")
  row("settings, 24 KiB unchanged", "ratio apply/parse large unchanged", "3")
  row("settings, 24 KiB changed", "ratio apply/parse large changed", "3")
  row("permissions, 118 elements kept", "ratio perm-apply/parse", "3")
  printf "  the same, without the time spent in the variable services and providers:\n"
  row("  settings, 70 changed", "ratio apply/parse own changed", "3")
  row("  settings, 24 KiB changed", "ratio apply/parse own large changed", "3")
  row("  permissions kept", "ratio perm-apply/parse own", "3")
  row("settings, 70 changed (us)", "apply-us changed", "")
  row("settings, 24 KiB changed (us)", "apply-us large changed", "")
  row("permissions kept (us)", "perm-apply-us", "")
  head("Variable calls")
  row("SetVariable, settings packet, 70 changed", "setvariable-calls changed", "")
  row("GetVariable, settings packet, 70 changed", "getvariable-calls changed", "")
  row("SetVariable, settings packet, unchanged", "setvariable-calls unchanged", "")
  row("SetVariable, permissions packet kept", "setvariable-calls perm-keep", "")
  row("GetVariable, permissions packet kept", "getvariable-calls perm-keep", "")
  row("SetVariable, steady boot", "setvariable-calls steady-boot", "0")
  row("GetVariable, steady boot", "getvariable-calls steady-boot", "")
  head("Boot, pool and stack")
  row("start-up to ready-to-boot, steady (us)", "boot-us steady-boot", "")
  row("peak pool bytes, steady boot", "peak-pool-bytes steady-boot", "")
  row("peak pool bytes, settings packet 70 changed", "peak-pool-bytes apply changed", "")
  row("peak pool bytes, settings packet 24 KiB", "peak-pool-bytes apply large changed", "")
  row("peak pool bytes, permissions packet kept", "peak-pool-bytes perm-keep", "")
  row("stack-max (bytes, deepest entry point)", "stack-max", "16384")
  row("efi-size (bytes)", "efi-size", "98304")
  row("fleet check per machine (ms)", "fleet-check-ms-per-machine", "")
}

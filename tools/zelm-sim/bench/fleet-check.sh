#!/bin/sh
# The fleet check's speed: a 30-setting packet checked against 200 exported
# machines whose permissions differ. Prints fleet-check-ms-per-machine.
# Usage: fleet-check.sh ZELM_SIM [MACHINES]
set -eu
sim=$1
machines=${2:-200}
work=$(mktemp -d /tmp/zelm-fleet-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT INT TERM
"$sim" --store "$work/base" enroll owner >/dev/null
ids="Device.BootOrderLock.Enable Device.USBBoot.Enable Zelm.BootOnboardNetwork.Enable
Device.CpuAndIoVirtualization.Enable Zelm3.OnboardXpbt.Enable Zelm.BootExternalMedia.Enable"
strings="Zelm.RecoveryUrl.String Zelm.RecoveryBootstrapUrl.String Zelm.RegistrationId.String
Zelm.TenantId.String MDM.FriendlyName.String MDM.TenantName.String Zelm3.AssetTag.String"
i=0
while [ "$i" -lt "$machines" ]; do
  cp -r "$work/base" "$work/s$i"
  # Each machine gives a different set of settings to the owner alone.
  {
    echo '<?xml version="1.0" encoding="utf-8"?><PermissionsPacket><Version>1</Version>'
    echo '<LowestSupportedVersion>1</LowestSupportedVersion><Permissions Append="True">'
    k=0
    for id in $ids $strings; do
      if [ $(( (i >> (k % 8)) & 1 )) -eq 1 ]; then
        echo "<Permission><Id>$id</Id><PMask>128</PMask><DMask>128</DMask></Permission>"
      fi
      k=$((k + 1))
    done
    echo '</Permissions></PermissionsPacket>'
  } >"$work/p$i.xml"
  "$sim" --store "$work/s$i" apply permissions "$work/p$i.xml" --signer owner >/dev/null
  "$sim" --store "$work/s$i" export --efivarfs "$work/m$i" >/dev/null
  dirs="${dirs:-} $work/m$i"
  i=$((i + 1))
done
{
  echo '<?xml version="1.0" encoding="utf-8"?><SettingsPacket><Version>1</Version>'
  echo '<LowestSupportedVersion>1</LowestSupportedVersion><Settings>'
  n=0
  while [ "$n" -lt 30 ]; do
    for id in $ids; do
      [ "$n" -lt 30 ] && echo "<Setting><Id>$id</Id><Value>Disabled</Value></Setting>"
      n=$((n + 1))
    done
    for id in $strings; do
      [ "$n" -lt 30 ] && echo "<Setting><Id>$id</Id><Value>fleet-$n</Value></Setting>"
      n=$((n + 1))
    done
  done
  echo '</Settings></SettingsPacket>'
} >"$work/settings.xml"
start=$(date +%s%N)
# shellcheck disable=SC2086
"$sim" check settings "$work/settings.xml" --signer local --owner-enrolled --against $dirs \
  >"$work/out.jsonl" || [ $? -eq 1 ]
end=$(date +%s%N)
[ "$(wc -l <"$work/out.jsonl")" -eq $((machines + 1)) ]
awk -v ns=$((end - start)) -v n="$machines" 'BEGIN { printf "fleet-check-ms-per-machine %.2f\n", ns / 1e6 / n }'

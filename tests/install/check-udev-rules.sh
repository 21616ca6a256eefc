#!/usr/bin/env bash
# Reads the udev rules as udev matches KERNEL names (shell-style globs) and checks which
# nodes they hand to group "kinetor": every node the library opens, and nothing else.
# Argument: the rules file.
set -euo pipefail
rules=$1

# The group and mode a node gets from the rules: the last matching assignment wins.
node_access() {
  local node=$1 subsystem=$2 line kernel sub group mode result=""
  while IFS= read -r line; do
    [[ $line =~ ^[[:space:]]*(#|$) ]] && continue
    kernel=$(sed -n 's/.*KERNEL=="\([^"]*\)".*/\1/p' <<<"$line")
    sub=$(sed -n 's/.*SUBSYSTEM=="\([^"]*\)".*/\1/p' <<<"$line")
    # shellcheck disable=SC2053
    [[ -n $kernel && $node == $kernel ]] || continue
    [[ -z $sub || $subsystem == "$sub" ]] || continue
    group=$(sed -n 's/.*GROUP="\([^"]*\)".*/\1/p' <<<"$line")
    mode=$(sed -n 's/.*MODE="\([^"]*\)".*/\1/p' <<<"$line")
    result="$group $mode"
  done <"$rules"
  echo "$result"
}

status=0
# node, its subsystem, the group and mode it must get ("-": none of ours)
while read -r node subsystem want; do
  [ "$want" = "-" ] && want="" || want=${want//_/ }
  got=$(node_access "$node" "$subsystem")
  if [ "$got" != "$want" ]; then
    echo "FAIL: $node ($subsystem): got '${got}', want '${want}'"
    status=1
  fi
done <<'TABLE'
kinepp        misc      kinetor_0660
kinepp_modes  misc      kinetor_0660
kinpci0       kinpci    kinetor_0660
kinpci3       kinpci    kinetor_0660
raw1394       raw1394   kinetor_0660
fw0           firewire  kinetor_0660
fw12          firewire  kinetor_0660
fw0           block     -
kinpci        kinpci    -
kinppx        misc      -
ttyS0         tty       -
sda           block     -
TABLE
exit $status

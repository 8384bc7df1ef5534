#!/bin/sh
# The end-to-end cases on the ALSA sequencer, one after the other in the one
# virtual machine that runs this script (scripts/vm-run.sh): the program's
# cases, its faults, then --connect. Status 0 when all passed.
# Usage: alsa_cases.sh PROGRAM SEQ_PEER KEY_TABLE OUT
set -u
here=$(dirname "$0")
common="--midi alsa --program $1 --seq-peer $2 --out $4"
status=0
python3 "$here/zorve_e2e.py" $common --key-table "$3" \
  midi_fanout port_switch panel_port device_restart list_devices monitor second_instance || status=1
python3 "$here/zorve_faults.py" $common receiver_stalled input_flood show_input || status=1
python3 "$here/zorve_map.py" $common --examples "$here/../../data/examples" connect || status=1
exit $status

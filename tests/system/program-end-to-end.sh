#!/usr/bin/env bash
# End to end: the program's application object and main dialog (offscreen, real socket layer)
# in the host namespace of a throw-away test network with simulated devices.
# usage: end-to-end.sh <OLDiscoveryEndToEndTest binary>   (ORVALINK_SIM names the simulator)
# Exit 0 pass, 1 fail, 77 skipped (no namespaces here).
set -u
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../scripts/netns-lib.sh"
source "$here/demo-network.sh"
: "${ORVALINK_SIM:?}"
test_binary=${1:?}

netns_setup
# The locate requests 10.77.1.2 receives; held open so neither side waits for the other to open.
DEMO_LOCATE_RECORD="$NETNS_TMP/locate-record"
mkfifo "$DEMO_LOCATE_RECORD"
exec 3<>"$DEMO_LOCATE_RECORD"
demo_network_add_devices || exit 1
netns_host env QT_QPA_PLATFORM=offscreen QT_QPA_PLATFORMTHEME= \
    OLD_EXPECTED_ROWS="$DEMO_EXPECTED_ROWS" OLD_LOCATE_RECORD="$DEMO_LOCATE_RECORD" "$test_binary"

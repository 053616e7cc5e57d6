# shellcheck shell=bash
# The simulated devices of the demo and of the end-to-end test: five devices of different types
# and builds on the host's subnet and one behind the router. Source it after
# scripts/netns-lib.sh and call demo_network_add_devices once netns_setup has run. With
# DEMO_LOCATE_RECORD set, the device 10.77.1.2 writes every locate request it gets there (hex,
# one line each; a FIFO must already be open for reading and writing).

demo_network_add_devices() {
    netns_add_devices 10.77.1.1 1 --type "OL-2000" --build "1.2.3" || return 1
    netns_add_devices 10.77.1.2 1 --type "OL-2100 PoE" --build "2.0.14" \
        ${DEMO_LOCATE_RECORD:+--record "$DEMO_LOCATE_RECORD"} || return 1
    netns_add_devices 10.77.1.9 1 --type "OL-4000 Rack" --build "4.1.0" || return 1
    netns_add_devices 10.77.1.10 1 --type "OL-Mini" --build "0.9 beta" || return 1
    netns_add_devices 10.77.1.20 1 --type "OL-Bridge" --build "3.3" || return 1
    netns_add_far_device 10.78.0.20 --type "OL-Far" --build "5.5" || return 1
}

# The list as the main dialog shows it: IP, MAC, type and build, tab-separated, in the list's
# text order of the IP column. The device behind the router has no hardware address here.
T=$'\t'
DEMO_EXPECTED_ROWS="10.77.1.1${T}02:00:0A:4D:01:01${T}OL-2000${T}1.2.3
10.77.1.10${T}02:00:0A:4D:01:0A${T}OL-Mini${T}0.9 beta
10.77.1.2${T}02:00:0A:4D:01:02${T}OL-2100 PoE${T}2.0.14
10.77.1.20${T}02:00:0A:4D:01:14${T}OL-Bridge${T}3.3
10.77.1.9${T}02:00:0A:4D:01:09${T}OL-4000 Rack${T}4.1.0
10.78.0.20${T}n/a${T}OL-Far${T}5.5"

# shellcheck shell=bash
# A throw-away test network in Linux network namespaces, for the namespace tests, the demo and
# the scale benchmark. Every packet stays inside the namespaces made here; nothing is added to
# the root namespace, and everything is removed again on exit, also after a failure or Ctrl-C.
#
# Usage (source it, as root; bash):
#   source scripts/netns-lib.sh
#   netns_setup                        # namespaces, bridge, router; traps EXIT/INT/TERM
#   netns_add_devices 10.77.1.1 3 --type "OL-2000" --build "1.2.3"   # 3 simulated devices
#   netns_add_devices 10.77.1.9 1 --no-extra --duplicate           # more orvalink-sim options
#   netns_add_far_device 10.78.0.20 --type "OL-Far" --build "9"     # a device behind the router
#   netns_add_segment dev2; netns_add_devices_in dev2 10.77.16.1 500  # a second device namespace
#   netns_add_site b 10.79.0.10/16     # a second site: namespaces b-host (lan0), b-lan, b-dev
#   netns_add_devices_in b-dev 10.79.1.1 2                          # devices at that site
#   netns_add_namespace mon            # an empty namespace (lo up), e.g. a central monitor
#   netns_add_link mon a0 10.78.200.1/30 host up0 10.78.200.2/30    # a routed link between two
#   netns_default_route on             # (off by default) host default route via the router
#   netns_host oldiscovery-scan        # run a command in the host namespace
#   netns_teardown                     # optional: the EXIT trap does it anyway
#
# The network: namespace "$NETNS_PREFIX-host" (interface lan0, $NETNS_HOST_IP/16) is where the
# tool runs. It shares a bridge (namespace "-lan") with the device namespace "-dev" (interface
# eth0, no address: orvalink-sim answers for every device address itself, each with its own
# hardware address 02:00:<IP bytes>) and with the router "-rtr" (lan0 $NETNS_ROUTER_IP, far0
# 10.78.0.1/24). Behind the router, namespace "-far" holds the far devices on 10.78.0.0/24.
# Routers never forward 255.255.255.255, so orvalink-sim --relay-from/--relay-to runs in the
# router and repeats discover requests onto the far subnet; the answers are routed back.
#
# Variables: ORVALINK_SIM (path of orvalink-sim, required before netns_add_*),
# NETNS_PREFIX (set by netns_setup, unique per run), NETNS_HOST_IP, NETNS_ROUTER_IP.
# netns_setup exits with status 77 (the tests' skip code) when namespaces cannot be made.

NETNS_HOST_IP=10.77.0.10
NETNS_ROUTER_IP=10.77.0.1
NETNS_FAR_SUBNET=10.78.0.0/24
NETNS_FAR_ROUTER_IP=10.78.0.1
NETNS_PREFIX=""
NETNS_MADE=()   # namespaces this run created, removed by netns_teardown
NETNS_PIDS=()   # processes this run started inside them
NETNS_TMP=""

netns_skip() {
    echo "SKIP: $*" >&2
    exit 77
}

# ns <name> <command...>: runs a command inside one of this run's namespaces.
netns_exec() {
    local ns=$1; shift
    ip netns exec "$NETNS_PREFIX-$ns" "$@"
}

netns_host() {
    netns_exec host "$@"
}

_netns_add() {
    ip netns add "$NETNS_PREFIX-$1" || return 1
    NETNS_MADE+=("$NETNS_PREFIX-$1")
    netns_exec "$1" ip link set lo up || return 1
    # IPv6 would only add router solicitations and DAD noise.
    netns_exec "$1" sysctl -q -w net.ipv6.conf.all.disable_ipv6=1 net.ipv6.conf.default.disable_ipv6=1 >/dev/null 2>&1 || true
}

# _netns_link <nsA> <ifA> <nsB> <ifB>: a veth pair made directly inside the two namespaces.
_netns_link() {
    ip link add "$2" netns "$NETNS_PREFIX-$1" type veth peer name "$4" netns "$NETNS_PREFIX-$3"
}

# What earlier runs left that were killed before their EXIT trap could run (a test at its time
# limit gets SIGKILL): their namespaces, the processes still in them and their temporary folders.
# Names carry the creating shell's process id; only those whose creator no longer runs are taken.
_netns_remove_orphans() {
    local ns creator pid dir
    for ns in $(ip netns list 2>/dev/null | awk '{print $1}'); do
        creator=${ns#oldt-}
        creator=${creator%%-*}
        case $ns in oldt-*) ;; *) continue ;; esac
        case $creator in '' | *[!0-9]*) continue ;; esac
        [ -e "/proc/$creator" ] && continue
        for pid in $(ip netns pids "$ns" 2>/dev/null); do
            kill -KILL "$pid" 2>/dev/null || true
        done
        ip netns del "$ns" 2>/dev/null || true
    done
    for dir in /tmp/oldnetns.*.*; do
        creator=${dir#/tmp/oldnetns.}
        creator=${creator%%.*}
        case $creator in '' | *[!0-9]*) continue ;; esac
        if [ -d "$dir" ] && [ ! -e "/proc/$creator" ]; then
            rm -rf "$dir"
        fi
    done
    # Callers may run under set -e: a live run's folder, the last one looked at, is no failure.
    return 0
}

netns_setup() {
    [ "$(id -u)" -eq 0 ] || netns_skip "network namespaces need root"
    command -v ip >/dev/null 2>&1 || netns_skip "ip (iproute2) is not installed"
    _netns_remove_orphans
    NETNS_PREFIX="oldt-$$-${RANDOM}${RANDOM}"
    trap netns_teardown EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
    if ! ip netns add "$NETNS_PREFIX-host" 2>/dev/null; then
        NETNS_PREFIX=""
        netns_skip "cannot create network namespaces here (ip netns add failed)"
    fi
    NETNS_MADE+=("$NETNS_PREFIX-host")
    netns_exec host ip link set lo up
    netns_exec host sysctl -q -w net.ipv6.conf.all.disable_ipv6=1 >/dev/null 2>&1 || true
    NETNS_TMP=$(mktemp -d "/tmp/oldnetns.$$.XXXXXX")

    # The first namespace proved that namespaces can be made; a later step that fails (a
    # missing veth or bridge module, a kernel limit, another run's load) still says nothing
    # about the code under test, so it is a skip with the step that failed. The far devices
    # answer from another subnet, so the host's source validation is off.
    local step
    while IFS= read -r step; do
        [ -n "$step" ] || continue
        eval "$step" </dev/null || netns_skip "test network set-up failed at: $step"
    done <<'STEPS'
_netns_add lan
_netns_add dev
_netns_add rtr
_netns_add far
_netns_bridge lan
_netns_link host lan0 lan p-host
_netns_link dev eth0 lan p-dev
_netns_link rtr lan0 lan p-rtr
_netns_link rtr far0 far eth0
_netns_ports lan p-host p-dev p-rtr
netns_exec host ip addr add "$NETNS_HOST_IP/16" dev lan0
netns_exec host ip link set lan0 up
netns_exec host sysctl -q -w net.ipv4.conf.all.rp_filter=0 net.ipv4.conf.lan0.rp_filter=0 >/dev/null
netns_exec dev ip link set eth0 up
netns_exec rtr ip addr add "$NETNS_ROUTER_IP/16" dev lan0
netns_exec rtr ip addr add "$NETNS_FAR_ROUTER_IP/24" dev far0
netns_exec rtr ip link set lan0 up
netns_exec rtr ip link set far0 up
netns_exec rtr sysctl -q -w net.ipv4.ip_forward=1 >/dev/null
_netns_router_knows_host
netns_exec far ip link set eth0 up
STEPS
}

# The router forwards the far devices' answers to the host. A permanent entry needs no room in
# the kernel's neighbour table, which every namespace shares and a big lab can fill.
_netns_router_knows_host() {
    local host_mac
    host_mac=$(netns_host cat /sys/class/net/lan0/address 2>/dev/null ||
        netns_host ip -o link show lan0 | sed -n 's/.*link\/ether \([^ ]*\).*/\1/p')
    [ -n "$host_mac" ] || return 1
    netns_exec rtr ip neigh replace "$NETNS_HOST_IP" lladdr "$host_mac" nud permanent dev lan0
}

# _netns_bridge <ns>: the bridge br0 of a LAN namespace, up. Frames reach every port at once (no
# learning delay, no spanning tree in a test).
_netns_bridge() {
    netns_exec "$1" ip link add br0 type bridge || return 1
    netns_exec "$1" ip link set br0 type bridge forward_delay 0 stp_state 0 2>/dev/null || true
    netns_exec "$1" ip link set br0 up
}

# _netns_ports <ns> <port...>: links of other namespaces to the LAN, put on its bridge and up.
_netns_ports() {
    local ns=$1 port; shift
    for port in "$@"; do
        netns_exec "$ns" ip link set "$port" master br0 || return 1
        netns_exec "$ns" ip link set "$port" up || return 1
    done
}

# netns_default_route on|off: the host's default route via the router.
netns_default_route() {
    if [ "$1" = on ]; then
        netns_host ip route replace default via "$NETNS_ROUTER_IP" dev lan0
    else
        netns_host ip route del default 2>/dev/null || true
    fi
}

# netns_far_route on|off: a route to the far subnet only (no default route).
netns_far_route() {
    if [ "$1" = on ]; then
        netns_host ip route replace "$NETNS_FAR_SUBNET" via "$NETNS_ROUTER_IP" dev lan0
    else
        netns_host ip route del "$NETNS_FAR_SUBNET" 2>/dev/null || true
    fi
}

# _netns_start <ns> <args...>: starts orvalink-sim in a namespace and waits (at most 10 s) until it
# listens.
_netns_start() {
    local ns=$1; shift
    [ -n "${ORVALINK_SIM:-}" ] && [ -x "$ORVALINK_SIM" ] || { echo "ORVALINK_SIM is not set" >&2; return 1; }
    local fifo
    fifo="$NETNS_TMP/ready.${#NETNS_PIDS[@]}"
    mkfifo "$fifo"
    # Started directly (not through a shell function) so that $! is the simulator itself.
    ip netns exec "$NETNS_PREFIX-$ns" "$ORVALINK_SIM" "$@" --ready "$fifo" &
    NETNS_PIDS+=("$!")
    local line=""
    read -r -t 10 line <>"$fifo" || true
    rm -f "$fifo"
    if [ "$line" != ready ]; then
        echo "orvalink-sim did not start: $*" >&2
        return 1
    fi
}

# netns_add_segment <name>: one more device namespace "-<name>" on the LAN (interface eth0, no
# address), for a second group of simulators with netns_add_devices_in.
netns_add_segment() {
    _netns_add "$1" || return 1
    _netns_link "$1" eth0 lan "p-$1" || return 1
    _netns_ports lan "p-$1" || return 1
    netns_exec "$1" ip link set eth0 up
}

# netns_add_namespace <name>: one more namespace "-<name>" of this run, with only lo up.
netns_add_namespace() {
    _netns_add "$1"
}

# netns_add_link <nsA> <ifA> <addrA/prefix> <nsB> <ifB> <addrB/prefix>: a veth pair between two
# of this run's namespaces, addressed and up.
netns_add_link() {
    _netns_link "$1" "$2" "$4" "$5" || return 1
    netns_exec "$1" ip addr add "$3" dev "$2" || return 1
    netns_exec "$4" ip addr add "$6" dev "$5" || return 1
    netns_exec "$1" ip link set "$2" up || return 1
    netns_exec "$4" ip link set "$5" up
}

# netns_add_site <name> <host-address/prefix>: a second LAN like the first one, apart from it:
# namespace "-<name>-host" (interface lan0 with the address), a bridge "-<name>-lan" and a device
# namespace "-<name>-dev" (eth0, no address) for netns_add_devices_in <name>-dev.
netns_add_site() {
    local site=$1 address=$2
    _netns_add "$site-host" || return 1
    _netns_add "$site-lan" || return 1
    _netns_add "$site-dev" || return 1
    _netns_bridge "$site-lan" || return 1
    _netns_link "$site-host" lan0 "$site-lan" p-host || return 1
    _netns_link "$site-dev" eth0 "$site-lan" p-dev || return 1
    _netns_ports "$site-lan" p-host p-dev || return 1
    netns_exec "$site-host" ip addr add "$address" dev lan0 || return 1
    netns_exec "$site-host" ip link set lan0 up || return 1
    netns_exec "$site-dev" ip link set eth0 up
}

# netns_add_devices_in <segment> <first-ip> <count> [orvalink-sim options...]
netns_add_devices_in() {
    local ns=$1 first=$2 count=$3; shift 3
    _netns_start "$ns" --interface eth0 --devices "$first" "$count" "$@"
}

# netns_add_devices <first-ip> <count> [orvalink-sim options...]: simulated devices on the LAN.
netns_add_devices() {
    local first=$1 count=$2; shift 2
    _netns_start dev --interface eth0 --devices "$first" "$count" "$@"
}

# netns_add_far_device <ip> [orvalink-sim options...]: a device behind the router (10.78.0.0/24).
# The first call also starts the router's relay.
netns_add_far_device() {
    local ip=$1; shift
    if [ -z "${NETNS_RELAY_STARTED:-}" ]; then
        _netns_start rtr --relay-from lan0 --relay-to far0 || return 1
        NETNS_RELAY_STARTED=1
    fi
    _netns_start far --interface eth0 --device "$ip" --gateway "$NETNS_FAR_ROUTER_IP" "$@"
}

# netns_stop_devices: ends every simulator started so far (the network stays).
netns_stop_devices() {
    local pid
    for pid in "${NETNS_PIDS[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${NETNS_PIDS[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    NETNS_PIDS=()
    NETNS_RELAY_STARTED=""
}

netns_teardown() {
    local status=$?
    trap - EXIT INT TERM
    netns_stop_devices
    local ns pid
    for ns in "${NETNS_MADE[@]}"; do
        # Anything else still running in there (a tool under test) ends with its namespace.
        for pid in $(ip netns pids "$ns" 2>/dev/null); do
            kill "$pid" 2>/dev/null || true
        done
    done
    for ns in "${NETNS_MADE[@]}"; do
        ip netns del "$ns" 2>/dev/null || true
    done
    NETNS_MADE=()
    [ -n "$NETNS_TMP" ] && rm -rf "$NETNS_TMP"
    NETNS_TMP=""
    return $status
}

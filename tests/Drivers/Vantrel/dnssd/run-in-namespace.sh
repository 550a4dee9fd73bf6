#!/usr/bin/env bash
# Usage: run-in-namespace.sh COMMAND [ARGUMENT...]
# Runs COMMAND in a private network and mount namespace with a DNS-SD responder of its own (a
# D-Bus system bus and an Avahi daemon on the loopback) announcing the three "_http._tcp" services
# published at the end. COMMAND sees DBUS_SYSTEM_BUS_ADDRESS (the private bus) and
# DNSSD_NAMESPACE=1. Needs root; exits 77 (skipped) only when namespaces cannot be created.
set -u

if [ "${DNSSD_NAMESPACE:-}" != 1 ]; then
  if ! unshare --net --mount true 2>/dev/null; then
    echo "SKIPPED: this system cannot create network namespaces (unshare --net --mount needs root)" >&2
    exit 77
  fi
  for tool in ip dbus-daemon dbus-send avahi-daemon avahi-publish-service; do
    command -v "$tool" >/dev/null || { echo "run-in-namespace: $tool is missing (see scripts/bootstrap)" >&2; exit 1; }
  done
  exec unshare --net --mount env DNSSD_NAMESPACE=1 "$0" "$@"
fi

# --- inside the namespaces ---
folder=$(mktemp -d /tmp/dnssd-test.XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  wait
  rm -rf "$folder"
}
trap cleanup EXIT

fail() {
  echo "run-in-namespace: $*" >&2
  [ -f "$folder/avahi.log" ] && sed 's/^/  avahi: /' "$folder/avahi.log" >&2
  [ -f "$folder/dbus.log" ] && sed "s/^/  dbus: /" "$folder/dbus.log" >&2
  exit 1
}

# Polls CONDITION every 50 ms until it holds or 20 s have passed.
wait_for() {
  local deadline=$((SECONDS + 20))
  until eval "$1"; do
    [ $SECONDS -lt $deadline ] || return 1
    sleep 0.05
  done
}

# IPv4 only: the announcements are to resolve to 127.0.0.1, never to ::1.
sysctl -qw net.ipv6.conf.lo.disable_ipv6=1 2>/dev/null
ip link set lo up && ip link set lo multicast on || fail "cannot bring up the loopback"
# A private /run keeps Avahi's pid file and socket apart from any daemon of the machine.
mount -t tmpfs tmpfs /run && mkdir -p /run/avahi-daemon || fail "cannot mount a private /run"

cat >"$folder/bus.conf" <<CONF
<busconfig><type>system</type><listen>unix:path=$folder/bus</listen><auth>EXTERNAL</auth>
  <policy context="default"><allow user="*"/><allow own="*"/><allow send_destination="*"/>
    <allow receive_sender="*"/></policy></busconfig>
CONF
printf '%s\n' '[server]' use-ipv4=yes use-ipv6=no allow-interfaces=lo enable-dbus=yes '[wide-area]' \
  enable-wide-area=no '[publish]' publish-hinfo=no publish-workstation=no >"$folder/avahi.conf"

export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$folder/bus"
dbus-daemon --config-file="$folder/bus.conf" --nofork --nopidfile 2>"$folder/dbus.log" &
pids+=($!)
wait_for "[ -S '$folder/bus' ]" || fail "the private D-Bus did not start"

avahi-daemon -f "$folder/avahi.conf" --no-rlimits --no-drop-root --no-chroot --no-proc-title >"$folder/avahi.log" 2>&1 &
pids+=($!)
# Running once its server state is 2 (AVAHI_SERVER_RUNNING: host name established).
avahi_running() {
  dbus-send --system --print-reply --dest=org.freedesktop.Avahi / org.freedesktop.Avahi.Server.GetState 2>/dev/null |
    grep -q 'int32 2'
}
wait_for avahi_running || fail "the private Avahi daemon did not start"

# Announces one service and waits until the daemon has established it.
publish() {
  local name=$1 log="$folder/publish-$3.log"
  avahi-publish-service "$@" >"$log" 2>&1 &
  pids+=($!)
  wait_for "grep -q 'Established under name' '$log'" || fail "cannot announce $name: $(cat "$log")"
}
publish "Vantrel one" _http._tcp 8081 net.vantrel.fullname=VX-S10-Sec net.vantrel.firmware=2.4.1
publish "Vantrel two" _http._tcp 8082 net.vantrel.fullname=VX-T42
publish "Other maker" _http._tcp 8083 net.othermaker.fullname=OM-300 net.othermaker.firmware=9.9

"$@"  # its status is the script's: the cleanup keeps it

#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later

# Two machines that share the database folder through Syncthing, on one
# machine: two Syncthing instances (Debian's `syncthing`), each with a home of
# its own, that talk only over 127.0.0.1, and tests/tst_sync, which opens a
# Stockbook window on each instance's folder and works in both as two users
# would. Usage: sync_test.sh BUILD_DIR [tst_sync arguments...]
#
# Each instance listens for the other on tcp://127.0.0.1:PORT only and has its
# GUI and REST interface on 127.0.0.1 with an API key of ours; discovery
# (global and local), relays, NAT traversal, STUN, usage and crash reports and
# upgrades are off, and each knows the other by its explicit address. The
# script checks that neither instance holds a socket to anywhere else, and
# stops everything it started, whatever happens.
set -euo pipefail

build_dir=$(cd "${1:?usage: sync_test.sh BUILD_DIR}" && pwd)
shift
command -v syncthing >/dev/null || { echo "syncthing is not installed (make test-deps)"; exit 1; }
test_program="$build_dir/tests/tst_sync"
[ -x "$test_program" ] || { echo "$test_program is missing"; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/stockbook-sync.XXXXXX")
pids=()
# Syncthing runs as a monitor process and the server it starts: both go.
all_pids() {
    local pid
    for pid in "${pids[@]}"; do
        echo "$pid"
        pgrep -P "$pid" || true
    done
}
# Those of `started` that still run (Syncthing or the test program).
still_running() {
    local pid
    for pid in $started; do
        case "$(ps -o comm= -p "$pid" 2>/dev/null)" in syncthing | tst_sync) echo "$pid" ;; esac
    done
    return 0
}
cleanup() {
    local status=$? pid tries=0
    started=$(all_pids)
    for pid in $(still_running); do
        kill "$pid" 2>/dev/null || true
    done
    # The servers are not this shell's children: wait until they are gone
    # (at most 10 s), then end any that is left.
    while [ "$tries" -lt 100 ] && [ -n "$(still_running)" ]; do
        tries=$((tries + 1))
        sleep 0.1
    done
    for pid in $(still_running); do
        kill -KILL "$pid" 2>/dev/null || true
    done
    for pid in "${pids[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    if [ "$status" -ne 0 ] && [ -z "${KEEP_SYNC_LOGS:-}" ]; then
        for name in A B; do
            echo "--- last lines of Syncthing $name's log"
            tail -n 20 "$work/syncthing-$name.log" 2>/dev/null || true
        done
    fi
    [ -n "${KEEP_SYNC_LOGS:-}" ] && echo "logs kept in $work" || rm -rf "$work"
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Four free ports on 127.0.0.1: a port is taken when something answers on it.
free_ports=()
port=$((20000 + RANDOM % 30000))
while [ "${#free_ports[@]}" -lt 4 ]; do
    port=$((port + 1))
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
        free_ports+=("$port")
    fi
done
gui_port_A=${free_ports[0]} sync_port_A=${free_ports[1]}
gui_port_B=${free_ports[2]} sync_port_B=${free_ports[3]}
api_key=stockbook-sync-test-$RANDOM$RANDOM

for name in A B; do
    mkdir -p "$work/home-$name" "$work/folder-$name/.stfolder"
    STNODEFAULTFOLDER=1 syncthing generate --home="$work/home-$name" --no-default-folder \
        --skip-port-probing >"$work/generate-$name.log" 2>&1
done
device_id() {
    syncthing serve --home="$work/home-$1" --device-id
}
id_A=$(device_id A)
id_B=$(device_id B)

# The whole configuration, written before the first start so that nothing
# runs with the defaults even for a moment.
write_config() {
    local name=$1 own_id=$2 other_name=$3 other_id=$4 gui_port=$5 sync_port=$6 other_port=$7
    cat >"$work/home-$name/config.xml" <<EOF
<configuration version="36">
    <folder id="stockbook" label="stockbook" path="$work/folder-$name" type="sendreceive"
            rescanIntervalS="5" fsWatcherEnabled="true" fsWatcherDelayS="1" ignorePerms="false"
            autoNormalize="true">
        <filesystemType>basic</filesystemType>
        <device id="$own_id"></device>
        <device id="$other_id"></device>
        <minDiskFree unit="%">0</minDiskFree>
        <markerName>.stfolder</markerName>
        <maxConflicts>-1</maxConflicts>
    </folder>
    <device id="$own_id" name="$name" compression="metadata" introducer="false">
        <address>dynamic</address>
    </device>
    <device id="$other_id" name="$other_name" compression="metadata" introducer="false">
        <address>tcp://127.0.0.1:$other_port</address>
        <autoAcceptFolders>false</autoAcceptFolders>
    </device>
    <gui enabled="true" tls="false" debugging="false">
        <address>127.0.0.1:$gui_port</address>
        <apikey>$api_key</apikey>
    </gui>
    <options>
        <listenAddress>tcp://127.0.0.1:$sync_port</listenAddress>
        <globalAnnounceServer>https://127.0.0.1:1</globalAnnounceServer>
        <globalAnnounceEnabled>false</globalAnnounceEnabled>
        <localAnnounceEnabled>false</localAnnounceEnabled>
        <relaysEnabled>false</relaysEnabled>
        <natEnabled>false</natEnabled>
        <stunKeepaliveStartS>0</stunKeepaliveStartS>
        <stunKeepaliveMinS>0</stunKeepaliveMinS>
        <urAccepted>-1</urAccepted>
        <urURL>https://127.0.0.1:1</urURL>
        <crashReportingEnabled>false</crashReportingEnabled>
        <crashReportingURL>https://127.0.0.1:1</crashReportingURL>
        <autoUpgradeIntervalH>0</autoUpgradeIntervalH>
        <releasesURL>https://127.0.0.1:1</releasesURL>
        <announceLANAddresses>false</announceLANAddresses>
        <startBrowser>false</startBrowser>
        <reconnectionIntervalS>1</reconnectionIntervalS>
        <progressUpdateIntervalS>1</progressUpdateIntervalS>
        <setLowPriority>false</setLowPriority>
        <minHomeDiskFree unit="%">0</minHomeDiskFree>
    </options>
</configuration>
EOF
}
write_config A "$id_A" B "$id_B" "$gui_port_A" "$sync_port_A" "$sync_port_B"
write_config B "$id_B" A "$id_A" "$gui_port_B" "$sync_port_B" "$sync_port_A"

for name in A B; do
    STNOUPGRADE=1 STNORESTART=1 syncthing serve --home="$work/home-$name" --no-browser \
        --no-restart --no-upgrade --no-default-folder >"$work/syncthing-$name.log" 2>&1 &
    pids+=("$!")
done

# Every socket of the two instances must stay on 127.0.0.1 (or the loopback
# of IPv6): listening or connected, TCP or UDP.
check_loopback_only() {
    command -v ss >/dev/null || { echo "ss is not installed (make test-deps)"; return 1; }
    local pattern bad
    pattern=$(printf 'pid=%s,|' $(all_pids))
    bad=$(ss -Htunap 2>/dev/null | grep -E "${pattern%|}" |
          awk '{ print $5 " " $6 }' | tr ' ' '\n' |
          grep -vE '^(127\.[0-9.]+|\[::1\]|\[::ffff:127\.[0-9.]+\]):[0-9*]+$|^\*$|^0\.0\.0\.0:\*$|^\[::\]:\*$' || true)
    if [ -n "$bad" ]; then
        echo "Syncthing holds sockets beyond 127.0.0.1:"
        echo "$bad"
        return 1
    fi
    echo "Sockets of the two Syncthing instances: 127.0.0.1 only ($(ss -Htunap 2>/dev/null | grep -cE "${pattern%|}") open)"
}

export STOCKBOOK_SYNC_FOLDER_A="$work/folder-A" STOCKBOOK_SYNC_FOLDER_B="$work/folder-B"
export STOCKBOOK_SYNC_REST_A="http://127.0.0.1:$gui_port_A" STOCKBOOK_SYNC_REST_B="http://127.0.0.1:$gui_port_B"
export STOCKBOOK_SYNC_DEVICE_A="$id_A" STOCKBOOK_SYNC_DEVICE_B="$id_B"
export STOCKBOOK_SYNC_API_KEY="$api_key" QT_QPA_PLATFORM=offscreen QTEST_DISABLE_STACK_DUMP=1
echo "Syncthing A: REST 127.0.0.1:$gui_port_A, sync tcp://127.0.0.1:$sync_port_A"
echo "Syncthing B: REST 127.0.0.1:$gui_port_B, sync tcp://127.0.0.1:$sync_port_B"

# In the background, so that a signal reaches the trap at once.
status=0
"$test_program" "$@" &
test_pid=$!
pids+=("$test_pid")
wait "$test_pid" || status=$?
check_loopback_only || status=1
exit "$status"

#!/usr/bin/env bash
# Wall time of the same work through Ansible and through halvexa: every
# inventory host (127.0.0.1 ... 127.0.0.N, all reaching one Halvexa service
# on a free port) makes sure a running test service is started, which asks
# LIST and STATUS and changes nothing; halvexa asks STATUS of the same
# entries with --hosts. Prints the median of RUNS runs for 1 and 10 hosts.
# Ansible runs 4 hosts at once (forks), as halvexa asks at most 4 entries of
# one server at once: the service keeps a queue of 5 pending connections.
#   bench.sh BUILD BIN_DIR HALVEXA [RUNS]
# Needs the Wine prefix of $WINEPREFIX up and the collection installed in
# BUILD (run-tests.sh sanity BUILD); HALVEXA is the client to time.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
bin=$2
client=$3
runs=${4:-5}
py=/usr/bin/python3
: "${WINEPREFIX:?the Wine prefix must be up}"
# shellcheck source=../../scripts/lib/service.sh
. "$here/../../scripts/lib/service.sh"
logdir=$(mktemp -d)
port=$("$py" -c 'import socket; s=socket.socket(); s.bind(("0.0.0.0", 0)); print(s.getsockname()[1])')
svc=HalvAnsibleBench
cleanup() {
  wine sc stop "$svc" >/dev/null 2>&1 || true
  wine sc delete "$svc" >/dev/null 2>&1 || true
  halv_service_down "$bin"
  halv_unconfigure
  rm -rf "$logdir"
}
trap cleanup EXIT
wine sc create "$svc" binpath= "$(winepath -w "$bin/halv_test_service.exe" 2>/dev/null)" >/dev/null 2>&1
wine sc start "$svc" >/dev/null 2>&1
halv_service_up "$bin" "$logdir" "$port"

cat >"$build/bench.yml" <<YML
- hosts: all
  connection: local
  gather_facts: false
  tasks:
    - tenmark.halvexa.service:
        host: "{{ ansible_host }}"
        port: $port
        name: $svc
        state: started
YML
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
now() { date +%s.%N; }
for n in 1 10; do
  : >"$build/bench.ini"
  : >"$build/bench-hosts.txt"
  for i in $(seq "$n"); do
    echo "h$i ansible_host=127.0.0.$i ansible_python_interpreter=$py" >>"$build/bench.ini"
    echo "127.0.0.$i:$port" >>"$build/bench-hosts.txt"
  done
  play_times=() client_times=()
  for _ in $(seq "$runs"); do
    t0=$(now)
    env HOME="$build/home" ANSIBLE_HOME="$build/home/.ansible" ANSIBLE_LOCAL_TEMP="$build/home/tmp" \
      ANSIBLE_COLLECTIONS_PATH="$build/collections" ANSIBLE_FORKS=4 PATH=/usr/bin:/bin \
      ansible-playbook -i "$build/bench.ini" "$build/bench.yml" >"$build/bench.log"
    t1=$(now)
    "$client" --hosts "$build/bench-hosts.txt" status "$svc" >"$build/bench-client.log"
    t2=$(now)
    grep -q "changed=0" "$build/bench.log"
    play_times+=("$(echo "$t1 - $t0" | bc)")
    client_times+=("$(echo "$t2 - $t1" | bc)")
  done
  printf '%2d hosts: ansible-playbook %s s, halvexa --hosts %s s (median of %d)\n' "$n" \
    "$(printf '%s\n' "${play_times[@]}" | median)" \
    "$(printf '%s\n' "${client_times[@]}" | median)" "$runs"
done

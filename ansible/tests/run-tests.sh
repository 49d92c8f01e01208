#!/usr/bin/env bash
# Tests of the tenmark.halvexa collection. Every file it writes goes under
# BUILD (the collection's tarball, its installed copy, Ansible's home):
#   run-tests.sh units
#       pytest over the scripted fake server (the source tree, no build).
#   run-tests.sh sanity BUILD
#       builds the collection with ansible-galaxy, installs it into
#       BUILD/collections, shows each module with ansible-doc, compiles the
#       Python files, and runs the ansible-test sanity tests that need no
#       download (the others install linters with pip from the network).
#   run-tests.sh integration BUILD BIN_DIR
#       needs the Wine prefix of $WINEPREFIX up (scripts/test brings it up)
#       and the Windows programs in BIN_DIR: starts halvexa351 on a free
#       loopback port with two test services, and runs the playbooks against
#       it (after "sanity", which installs the collection).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(dirname "$here")
py=/usr/bin/python3  # Debian's, which has the ansible package

ansible_env() {
  env HOME="$build/home" ANSIBLE_HOME="$build/home/.ansible" \
    ANSIBLE_LOCAL_TEMP="$build/home/tmp" ANSIBLE_COLLECTIONS_PATH="$build/collections" \
    ANSIBLE_COLLECTIONS_SCAN_SYS_PATH=false ANSIBLE_NOCOLOR=1 ANSIBLE_RETRY_FILES_ENABLED=0 \
    PATH=/usr/bin:/bin "$@"
}

units() {
  PYTHONDONTWRITEBYTECODE=1 "$py" -m pytest -q -p no:cacheprovider "$here/unit"
}

sanity() {
  mkdir -p "$build/home"
  rm -rf "$build/collections"
  ansible_env ansible-galaxy collection build "$source_dir" --force --output-path "$build" >/dev/null
  ansible_env ansible-galaxy collection install --force -p "$build/collections" \
    "$build/tenmark-halvexa-1.0.0.tar.gz" >/dev/null
  local installed="$build/collections/ansible_collections/tenmark/halvexa" module
  for module in service service_info; do
    # ansible-doc reports a broken DOCUMENTATION as an error and exits non-zero.
    ansible_env ansible-doc "tenmark.halvexa.$module" >"$build/$module.doc.txt"
    grep -q "RETURN VALUES" "$build/$module.doc.txt"
    grep -q "EXAMPLES" "$build/$module.doc.txt"
    echo "ansible-doc tenmark.halvexa.$module: ok"
  done
  find "$installed/plugins" -name '*.py' -print0 |
    PYTHONPYCACHEPREFIX="$build/pycache" xargs -0 "$py" -m py_compile
  echo "py_compile: ok"
  # ansible-test takes the file list from git: a throw-away repository in the
  # installed copy gives it one.
  (cd "$installed" && git init -q . && git add -A)
  local tests=(action-plugin-docs compile empty-init future-import-boilerplate line-endings
    metaclass-boilerplate no-assert no-basestring no-dict-iteritems no-dict-iterkeys
    no-dict-itervalues no-get-exception no-illegal-filenames no-main-display no-smart-quotes
    no-unicode-literals replace-urlopen shebang symlinks use-argspec-type-path use-compat-six)
  (cd "$installed" && ansible_env ansible-test sanity --python 3.11 --color no \
    "${tests[@]/#/--test=}")
}

integration() {
  : "${WINEPREFIX:?the Wine prefix must be up (scripts/test does this)}"
  # shellcheck source=../../scripts/lib/service.sh
  . "$source_dir/../scripts/lib/service.sh"
  # Globals, not locals: the EXIT trap's cleanup reads them after the return.
  bin=$1
  logdir=$(mktemp -d)
  local port status=0
  # A port nothing listens on now, on every address (the service binds all).
  port=$("$py" -c 'import socket; s=socket.socket(); s.bind(("0.0.0.0", 0)); print(s.getsockname()[1])')
  services=(HalvAnsibleTest1 HalvAnsibleTest2)
  cleanup() {
    for s in "${services[@]}"; do
      wine sc stop "$s" >/dev/null 2>&1 || true
      wine sc delete "$s" >/dev/null 2>&1 || true
    done
    halv_service_down "$bin"
    halv_unconfigure
    rm -rf "$logdir"
  }
  trap cleanup EXIT
  local win_exe
  win_exe=$(winepath -w "$bin/halv_test_service.exe" 2>/dev/null)
  for s in "${services[@]}"; do
    wine sc delete "$s" >/dev/null 2>&1 || true
    wine sc create "$s" binpath= "$win_exe" >/dev/null 2>&1
    wine sc start "$s" >/dev/null 2>&1
  done
  halv_service_up "$bin" "$logdir" "$port" || { echo "FAIL: the service did not start"; return 1; }
  for s in "${services[@]}"; do wait_sc "$s" RUNNING || return 1; done

  # Two inventory hosts, two loopback addresses of the one service (it
  # listens on every address); each manages its own test service.
  cat >"$build/inventory.ini" <<INV
[halvexa_servers]
server1 ansible_host=127.0.0.1 test_service=HalvAnsibleTest1
server2 ansible_host=127.0.0.2 test_service=HalvAnsibleTest2
[halvexa_servers:vars]
halvexa_port=$port
ansible_python_interpreter=$py
INV
  play() {  # play WANT EXPECT_CHANGED [ansible-playbook options]
    local want=$1 changed=$2
    shift 2
    echo "== playbook: state=$want, changed expected $changed $*"
    ansible_env ansible-playbook -i "$build/inventory.ini" "$here/integration/service.yml" \
      -e "want=$want expect_changed=$changed" "$@"
  }
  # Each step: the state asked for, whether a change is expected, the state
  # `sc query` must show afterwards (check mode leaves it as it was).
  local step
  for step in "stopped true RUNNING --check" "stopped true STOPPED" "stopped false STOPPED" \
    "stopped false STOPPED --check" "started true STOPPED --check" "started true RUNNING" \
    "started false RUNNING"; do
    read -r want changed after check <<<"$step"
    if ! play "$want" "$changed" ${check:+"$check"} || ! expect_sc "$after"; then
      status=1
      break
    fi
  done

  if ((status == 0)); then
    # A third host where nothing listens: it fails alone.
    local closed
    closed=$("$py" -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    cp "$build/inventory.ini" "$build/inventory-errors.ini"
    printf '[elsewhere]\nnowhere ansible_host=127.0.0.3 halvexa_port=%s test_service=%s\n' \
      "$closed" HalvAnsibleTest1 >>"$build/inventory-errors.ini"
    local out
    out=$(ansible_env ansible-playbook -i "$build/inventory-errors.ini" \
      "$here/integration/errors.yml" 2>&1) && { echo "$out"; echo "FAIL: the closed port did not fail"; status=1; }
    echo "$out" | tail -6
    if ! echo "$out" | grep -Eq '^nowhere +: ok=0 +changed=0 +unreachable=0 +failed=1' ||
      ! echo "$out" | grep -Eq '^server1 +: ok=2 .*failed=0' ||
      ! echo "$out" | grep -Eq '^server2 +: ok=2 .*failed=0' ||
      ! echo "$out" | grep -q 'cannot connect to 127.0.0.3'; then
      echo "FAIL: the unreachable host did not fail alone with its reason"
      status=1
    fi
  fi
  ((status == 0)) && echo "integration: ok"
  return $status
}

# wait_sc NAME STATE: polls `sc query` (every 0.2 s, up to 30 s) for STATE.
wait_sc() {
  local _ state
  for _ in $(seq 150); do
    state=$(wine sc query "$1" 2>/dev/null | tr -d '\r' | awk '/STATE/ {print $4}')
    [ "$state" = "$2" ] && return 0
    sleep 0.2
  done
  echo "FAIL: $1 is ${state:-not installed}, not $2"
  return 1
}

# expect_sc STATE: both test services are in STATE now, as the manager says.
expect_sc() {
  local s state
  for s in HalvAnsibleTest1 HalvAnsibleTest2; do
    state=$(wine sc query "$s" 2>/dev/null | tr -d '\r' | awk '/STATE/ {print $4}')
    if [ "$state" != "$1" ]; then
      echo "FAIL: $s is ${state:-not installed}, expected $1"
      return 1
    fi
  done
  echo "sc query: both test services $1"
}

case "${1:-}" in
  units) units ;;
  sanity) build=$(mkdir -p "$2" && cd "$2" && pwd); sanity ;;
  integration) build=$(mkdir -p "$2" && cd "$2" && pwd); integration "$3" ;;
  *) echo "usage: $0 units | sanity BUILD | integration BUILD BIN_DIR" >&2; exit 64 ;;
esac

#!/usr/bin/env bash
# Installs and starts the service on a free port in the Wine prefix of
# $WINEPREFIX, then runs HELP, WHO and QUIT through PuTTY's plink in telnet
# mode: plink opens with telnet option negotiation, which the service answers
# (refusing every option) and never takes for commands, so no error line
# appears.
set -euo pipefail
bin=$1
: "${WINEPREFIX:?the Wine prefix must be up (scripts/test does this)}"
here=$(dirname "$0")
# shellcheck source=../../../scripts/lib/service.sh
. "$here/../../../scripts/lib/service.sh"
# shellcheck source=../support/e2e_service.sh
. "$here/../support/e2e_service.sh"
logdir=$(mktemp -d)
work=$(mktemp -d)
out=$work/out
err=$work/err
plink_pid=""

cleanup() {
  exec 3>&- 2>/dev/null || true
  if [ -n "$plink_pid" ]; then kill "$plink_pid" 2>/dev/null || true; fi
  halv_service_down "$bin"
  halv_unconfigure
  rm -rf "$logdir" "$work"
}
trap cleanup EXIT

fail() { echo "FAIL: $1"; echo "--- received:"; cat -v "$out"; echo "--- plink:"; cat "$err"; exit 1; }

# Waits (20 s at most) until plink's output holds the text.
wait_for() {
  local _
  for _ in $(seq 200); do
    grep -aqF -- "$1" "$out" && return 0
    kill -0 "$plink_pid" 2>/dev/null || break
    sleep 0.1
  done
  grep -aqF -- "$1" "$out"
}

e2e_service_up "$bin" "$logdir" || { echo "FAIL: service did not start"; exit 1; }
port=$E2E_PORT

# The commands arrive as typed lines, each once the reply before it is in;
# QUIT ends the session. plink reads them from a pipe kept open until it ends.
mkfifo "$work/in"
: >"$out"
plink -telnet -batch -v -P "$port" 127.0.0.1 <"$work/in" >"$out" 2>"$err" &
plink_pid=$!
exec 3>"$work/in"
wait_for 'Local Server Date: ' || fail "no greeting"
printf 'help\n' >&3
wait_for '311-End of HELP info' || fail "no help"
printf 'who\n' >&3
wait_for 'Anonymous User' || fail "no who"
printf 'quit\n' >&3
for _ in $(seq 300); do kill -0 "$plink_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$plink_pid" 2>/dev/null && fail "quit did not end the session"
wait "$plink_pid" || true
plink_pid=""
exec 3>&-

grep -q 'Connected to: ' "$out" || fail "no greeting"
grep -q '311-This is Halvexa Version' "$out" || fail "no help"
grep -q ' anonymous       Anonymous User  127\.0\.0\.1 ' "$out" || fail "no who row"
grep -q -- '500-' "$out" && fail "an error line"
# Every option plink offered or asked for was refused.
grep -Eq 'server negotiation: (WONT|DONT) ' "$err" || fail "no answer to the negotiation"
grep -Eq 'server negotiation: (WILL|DO) ' "$err" && fail "an option was accepted"
echo "plink session: ok"

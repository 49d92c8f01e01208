#!/usr/bin/env bash
# Installs and starts the service in the Wine prefix of $WINEPREFIX, then
# runs HELP, WHO and QUIT through PuTTY's plink in telnet mode: plink opens
# with telnet option negotiation, which the service answers (refusing every
# option) and never takes for commands, so no error line appears.
set -euo pipefail
bin=$1
port=19241
: "${WINEPREFIX:?the Wine prefix must be up (scripts/test does this)}"
# shellcheck source=../../../scripts/lib/service.sh
. "$(dirname "$0")/../../../scripts/lib/service.sh"
logdir=$(mktemp -d)
out=$(mktemp)
err=$(mktemp)

cleanup() {
  halv_service_down "$bin"
  halv_unconfigure
  rm -rf "$logdir" "$out" "$err"
}
trap cleanup EXIT

halv_service_up "$bin" "$logdir" "$port" || { echo "service did not start"; exit 1; }

# The commands arrive as typed lines, a moment apart; QUIT ends the session.
{ sleep 1; printf 'help\n'; sleep 0.5; printf 'who\n'; sleep 0.5; printf 'quit\n'; sleep 5; } |
  timeout 30 plink -telnet -batch -v -P "$port" 127.0.0.1 >"$out" 2>"$err" || true

fail() { echo "FAIL: $1"; echo "--- received:"; cat -v "$out"; echo "--- plink:"; cat "$err"; exit 1; }
grep -q 'Connected to: ' "$out" || fail "no greeting"
grep -q '311-This is Halvexa Version' "$out" || fail "no help"
grep -q ' anonymous       Anonymous User  127\.0\.0\.1 ' "$out" || fail "no who row"
grep -q -- '500-' "$out" && fail "an error line"
# Every option plink offered or asked for was refused.
grep -Eq 'server negotiation: (WONT|DONT) ' "$err" || fail "no answer to the negotiation"
grep -Eq 'server negotiation: (WILL|DO) ' "$err" && fail "an option was accepted"
echo "plink session: ok"

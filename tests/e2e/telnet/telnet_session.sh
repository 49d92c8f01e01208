#!/usr/bin/env bash
# Installs and starts the service on a free port in the Wine prefix of
# $WINEPREFIX, then runs HELP, WHO and QUIT through a real telnet client and
# checks the replies.
set -euo pipefail
bin=$1
: "${WINEPREFIX:?the Wine prefix must be up (scripts/test does this)}"
here=$(dirname "$0")
# shellcheck source=../../../scripts/lib/service.sh
. "$here/../../../scripts/lib/service.sh"
# shellcheck source=../support/e2e_service.sh
. "$here/../support/e2e_service.sh"
logdir=$(mktemp -d)

cleanup() {
  halv_service_down "$bin"
  halv_unconfigure
  rm -rf "$logdir"
}
trap cleanup EXIT

e2e_service_up "$bin" "$logdir" || { echo "FAIL: service did not start"; exit 1; }
port=$E2E_PORT

expect <<EXPECT
set timeout 20
log_user 1
spawn telnet 127.0.0.1 $port
expect {
  -re {Connected to: [^\r\n]+[\r\n]+Service running as: [^\r\n]+[\r\n]+Local Server Date: [^\r\n]+[\r\n]+:: } {}
  timeout { puts "\nFAIL: no greeting"; exit 1 }
}
send "help\r"
expect {
  -re {311-This is Halvexa Version 3\.5\.1\.1[\r\n]+311-Topics:.*311-End of HELP info[\r\n]+:: } {}
  timeout { puts "\nFAIL: no help"; exit 1 }
}
send "who\r"
expect {
  -re { anonymous       Anonymous User  127\.0\.0\.1     [^\r\n]+exec\(\)[ ]*[\r\n]+:: } {}
  timeout { puts "\nFAIL: no who row"; exit 1 }
}
send "quit\r"
expect {
  "Connection closed by foreign host." {}
  timeout { puts "\nFAIL: quit did not close"; exit 1 }
}
expect eof
puts "\ntelnet session: ok"
EXPECT

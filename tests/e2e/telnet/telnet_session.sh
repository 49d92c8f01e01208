#!/usr/bin/env bash
# Installs and starts the service in the Wine prefix of $WINEPREFIX, then runs
# HELP, WHO and QUIT through a real telnet client and checks the replies.
set -euo pipefail
bin=$1
port=19127
: "${WINEPREFIX:?the Wine prefix must be up (scripts/test does this)}"
key='HKLM\SOFTWARE\Tenmark\Halvexa Server\3.5.1\System'
logdir=$(mktemp -d)

state() { wine sc query Halvexa351 2>/dev/null | tr -d '\r' | awk '/STATE/ {print $4}'; }
cleanup() {
  wine sc stop Halvexa351 >/dev/null 2>&1 || true
  for _ in $(seq 100); do [ "$(state)" != "RUNNING" ] && [ "$(state)" != "STOP_PENDING" ] && break; sleep 0.2; done
  wine "$bin/halvexa351.exe" /UNINSTALL /SILENT >/dev/null 2>&1 || true
  wine reg delete 'HKLM\SOFTWARE\Tenmark' /f >/dev/null 2>&1 || true
  rm -rf "$logdir"
}
trap cleanup EXIT

reg_set() { wine reg add "$key" /v "$1" /t REG_SZ /d "$2" /f >/dev/null 2>&1; }
reg_set BaseDir "$(winepath -w "$bin" 2>/dev/null)"
reg_set ExecName halvexa351.exe
reg_set LogDir "$(winepath -w "$logdir" 2>/dev/null)"
reg_set VerboseLogging 0
reg_set Port "$port"
[ -z "$(state)" ] || wine "$bin/halvexa351.exe" /UNINSTALL /SILENT >/dev/null 2>&1 || true
wine "$bin/halvexa351.exe" /INSTALL /SILENT >/dev/null 2>&1
wine sc start Halvexa351 >/dev/null 2>&1 || true
for _ in $(seq 100); do [ "$(state)" = "RUNNING" ] && break; sleep 0.2; done
[ "$(state)" = "RUNNING" ] || { echo "service did not start"; exit 1; }

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

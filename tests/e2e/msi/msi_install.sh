#!/usr/bin/env bash
# shellcheck disable=SC2154  # the HALV_ names come from config_schema.sh
# The installer under Wine, in a fresh prefix of its own (build/windows/wine-msi):
#   0. A bad audit or log property (AUDITMAXFILES=0) fails the installation
#      with the reason in the installer's log, and leaves nothing behind.
#   1. msiexec /i /qn PORT=... with audit and log properties: programs,
#      shortcut and folders in place, every configuration value with its
#      default or the property's text, the Security branch only for
#      Administrators and SYSTEM, the program and log folders protected by the
#      installer's action (the tables and its log; Wine keeps no folder access
#      lists), the service registered, running and answering
#      HELP; the console opens on its General tab without an error box
#      (screenshot build/windows/msi-console-general.png).
#   2. An operator's changed values survive a repair (REINSTALL=ALL with
#      REINSTALLMODE=amus rewrites files, registry and shortcuts, as msiexec
#      /famus does; Wine's msiexec /f itself fails), values deleted before it
#      come back with their defaults, and the service comes back on the
#      changed port.
#   3. A failed start writes an event that the message table renders as its text.
#   4. msiexec /x: service and programs gone, configuration and logs kept.
#   5. /INSTALL registers the event source and restricts the Security branch,
#      creating it (with Users) when it is missing; /UNINSTALL removes the
#      source.
# Key paths, the service name and defaults come from the configuration table
# (BUILD_DIR/config_schema.sh, written by CMake). Every set-up step is
# checked; a failed one ends the test. The ports are free ones.
# Usage: msi_install.sh BUILD_DIR MSI
set -euo pipefail
build=$1
msi=$2
root=$(cd "$(dirname "$0")/../../.." && pwd)
check="$build/bin/msi_check.exe"
# shellcheck source=/dev/null
. "$build/config_schema.sh"

# A TCP port nothing on this machine listens on, other than those given.
free_port() {
  local p _
  for _ in $(seq 200); do
    p=$((20000 + RANDOM % 40000))
    case " $* " in *" $p "*) continue ;; esac
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null; then
      echo "$p"
      return 0
    fi
  done
  return 1
}
port=$(free_port)
changed_port=$(free_port "$port")
shot="$build/msi-console-general.png"

# shellcheck source=../../../scripts/lib/wine.sh
. "$root/scripts/lib/wine.sh"
prefix="$build/wine-msi"
rm -rf "$prefix"
admin_pid=""
finish() {
  [ -n "$admin_pid" ] && kill "$admin_pid" >/dev/null 2>&1 || true
  wine_down
}
trap finish EXIT
wine_up "$prefix" "$build/wine-msi.log"

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
die() {
  echo "FAIL (set-up): $*"
  exit 1
}
run_check() { wine "$check" "$@" 2>>"$WINE_LOG" | tr -d '\r'; return "${PIPESTATUS[0]}"; }
step() { echo "== $* =="; }

msi_win=$(winepath -w "$msi" 2>/dev/null)
drive_c="$prefix/drive_c"
install_dir="$drive_c/Program Files/Halvexa"
install_win='C:\Program Files\Halvexa'
exe_win="$install_win\\halvexa351.exe"
system_key=$HALV_SYSTEM_KEY
admin_key=$HALV_ADMIN_KEY
anonymous_key=$HALV_ANONYMOUS_KEY
security_key=$HALV_SECURITY_KEY
reg_get() {  # reg_get KEY NAME: the value's data, or nothing
  wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' |
    awk -v n="$2" '$1 == n {sub(/^[ \t]*[^ \t]+[ \t]+REG_[A-Z_]+[ \t]*/, ""); print; exit}'
}
reg_has() {  # reg_has KEY NAME: whether the value exists
  wine reg query "$1" /v "$2" >/dev/null 2>&1
}
reg_put() {  # reg_put KEY NAME TEXT: writes a REG_SZ value and checks it is there
  wine reg add "$1" /v "$2" /t REG_SZ /d "$3" /f >>"$WINE_LOG" 2>&1 || die "reg add $1\\$2 exited with $?"
  [ "$(reg_get "$1" "$2")" = "$3" ] || die "$1\\$2 is '$(reg_get "$1" "$2")' after writing '$3'"
}
reg_drop() {  # reg_drop KEY NAME: deletes a value and checks it is gone
  wine reg delete "$1" /v "$2" /f >>"$WINE_LOG" 2>&1 || die "reg delete $1\\$2 exited with $?"
  reg_has "$1" "$2" && die "$1\\$2 is still there after deleting it"
  return 0
}
service_state() { wine sc query "$HALV_SERVICE" 2>/dev/null | tr -d '\r' | awk '/STATE/ {print $4}'; }
wait_state() {  # wait_state STATE: up to 20 s
  for _ in $(seq 100); do [ "$(service_state)" = "$1" ] && return 0; sleep 0.2; done
  return 1
}
# The console check, given a time limit: a helper that talks to windows can
# hang on Wine's desktop when it starts together with the program it checks,
# so a check that runs out of time is tried again (three times at most).
console_check() {
  local out rc _
  for _ in 1 2 3; do
    out=$(
      timeout 45 wine "$check" console 2>>"$WINE_LOG" | tr -d '\r'
      exit "${PIPESTATUS[0]}"
    ) && rc=0 || rc=$?
    [ "$rc" -eq 124 ] || break
    echo "console check ran out of time; again" >&2
  done
  echo "$out"
  return "$rc"
}
msiexec() {  # msiexec LABEL ARGS...: runs it with a verbose log; its exit code
  local log="$build/msi-$1.log"
  shift
  wine msiexec "$@" /l*v "$(winepath -w "$log" 2>/dev/null)" >>"$WINE_LOG" 2>&1 </dev/null
}

step "a bad audit property fails the installation"
if msiexec bad /i "$msi_win" /qn PORT=$port AUDITMAXFILES=0; then
  fail "msiexec /i with AUDITMAXFILES=0 succeeded"
fi
grep -aq "AUDITMAXFILES: AuditMaxFiles must be 1 or more, not '0'" "$build/msi-bad.log" ||
  fail "the installer's log does not give the reason"
run_check no-service || fail "service after the failed installation"
! reg_has "$system_key" BaseDir || fail "the failed installation left a configuration"

step "install"
msiexec install /i "$msi_win" /qn PORT=$port LOGTIMESTAMPS=0 AUDITMAXBYTES=2048 LOGMAXFILES=3 ||
  fail "msiexec /i exited with $?"
for f in halvexa351.exe halvsyslog.dll halvexaadmin.exe halvexa-auth.exe halvexa.exe; do
  [ -f "$install_dir/$f" ] || fail "$f not installed"
done
[ -d "$install_dir/Logs" ] || fail "no Logs folder"
[ -d "$install_dir/Dumps" ] || fail "no Dumps folder"
# Windows puts it in the common Start menu; Wine's installer in the user's.
find "$drive_c/ProgramData" "$drive_c/users" -path "*/Start Menu/Programs/Halvexa/*" \
  -name "Halvexa Administrator.lnk" 2>/dev/null | grep -q . || fail "no Start-menu shortcut"
[ -e "$install_dir/halvexa-setup.dll" ] && fail "the custom-action library was installed"
run_check config "$port" "$install_win" LogTimestamps=0 AuditMaxBytes=2048 LogMaxFiles=3 ||
  fail "configuration"
run_check acl || fail "access to the Security branch"
# The program and log folders are protected by a deferred action running as
# LocalSystem right after InstallFiles. Wine keeps no access lists on
# folders, so what is checked is the package's tables and that the action
# protected both folders without an error.
msiinfo export "$msi" CustomAction | tr -d '\r' |
  grep -q "^HalvProtectFolders	3073	HalvSetup	HalvProtectFolders" ||
  fail "HalvProtectFolders is not a deferred action as LocalSystem"
msiinfo export "$msi" InstallExecuteSequence | tr -d '\r' |
  grep -q "^HalvProtectFolders	NOT REMOVE~=\"ALL\"	4001$" ||
  fail "HalvProtectFolders is not sequenced right after InstallFiles (4000)"
for folder in "$install_win" "$install_win\\Logs"; do
  grep -aqxF "HalvProtectFolders: $folder" <(tr -d '\r' <"$build/msi-install.log") ||
    fail "the install did not protect $folder"
done
grep -aq "HalvProtectFolders: .* failed" "$build/msi-install.log" && fail "a folder could not be protected"
run_check service "$port" "$exe_win" || fail "service after install"

step "console"
wine "$install_dir/halvexaadmin.exe" >>"$WINE_LOG" 2>&1 </dev/null &
admin_pid=$!
if geometry=$(console_check); then
  import -display "$DISPLAY" -window root -crop "$geometry" +repage "$shot" || fail "screenshot"
else
  echo "$geometry"
  fail "console"
fi
run_check close-console || true
wait "$admin_pid" || true
admin_pid=""

step "repair keeps changed values and restores missing ones"
reg_put "$system_key" Port "$changed_port"
reg_put "$admin_key" AllowStop 0
reg_drop "$system_key" ServiceStopTimeOut
reg_drop "$anonymous_key" AllowList
reg_drop "$system_key" RestartDependents  # as on an installation older than the value
msiexec repair /i "$msi_win" REINSTALL=ALL REINSTALLMODE=amus /qn || fail "repair exited with $?"
[ "$(reg_get "$system_key" Port)" = "$changed_port" ] || fail "repair reset Port"
[ "$(reg_get "$admin_key" AllowStop)" = "0" ] || fail "repair reset Admin's AllowStop"
[ "$(reg_get "$system_key" ServiceStopTimeOut)" = "$HALV_DEFAULT_ServiceStopTimeOut" ] ||
  fail "repair did not restore ServiceStopTimeOut"
[ "$(reg_get "$anonymous_key" AllowList)" = "0" ] || fail "repair did not restore Anonymous's AllowList"
! reg_has "$system_key" RestartDependents || fail "repair switched RestartDependents on"
run_check acl || fail "access to the Security branch after repair"
wine sc stop "$HALV_SERVICE" >/dev/null 2>&1 || true
wait_state STOPPED || die "service did not stop"
wine sc start "$HALV_SERVICE" >/dev/null 2>&1 || true
run_check service "$changed_port" "$exe_win" || fail "service on the changed port"

step "install again"
msiexec again /i "$msi_win" /qn PORT=$port || fail "second msiexec /i exited with $?"
[ "$(reg_get "$system_key" Port)" = "$changed_port" ] || fail "a second install reset Port"

step "event log entry of a failed start"
wine sc stop "$HALV_SERVICE" >/dev/null 2>&1 || true
wait_state STOPPED || die "service did not stop"
reg_put "$system_key" Port notaport
wine sc start "$HALV_SERVICE" >/dev/null 2>&1 || true
wait_state STOPPED || fail "a bad port did not stop the start"
expected="Service failed on start: 'notaport' is not a valid integer value"
# The log file gets the line when the service's output is flushed: waited for.
for _ in $(seq 50); do
  grep -aqF "ReportEventW L\"$expected" "$WINE_LOG" && break
  sleep 0.2
done
if grep -aqF "ReportEventW L\"$expected" "$WINE_LOG"; then
  run_check source "$exe_win" "$expected" || fail "event source"
else
  fail "no event '$expected'"
fi
reg_put "$system_key" Port "$changed_port"

step "uninstall"
msiexec uninstall /x "$msi_win" /qn || fail "msiexec /x exited with $?"
run_check no-service || fail "service after uninstall"
for f in halvexa351.exe halvsyslog.dll halvexaadmin.exe halvexa-auth.exe halvexa.exe; do
  [ -e "$install_dir/$f" ] && fail "$f left behind"
done
# The log of the first start (written out when the service stopped) is kept.
grep -q "Service is listening on port $port" "$install_dir/Logs/serverlog.txt" 2>/dev/null ||
  fail "no server log in the Logs folder after uninstall"
[ "$(reg_get "$system_key" Port)" = "$changed_port" ] || fail "uninstall removed Port"
[ "$(reg_get "$admin_key" AllowList)" = "1" ] || fail "uninstall removed the Admin user"
run_check no-source || fail "event source after uninstall"

step "/INSTALL and /UNINSTALL"
wine reg delete "$security_key" /f >>"$WINE_LOG" 2>&1 || die "reg delete $security_key exited with $?"
wine reg query "$security_key" >/dev/null 2>&1 && die "$security_key is still there after deleting it"
reg_put "$HALV_DEFAULTS_KEY" AllowList 1
reg_put "$admin_key" AllowList 1
# Keys made afresh are open to more than Administrators and SYSTEM; so the
# check below sees /INSTALL's work.
run_check acl >/dev/null && fail "fresh Security keys already restricted"
bin_exe="$(winepath -w "$build/bin" 2>/dev/null)\\halvexa351.exe"
wine "$build/bin/halvexa351.exe" /INSTALL /SILENT >>"$WINE_LOG" 2>&1 || fail "/INSTALL exited with $?"
run_check source "$bin_exe" "A message of the service." || fail "event source of /INSTALL"
run_check acl || fail "access to the Security branch after /INSTALL"
wine "$build/bin/halvexa351.exe" /UNINSTALL /SILENT >>"$WINE_LOG" 2>&1 || fail "/UNINSTALL exited with $?"
run_check no-service || fail "service after /UNINSTALL"
run_check no-source || fail "event source after /UNINSTALL"
# With no Security key at all, /INSTALL creates it and its Users key restricted.
wine reg delete "$security_key" /f >>"$WINE_LOG" 2>&1 || die "reg delete $security_key exited with $?"
wine "$build/bin/halvexa351.exe" /INSTALL /SILENT >>"$WINE_LOG" 2>&1 || fail "/INSTALL exited with $?"
run_check acl-created || fail "access to the Security keys that /INSTALL created"
wine "$build/bin/halvexa351.exe" /UNINSTALL /SILENT >>"$WINE_LOG" 2>&1 || fail "/UNINSTALL exited with $?"

if [ "$failures" -ne 0 ]; then
  echo "msi_install: $failures failure(s); logs in $build/msi-*.log and $WINE_LOG"
  exit 1
fi
echo "msi_install: ok"

# shellcheck shell=bash
# Shell functions that configure, install, start and remove the Halvexa
# service in the Wine prefix that wine_up (wine.sh) brought up. The scripts
# take the configuration key, value names and defaults from here, so they
# write one configuration.
#
# halv_configure BIN_DIR LOG_DIR PORT: writes the values the service needs
#   into HALV_SYSTEM_KEY (directories as Unix paths; they are written as
#   Windows paths).
# halv_service_state: the state word `sc query` shows (RUNNING, STOPPED,
#   START_PENDING, ...), or "" when the service is not installed.
# halv_wait_state TRIES WORD...: polls the state every 0.2 s, at most TRIES
#   times, until it is one of the WORDs (or "" when the service is gone);
#   returns 0 when it is RUNNING then, else 1.
# halv_service_up BIN_DIR LOG_DIR PORT: removes an installed service, writes
#   the configuration, installs the service with /INSTALL /SILENT, starts it
#   and waits until it runs or has stopped. Returns 1 (with the event-log
#   reports of WINE_LOG on stderr) when it does not run.
# halv_service_down BIN_DIR: stops the service when installed, waits until it
#   has stopped and uninstalls it with /UNINSTALL /SILENT.
# halv_unconfigure: deletes the vendor's whole registry key.

HALV_SERVICE=Halvexa351
HALV_EXEC_NAME=halvexa351.exe
HALV_VENDOR_KEY='HKLM\SOFTWARE\Tenmark'
HALV_VERSION_KEY="$HALV_VENDOR_KEY"'\Halvexa Server\3.5.1'
HALV_SYSTEM_KEY="$HALV_VERSION_KEY"'\System'
HALV_DEFAULT_PORT=9007
HALV_DEFAULT_VERBOSE_LOGGING=0

halv_reg_set() {
  wine reg add "$HALV_SYSTEM_KEY" /v "$1" /t REG_SZ /d "$2" /f >/dev/null 2>&1
}

halv_configure() {
  halv_reg_set BaseDir "$(winepath -w "$1" 2>/dev/null)"
  halv_reg_set ExecName "$HALV_EXEC_NAME"
  halv_reg_set LogDir "$(winepath -w "$2" 2>/dev/null)"
  halv_reg_set VerboseLogging "$HALV_DEFAULT_VERBOSE_LOGGING"
  halv_reg_set Port "${3:-$HALV_DEFAULT_PORT}"
}

halv_service_state() {
  wine sc query "$HALV_SERVICE" 2>/dev/null | tr -d '\r' | awk '/STATE/ {print $4}'
}

halv_wait_state() {
  local tries=$1 state word _
  shift
  for _ in $(seq "$tries"); do
    state=$(halv_service_state)
    [ -z "$state" ] && break
    for word in "$@"; do [ "$state" = "$word" ] && break 2; done
    sleep 0.2
  done
  [ "$(halv_service_state)" = "RUNNING" ]
}

halv_service_down() {
  [ -n "$(halv_service_state)" ] || return 0
  wine sc stop "$HALV_SERVICE" >/dev/null 2>&1 || true
  halv_wait_state 100 STOPPED || true
  wine "$1/$HALV_EXEC_NAME" /UNINSTALL /SILENT >/dev/null 2>&1 || true
}

halv_service_up() {
  halv_service_down "$1"
  halv_configure "$1" "$2" "$3"
  wine "$1/$HALV_EXEC_NAME" /INSTALL /SILENT >/dev/null 2>&1
  wine sc start "$HALV_SERVICE" >/dev/null 2>&1 || true
  if ! halv_wait_state 150 RUNNING STOPPED; then
    echo "The service did not start (state: $(halv_service_state))." >&2
    if [ -n "${WINE_LOG:-}" ]; then grep -a 'ReportEventW' "$WINE_LOG" >&2 || true; fi
    return 1
  fi
}

halv_unconfigure() {
  wine reg delete "$HALV_VENDOR_KEY" /f >/dev/null 2>&1 || true
}

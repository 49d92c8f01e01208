# shellcheck shell=bash disable=SC2154,SC2034
# (SC2154, SC2034: names set by config_schema.sh and used by the scripts.)
# Shell functions that configure, install, start and remove the Halvexa
# service in the Wine prefix that wine_up (wine.sh) brought up. The key
# paths, the service name and the defaults come from config_schema.sh, which
# CMake writes into the build folder from the configuration table
# (common/config_values.def): HALV_CONFIG_SH names it, by default the one of
# the windows preset (build/windows/config_schema.sh, there after
# `cmake --preset windows`).
#
# halv_reg_set NAME TEXT: writes the System value NAME (REG_SZ) and reads it
#   back; returns 1 when it is not there as written.
# halv_configure BIN_DIR LOG_DIR [PORT]: writes every System value that an
#   installation writes: BaseDir and LogDir from the folders (Unix paths,
#   written as Windows paths), Port from PORT, the others with their
#   defaults (values without a default and without a folder are left out).
#   Returns 1 when a value cannot be written.
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

HALV_CONFIG_SH=${HALV_CONFIG_SH:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/build/windows/config_schema.sh}
if [ ! -f "$HALV_CONFIG_SH" ]; then
  echo "service.sh: no $HALV_CONFIG_SH (configure the build first: cmake --preset windows)" >&2
  return 1
fi
# shellcheck source=/dev/null
. "$HALV_CONFIG_SH"
# The fragment's names under the names the scripts have used.
HALV_EXEC_NAME=$HALV_DEFAULT_ExecName
HALV_DEFAULT_PORT=$HALV_DEFAULT_Port
HALV_VENDOR_KEY=${HALV_PRODUCT_KEY%\\*}

halv_reg_set() {
  # A reg.exe run under Wine now and then fails with the processes of the
  # step before still ending: up to three tries, each checked by reading
  # the value back.
  local try read_back
  for try in 1 2 3; do
    if wine reg add "$HALV_SYSTEM_KEY" /v "$1" /t REG_SZ /d "$2" /f >/dev/null 2>&1; then
      read_back=$(wine reg query "$HALV_SYSTEM_KEY" /v "$1" 2>/dev/null | tr -d '\r' |
        awk -v n="$1" '$1 == n && $2 == "REG_SZ" {sub(/^[ \t]*[^ \t]+[ \t]+REG_SZ[ \t]+/, ""); print; exit}')
      [ "$read_back" = "$2" ] && return 0
    fi
    [ "$try" -lt 3 ] && sleep 0.5
  done
  return 1
}

halv_configure() {
  local subkey name text
  while IFS='|' read -r subkey name text; do
    [ "$subkey" = "${HALV_SYSTEM_KEY##*\\}" ] || continue
    case $name in
      BaseDir) text=$(winepath -w "$1" 2>/dev/null) ;;
      LogDir) text=$(winepath -w "$2" 2>/dev/null) ;;
      Port) text=${3:-$text} ;;
    esac
    [ -n "$text" ] || continue
    halv_reg_set "$name" "$text" || { echo "service.sh: cannot write $name" >&2; return 1; }
  done <<<"$HALV_INSTALLED_VALUES"
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
  halv_configure "$1" "$2" "$3" || return 1
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

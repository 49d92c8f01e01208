# shellcheck shell=bash
# Shell functions that bring a private Wine prefix up and down.
#
# wine_up PREFIX LOG: creates/initialises the prefix, starts a persistent
#   wineserver and the service manager (services.exe). Every process that the
#   manager starts writes to LOG, so nothing holds a pipe of the caller open;
#   event-log reports show up there: each ReportEvent call as a
#   "fixme:advapi:ReportEventW (handle,type,category,id,...)" line, then one
#   "<class>:eventlog:ReportEventW L\"...\"" line per insert (err for errors,
#   warn for warnings, trace for information).
#   Returns 1 when the wineserver does not start.
# wine_down: stops every process of the prefix and waits for them.
# xvfb_up / xvfb_down: a private X display for programs that open windows.
#   Xvfb picks a free display itself and reports it (-displayfd), so two runs
#   starting at once never take the same one. xvfb_up returns 1 when Xvfb
#   does not come up within 30 s.

wine_up() {
  export WINEPREFIX="$1"
  export WINE_LOG="$2"
  export WINEDEBUG=fixme-all,+eventlog,fixme+advapi
  export WINEDLLOVERRIDES="mscoree,mshtml="
  mkdir -p "$(dirname "$WINE_LOG")"
  : >"$WINE_LOG"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "wine: initialising prefix $WINEPREFIX"
    wineboot -i >>"$WINE_LOG.init" 2>&1 </dev/null || true
    wineserver -w
  fi
  # Without -f the wineserver detaches once it takes connections, and this
  # call returns only then (0; 2 when one runs for the prefix already), so
  # wineboot below cannot start a second server.
  local rc=0
  wineserver -p >/dev/null 2>&1 </dev/null || rc=$?
  case $rc in
    0) ;;
    2) echo "wine: using the wineserver already running for $WINEPREFIX" ;;
    *)
      echo "wine: the wineserver of $WINEPREFIX did not start (exit $rc)" >&2
      return 1
      ;;
  esac
  wineboot >>"$WINE_LOG" 2>&1 </dev/null || true
}

wine_down() {
  [ -n "${WINEPREFIX:-}" ] || return 0
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
}

xvfb_up() {
  local dir n=""
  dir=$(mktemp -d) || return 1
  mkfifo "$dir/display"
  # Xvfb writes the display's number to fd 3 once it accepts clients, and
  # closes it; should it fail, the read sees the end of the pipe.
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$dir/display" \
    >/dev/null 2>&1 </dev/null &
  XVFB_PID=$!
  read -r -t 30 n <"$dir/display" || true
  rm -rf "$dir"
  if [ -z "$n" ]; then
    echo "xvfb: Xvfb did not start" >&2
    xvfb_down
    return 1
  fi
  export DISPLAY=":$n"
}

xvfb_down() {
  [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" >/dev/null 2>&1 || true
  XVFB_PID=""
}

# Shell functions that bring a private Wine prefix up and down.
#
# wine_up PREFIX LOG: creates/initialises the prefix, starts a persistent
#   wineserver and the service manager (services.exe). Every process that the
#   manager starts writes to LOG, so nothing holds a pipe of the caller open;
#   event-log reports show up there as "err:eventlog:ReportEventW" lines.
# wine_down: stops every process of the prefix and waits for them.
# xvfb_up / xvfb_down: a private X display for programs that open windows.

wine_up() {
  export WINEPREFIX="$1"
  export WINE_LOG="$2"
  export WINEDEBUG=fixme-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  mkdir -p "$(dirname "$WINE_LOG")"
  : >"$WINE_LOG"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "wine: initialising prefix $WINEPREFIX"
    wineboot -i >>"$WINE_LOG.init" 2>&1 </dev/null || true
    wineserver -w
  fi
  wineserver -p >/dev/null 2>&1 </dev/null &
  sleep 1
  wineboot >>"$WINE_LOG" 2>&1 </dev/null || true
}

wine_down() {
  [ -n "${WINEPREFIX:-}" ] || return 0
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
}

xvfb_up() {
  local n
  for n in $(seq 91 140); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 </dev/null &
    XVFB_PID=$!
    export DISPLAY=":$n"
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && return 0; sleep 0.1; done
    return 0
  done
  echo "xvfb: no free display" >&2
  return 1
}

xvfb_down() {
  [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" >/dev/null 2>&1 || true
  XVFB_PID=""
}

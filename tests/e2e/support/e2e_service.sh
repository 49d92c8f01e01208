# shellcheck shell=bash
# Shell side of the end-to-end harness, for the tests that drive the service
# with programs of the host (telnet, plink): a free port for the service and
# a start that moves to another port when the one picked was taken before
# the service could bind it. Needs the prefix that wine_up (scripts/lib/
# wine.sh) brought up and the functions of scripts/lib/service.sh.
#
# e2e_free_port: prints a TCP port that no socket is bound to now, on any
#   address. With HALV_E2E_PORT_BASE=N the first free one of N..N+199, else
#   the one the system gives a socket bound to port 0. Fails when none.
# e2e_service_up BIN_DIR LOG_DIR: installs, configures and starts the service
#   on a free port (halv_service_up) and checks that the registry holds that
#   port; sets E2E_PORT. When the start fails because the port was taken
#   (the service's bind failed with 10048), it tries another port, five times
#   at most. Returns 1 with the reason on stderr otherwise.

e2e_free_port() {
  perl -MIO::Socket::INET -e '
    my $base = $ENV{HALV_E2E_PORT_BASE} // "";
    my @ports = $base =~ /^[0-9]+$/ ? ($base .. $base + 199) : (0);
    for my $port (@ports) {
      next if $port > 65535;
      my $s = IO::Socket::INET->new(Listen => 1, LocalAddr => "0.0.0.0",
                                    LocalPort => $port, Proto => "tcp", ReuseAddr => 0);
      if ($s) { print $s->sockport, "\n"; exit 0; }
    }
    exit 1;'
}

# shellcheck disable=SC2034  # E2E_PORT is for the caller
e2e_service_up() {
  local bin=$1 logdir=$2 attempt mark port stored
  for attempt in 1 2 3 4 5; do
    port=$(e2e_free_port) || { echo "no free TCP port" >&2; return 1; }
    mark=$(stat -c %s "$WINE_LOG" 2>/dev/null || echo 0)
    if halv_service_up "$bin" "$logdir" "$port"; then
      stored=$(wine reg query "$HALV_SYSTEM_KEY" /v Port 2>/dev/null | tr -d '\r' |
        awk '$1 == "Port" {print $3}')
      if [ "$stored" != "$port" ]; then
        echo "the registry holds Port '$stored', not $port" >&2
        return 1
      fi
      E2E_PORT=$port
      return 0
    fi
    if ! tail -c +"$((mark + 1))" "$WINE_LOG" 2>/dev/null | grep -aqF "(10048), on API 'bind'"; then
      echo "the service did not start on port $port" >&2
      return 1
    fi
    echo "port $port was taken; trying another (attempt $attempt)" >&2
  done
  echo "the service found every port it was given taken" >&2
  return 1
}

#!/usr/bin/env bash
# A private CUPS scheduler on 127.0.0.1 for the tests and the demo.
#   cups-private.sh start DIR        start it; prints the port; DIR/port, DIR/pid
#   cups-private.sh add DIR QUEUE [lpadmin options]
#                                    a queue whose jobs land whole in DIR/out/QUEUE/
#   cups-private.sh stop DIR         stop it and wait for it to go
#   cups-private.sh resume DIR       start a stopped one again, on its port, with its queues
# Clients reach it with CUPS_SERVER=127.0.0.1:$(cat DIR/port).
set -euo pipefail

cmd=${1:?usage}; dir=${2:?usage}

free_port() {
  /usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()'
}

start() {
  mkdir -p "$dir"
  dir=$(cd "$dir" && pwd)
  # Filters and backends run as lp: every parent must be searchable.
  local p="$dir"
  while [[ "$p" != "/" ]]; do chmod o+rx "$p" 2>/dev/null || true; p=$(dirname "$p"); done
  mkdir -p "$dir"/{spool/tmp,cache,state,log,ppd,bin/backend,out}
  chmod 755 "$dir" "$dir"/out
  chmod 1777 "$dir"/spool/tmp
  for sub in /usr/lib/cups/*; do
    [[ "$(basename "$sub")" == backend ]] && continue
    ln -sfn "$sub" "$dir/bin/$(basename "$sub")"
  done
  for b in /usr/lib/cups/backend/*; do ln -sfn "$b" "$dir/bin/backend/$(basename "$b")"; done
  cat > "$dir/bin/backend/capture" <<'BACKEND'
#!/bin/sh
# Keeps every job whole: DIR/job-ID.data (the bytes) and DIR/job-ID.info.
if [ $# -eq 0 ]; then echo 'direct capture "Unknown" "Capture backend"'; exit 0; fi
out=${DEVICE_URI#capture:}
mkdir -p "$out"
tmp="$out/.job-$1.tmp"
if [ $# -ge 6 ]; then cat "$6" > "$tmp"; else cat > "$tmp"; fi
printf 'title=%s\nuser=%s\ncopies=%s\noptions=%s\ncontent-type=%s\n' "$3" "$2" "$4" "$5" "${CONTENT_TYPE:-}" > "$out/.job-$1.info"
chmod 644 "$tmp" "$out/.job-$1.info"
mv "$tmp" "$out/job-$1.data"
# PDF jobs can also be opened by name.
if head -c 4 "$out/job-$1.data" | grep -q '%PDF'; then ln -f "$out/job-$1.data" "$out/job-$1.pdf"; fi
# The side file comes last: a job is whole once it is there.
mv "$out/.job-$1.info" "$out/job-$1.info"
exit 0
BACKEND
  chmod 700 "$dir/bin/backend/capture"

  local port; port=$(free_port)
  local user_line=""; [[ $(id -u) -eq 0 ]] && user_line="User lp"
  cat > "$dir/cups-files.conf" <<CONF
ServerRoot $dir
RequestRoot $dir/spool
TempDir $dir/spool/tmp
CacheDir $dir/cache
StateDir $dir/state
DataDir /usr/share/cups
DocumentRoot /usr/share/cups/doc-root
ServerBin $dir/bin
AccessLog $dir/log/access_log
ErrorLog $dir/log/error_log
PageLog $dir/log/page_log
Printcap $dir/printcap
FileDevice Yes
$user_line
CONF
  cat > "$dir/cupsd.conf" <<CONF
Listen 127.0.0.1:$port
Browsing No
WebInterface No
DefaultAuthType None
PreserveJobFiles Yes
PreserveJobHistory Yes
LogLevel warn
MaxJobs 0
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  <Limit All>
    Order deny,allow
    Allow all
  </Limit>
</Policy>
CONF
  echo "$port" > "$dir/port"
  run
}

run() {
  local port; port=$(cat "$dir/port")
  /usr/sbin/cupsd -f -c "$dir/cupsd.conf" -s "$dir/cups-files.conf" >> "$dir/log/cupsd.out" 2>&1 &
  echo $! > "$dir/pid"
  for _ in $(seq 1 100); do
    if lpstat -h "127.0.0.1:$port" -r 2>/dev/null | grep -q "scheduler is running"; then
      echo "$port"; return 0
    fi
    kill -0 "$(cat "$dir/pid")" 2>/dev/null || break
    sleep 0.1
  done
  echo "cupsd did not start; see $dir/log" >&2
  cat "$dir/log/cupsd.out" "$dir/log/error_log" >&2 2>/dev/null || true
  return 1
}

add() {
  local queue=${3:?queue}; shift 3
  local port; port=$(cat "$dir/port")
  mkdir -p "$dir/out/$queue"; chmod 755 "$dir/out/$queue"
  lpadmin -h "127.0.0.1:$port" -p "$queue" -E -v "capture:$(cd "$dir" && pwd)/out/$queue" "$@"
}

stop() {
  [[ -f "$dir/pid" ]] || return 0
  local pid; pid=$(cat "$dir/pid")
  kill "$pid" 2>/dev/null || true
  for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || { rm -f "$dir/pid"; return 0; }; sleep 0.1; done
  kill -9 "$pid" 2>/dev/null || true
  rm -f "$dir/pid"
}

case "$cmd" in
  start) start ;;
  add) add "$@" ;;
  stop) stop ;;
  resume) run ;;
  *) echo "usage: $0 start|add|stop|resume DIR ..." >&2; exit 2 ;;
esac

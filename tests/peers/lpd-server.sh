#!/usr/bin/env bash
# A real LPD server: CUPS's cups-lpd under socat on 127.0.0.1, forwarding the
# jobs it receives into a CUPS scheduler. Prints its port, then runs until it
# is sent SIGTERM, when it stops socat too.
#   lpd-server.sh DIR CUPSPORT
set -euo pipefail
dir=${1:?usage: lpd-server.sh DIR CUPSPORT}; cups_port=${2:?usage}
mkdir -p "$dir"
port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()')
# cups-lpd must always exit 0, or socat may drop its refusal byte.
cat > "$dir/cups-lpd-wrapper" <<WRAP
#!/bin/sh
/usr/lib/cups/daemon/cups-lpd -h 127.0.0.1:$cups_port -o document-format=application/vnd.cups-raw
exit 0
WRAP
chmod 755 "$dir/cups-lpd-wrapper"
socat "TCP-LISTEN:$port,bind=127.0.0.1,reuseaddr,fork" "EXEC:$dir/cups-lpd-wrapper" > "$dir/socat.log" 2>&1 &
socat_pid=$!
trap 'kill $socat_pid 2>/dev/null; wait $socat_pid 2>/dev/null; exit 0' TERM INT EXIT
for _ in $(seq 1 50); do
  if ss -ltn 2>/dev/null | grep -q "127.0.0.1:$port " || \
     /usr/bin/python3 -c "import socket,sys; s=socket.socket(); sys.exit(0 if s.connect_ex(('127.0.0.1',$port))==0 else 1)"; then
    echo "$port"
    wait $socat_pid
    exit 0
  fi
  sleep 0.1
done
echo "socat did not start" >&2
exit 1

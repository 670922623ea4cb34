#!/usr/bin/python3
"""A port-9100 printer: keeps each connection's bytes in OUTDIR/raw-N.bin.

usage: raw-listener.py MODE OUTDIR    prints the port it listens on
  keep         read everything until the client closes
  close-early  close the connection after the first piece
"""
import os
import socket
import sys

mode, out = sys.argv[1], sys.argv[2]
os.makedirs(out, exist_ok=True)
server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
server.bind(("127.0.0.1", 0))
server.listen(8)
print(server.getsockname()[1], flush=True)
count = 0
while True:
    conn, _ = server.accept()
    count += 1
    data = b""
    try:
        while True:
            chunk = conn.recv(65536)
            if not chunk:
                break
            data += chunk
            if mode == "close-early":
                break
    except OSError:
        pass
    conn.close()
    path = os.path.join(out, "raw-%d.bin" % count)
    with open(path + ".tmp", "wb") as f:
        f.write(data)
    os.rename(path + ".tmp", path)

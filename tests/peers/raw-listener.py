#!/usr/bin/python3
"""A port-9100 printer: keeps each connection's bytes in OUTDIR/raw-N.bin.

usage: raw-listener.py MODE OUTDIR    prints the port it listens on
  keep         read everything until the client closes
  close-early  close the connection after the first piece
  stall        read 64 KB, then stop reading with the connection left open
"""
import sys
import time

from peerlib import serve_connections

mode, out = sys.argv[1], sys.argv[2]


def serve(conn):
    data = b""
    try:
        while True:
            chunk = conn.recv(65536)
            if not chunk:
                break
            data += chunk
            if mode == "close-early":
                break
            if mode == "stall" and len(data) >= 65536:
                time.sleep(60)
                break
    except OSError:
        pass
    return data


serve_connections(out, "raw", serve)

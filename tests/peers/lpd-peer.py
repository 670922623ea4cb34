#!/usr/bin/python3
"""A scripted LPD peer that behaves like a printer's own LPD listener (it
accepts the empty queue name) and does what no real server will.

usage: lpd-peer.py MODE OUTDIR      prints the port it listens on
  ok           acknowledge every command and file with a 0 byte at once
  silent       never answer
  refuse-data  answer the receive-data-file command with 0x01 and close
  drop-data    acknowledge, then close the connection halfway through the data
Each connection's bytes are kept in OUTDIR/conn-N.bin (written when it ends).
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


class Conversation:
    def __init__(self, conn):
        self.conn = conn
        self.data = b""
        self.pending = b""

    def read(self, count):
        while len(self.pending) < count:
            chunk = self.conn.recv(65536)
            if not chunk:
                raise EOFError
            self.pending += chunk
            self.data += chunk
        piece, self.pending = self.pending[:count], self.pending[count:]
        return piece

    def line(self):
        while b"\n" not in self.pending:
            chunk = self.conn.recv(65536)
            if not chunk:
                raise EOFError
            self.pending += chunk
            self.data += chunk
        piece, _, self.pending = self.pending.partition(b"\n")
        return piece + b"\n"

    def ack(self, byte=b"\0"):
        if mode == "ok" or (mode == "drop-data"):
            self.conn.sendall(byte)


def serve(conn):
    talk = Conversation(conn)
    try:
        talk.line()  # 02 queue LF
        talk.ack()
        while True:
            command = talk.line()
            size = int(command[1:].split(b" ")[0])
            if command[:1] == b"\x02":
                talk.ack()
                talk.read(size + 1)
                talk.ack()
            elif command[:1] == b"\x03":
                if mode == "refuse-data":
                    conn.sendall(b"\x01")
                    return talk.data
                talk.ack()
                if mode == "drop-data":
                    talk.read(size // 2)
                    return talk.data
                talk.read(size + 1)
                talk.ack()
            else:
                return talk.data
    except (EOFError, ValueError, OSError):
        pass
    # Keep reading what else comes, until the client closes.
    try:
        conn.settimeout(5)
        while True:
            chunk = conn.recv(65536)
            if not chunk:
                break
            talk.data += chunk
    except OSError:
        pass
    return talk.data


count = 0
while True:
    conn, _ = server.accept()
    count += 1
    data = serve(conn)
    conn.close()
    path = os.path.join(out, "conn-%d.bin" % count)
    with open(path + ".tmp", "wb") as f:
        f.write(data)
    os.rename(path + ".tmp", path)

#!/usr/bin/python3
"""A scripted LPD peer that behaves like a printer's own LPD listener (it
accepts the empty queue name) and does what no real server will.

usage: lpd-peer.py MODE OUTDIR [DELAY_MS]    prints the port it listens on
  ok              acknowledge every command and file with a 0 byte
  silent          never answer; read until the client closes
  silent-close    never answer; close in order once the whole job is read
  refuse-data     answer only the receive-data-file command, with 0x01
  refuse-control  acknowledge the receive-job command, answer the
                  receive-control-file command with 0x01
  acked-refuse-data  acknowledge everything before the receive-data-file
                  command, answer that with 0x01
  drop-data       acknowledge, then close the connection halfway through the data
  reset-data      acknowledge, then reset the connection halfway through the data
  no-read         accept, and never read a byte
  stall-data      acknowledge, read 64 KB of the data, then stop reading
                  with the connection left open
Every answer is sent DELAY_MS after the line or file it answers (default 0),
as over a network with that much latency. After a refusal the peer reads on
until the client closes. Each connection's bytes are kept in
OUTDIR/conn-N.bin (written when it ends).
"""
import socket
import struct
import sys
import time

from peerlib import serve_connections

mode, out = sys.argv[1], sys.argv[2]
delay = int(sys.argv[3]) / 1000.0 if len(sys.argv) > 3 else 0.0


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

    def answer(self, byte):
        time.sleep(delay)
        self.conn.sendall(byte)

    def ack(self):
        if mode in ("ok", "drop-data", "reset-data", "acked-refuse-data", "stall-data"):
            self.answer(b"\0")


def serve(conn):
    talk = Conversation(conn)
    if mode == "no-read":
        time.sleep(60)
        return talk.data
    try:
        talk.line()  # 02 queue LF
        if mode == "refuse-control":
            talk.answer(b"\0")
        talk.ack()
        while True:
            command = talk.line()
            size = int(command[1:].split(b" ")[0])
            if command[:1] == b"\x02":
                if mode == "refuse-control":
                    talk.answer(b"\x01")
                    break
                talk.ack()
                talk.read(size + 1)
                talk.ack()
            elif command[:1] == b"\x03":
                if mode in ("refuse-data", "acked-refuse-data"):
                    talk.answer(b"\x01")
                    break
                talk.ack()
                if mode == "stall-data":
                    talk.read(min(size, 65536))
                    time.sleep(60)
                    return talk.data
                if mode in ("drop-data", "reset-data"):
                    talk.read(size // 2)
                    if mode == "reset-data":
                        conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                    return talk.data
                talk.read(size + 1)
                talk.ack()
                if mode == "silent-close":
                    return talk.data
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


serve_connections(out, "conn", serve)

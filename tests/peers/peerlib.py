"""What the scripted peers share: a listener on a free port of 127.0.0.1
whose port is printed, and each connection's bytes kept in a file that
appears whole when the connection ends."""
import os
import socket


def serve_connections(out, prefix, serve):
    """Accepts connections one at a time for ever; serve(conn) returns the
    bytes received, kept in OUT/PREFIX-N.bin."""
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
        data = serve(conn)
        conn.close()
        path = os.path.join(out, "%s-%d.bin" % (prefix, count))
        with open(path + ".tmp", "wb") as f:
            f.write(data)
        os.rename(path + ".tmp", path)

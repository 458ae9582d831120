#!/usr/bin/env python3
"""The Linux side of scripts/wine_check.sh: the relay's destinations and its
callers, on loopback only, every wait bounded. Each command exits 0 when
what it checks holds, and otherwise 1 with one line on standard error.

  ports N                    N distinct ports the kernel has free now
  serve PORT...              echo every connection back, until it is ended
  relay SECONDS PORT...      1 MiB both ways through each port at once, intact
                             (SOURCE@PORT: the caller calls from that address)
  refused SECONDS PORT       the relay closes a caller without a byte
  hold SECONDS PORT          one connection that stays open until the relay
                             closes it; says "held" once it is through
  closed SECONDS PORT...     every port refuses callers within the time
"""

import os
import socket
import sys
import threading
import time

MIB = 1 << 20
HOST = "127.0.0.1"


def fail(text):
    print(f"wine_check_peer: {text}", file=sys.stderr, flush=True)
    sys.exit(1)


def ports(count):
    held = []
    for _ in range(count):
        s = socket.socket()
        s.bind(("", 0))  # every address: the relay listens on 0.0.0.0
        held.append(s)
    print(" ".join(str(s.getsockname()[1]) for s in held))
    for s in held:
        s.close()


def echo(conn):
    with conn:
        while True:
            data = conn.recv(65536)
            if not data:
                return
            conn.sendall(data)


def serve(port_list):
    for port in port_list:
        listener = socket.socket()
        listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        listener.bind((HOST, port))
        listener.listen(64)

        def accept(listener=listener):
            while True:
                conn, _ = listener.accept()
                threading.Thread(target=echo, args=(conn,), daemon=True).start()

        threading.Thread(target=accept, daemon=True).start()
    print("serving", flush=True)
    threading.Event().wait()  # until the script ends it (SIGTERM)


def through(target, seconds, errors):
    """Sends 1 MiB while reading the echo, so neither side waits on the other.
    target: PORT, or SOURCE@PORT to call from that local address."""
    source, _, port = target.rpartition("@")
    port = int(port)
    payload = os.urandom(MIB)
    try:
        conn = socket.create_connection((HOST, port), timeout=seconds,
                                        source_address=(source, 0) if source else None)
        conn.settimeout(seconds)
        sender = threading.Thread(target=conn.sendall, args=(payload,), daemon=True)
        sender.start()
        got = bytearray()
        while len(got) < MIB:
            data = conn.recv(MIB - len(got))
            if not data:
                break
            got += data
        sender.join(seconds)
        conn.close()
    except OSError as error:
        errors.append(f"port {port}: {error}")
        return
    if bytes(got) != payload:
        errors.append(f"port {port}: {len(got)} of {MIB} bytes came back, or not intact")


def relay(seconds, port_list):
    errors = []
    workers = [threading.Thread(target=through, args=(p, seconds, errors)) for p in port_list]
    for w in workers:
        w.start()
    for w in workers:
        w.join(seconds + 1)
    if errors:
        fail("; ".join(errors))


def refused(seconds, port):
    try:
        conn = socket.create_connection((HOST, port), timeout=seconds)
    except OSError as error:
        fail(f"port {port}: cannot connect ({error})")
    conn.settimeout(seconds)
    try:
        conn.sendall(b"anyone there?")
        data = conn.recv(100)
    except (ConnectionResetError, BrokenPipeError):
        return
    except socket.timeout:
        fail(f"port {port}: the relay kept a caller it should refuse for {seconds} s")
    if data:
        fail(f"port {port}: the refused caller got {len(data)} bytes")


def hold(seconds, port):
    conn = socket.create_connection((HOST, port), timeout=seconds)
    conn.settimeout(seconds)
    conn.sendall(b"x")
    if conn.recv(1) != b"x":
        fail(f"port {port}: the held connection did not echo")
    print("held", flush=True)
    try:
        while conn.recv(100):
            pass
    except ConnectionResetError:
        pass
    except OSError as error:
        fail(f"port {port}: the relay did not close the held connection ({error})")
    print("closed by the relay", flush=True)


def refuses(port):
    try:
        socket.create_connection((HOST, port), timeout=0.5).close()
        return False
    except ConnectionRefusedError:
        return True
    except OSError:
        return False


def closed(seconds, port_list):
    deadline = time.monotonic() + seconds
    waiting = list(port_list)
    while waiting and time.monotonic() < deadline:
        waiting = [p for p in waiting if not refuses(p)]
        if waiting:
            time.sleep(0.02)
    if waiting:
        fail(f"still listening after {seconds} s: {' '.join(map(str, waiting))}")


def main(argv):
    command, args = argv[1], argv[2:]
    if command == "ports":
        ports(int(args[0]))
    elif command == "serve":
        serve([int(p) for p in args])
    elif command == "relay":
        relay(float(args[0]), args[1:])
    elif command == "refused":
        refused(float(args[0]), int(args[1]))
    elif command == "hold":
        hold(float(args[0]), int(args[1]))
    elif command == "closed":
        closed(float(args[0]), [int(p) for p in args[1:]])
    else:
        fail(f"unknown command {command}")


if __name__ == "__main__":
    main(sys.argv)

#!/usr/bin/env python3
"""Floods a VLGuard's control server with half-open and slow connections and
reports how it copes: how long /request takes to be answered during and after
the flood, how much CPU the guard burns while the connections are held, and
how many of them it keeps open.

    bench/guard/guard_flood.py build/install/VLGuard [--connections 371] [--nofile 256]

The guard runs in a scratch sandbox (its own HOME, runtime, temporary and data
folders) on a free port, with its descriptor limit lowered through prlimit.
Only 127.0.0.1 is contacted."""
import argparse
import os
import re
import shutil
import socket
import subprocess
import tempfile
import time


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def open_sockets(pid):
    count = 0
    for fd in os.listdir(f"/proc/{pid}/fd"):
        try:
            if os.readlink(f"/proc/{pid}/fd/{fd}").startswith("socket:"):
                count += 1
        except OSError:
            pass
    return count


def request_latency(port, timeout=15.0):
    """Seconds until GET /request is answered, or None."""
    start = time.monotonic()
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
            s.settimeout(max(0.1, timeout - (time.monotonic() - start)))
            s.sendall(f"GET /request HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\nConnection: close\r\n\r\n".encode())
            if s.recv(64).startswith(b"HTTP/1.1 200"):
                return time.monotonic() - start
    except OSError:
        pass
    return None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("guard")
    parser.add_argument("--connections", type=int, default=371)
    parser.add_argument("--nofile", type=int, default=256)
    parser.add_argument("--hold", type=float, default=3.0, help="seconds the flood is held for the CPU sample")
    args = parser.parse_args()

    root = tempfile.mkdtemp(prefix="vlguard-flood-")
    env = dict(os.environ)
    for name, sub in (("HOME", "home"), ("XDG_RUNTIME_DIR", "run"), ("TMPDIR", "tmp"), ("XDG_DATA_HOME", "data")):
        os.makedirs(os.path.join(root, sub), mode=0o700)
        env[name] = os.path.join(root, sub) + "/"
    env["VL_GUARD_PORT"] = "0"
    out = open(os.path.join(root, "guard.out"), "w+")
    guard = subprocess.Popen(["prlimit", f"--nofile={args.nofile}:{args.nofile}", args.guard],
                             env=env, stdout=out, stderr=subprocess.DEVNULL)
    port = None
    for _ in range(200):
        out.seek(0)
        m = re.search(r"Listening on 127\.0\.0\.1:(\d+)", out.read())
        if m:
            port = int(m.group(1))
            break
        time.sleep(0.05)
    if port is None:
        raise SystemExit("the guard did not start")
    print(f"guard pid {guard.pid}, port {port}, descriptor limit {args.nofile}")
    print(f"before the flood: /request answered in {request_latency(port):.3f} s")

    held = []
    partials = [b"", f"GET /request HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\n".encode(), b"GE"]
    for i in range(args.connections):
        try:
            s = socket.create_connection(("127.0.0.1", port), timeout=2)
            if partials[i % 3]:
                s.sendall(partials[i % 3])
            held.append(s)
        except OSError:
            pass
    print(f"flood: {len(held)} of {args.connections} connections opened (half-open and unfinished requests)")
    latency = request_latency(port)
    print("during the flood: /request " + (f"answered in {latency:.3f} s" if latency is not None
                                           else "not answered within 15 s"))
    cpu0, t0 = cpu_seconds(guard.pid), time.monotonic()
    time.sleep(args.hold)
    cpu1, t1 = cpu_seconds(guard.pid), time.monotonic()
    print(f"guard CPU while the flood is held: {100 * (cpu1 - cpu0) / (t1 - t0):.0f} %"
          f" over {t1 - t0:.1f} s; sockets open in the guard: {open_sockets(guard.pid)}")
    for s in held:
        s.close()
    time.sleep(0.5)
    latency = request_latency(port)
    print("after the flood: /request " + (f"answered in {latency:.3f} s" if latency is not None
                                          else "not answered within 15 s"))
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=2) as s:
            s.sendall(f"GET /exit HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\n\r\n".encode())
    except OSError:
        pass
    try:
        guard.wait(10)
    except subprocess.TimeoutExpired:
        guard.kill()
        guard.wait()
    shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    main()

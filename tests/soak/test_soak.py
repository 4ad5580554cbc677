"""The real binary under load, stopped by SIGINT or SIGTERM at random moments: the bundled
recording looping at eight times real time, TCP clients that come and go, reset or send garbage,
one that never reads, and a UDP destination that is either local or never resolves. Every run
must end promptly with status 0 and nothing on standard error but the tuner report (a
sanitizer's report would show there), and the churn must leave no connection open behind.
KEELWAVE_SOAK_RUNS (default 6), KEELWAVE_SOAK_SECONDS (the longest a run goes on before its
signal, default 2) and KEELWAVE_SOAK_SEED (printed by every run, to repeat its choices)."""
import os
import random
import signal
import socket
import struct
import sys
import threading
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "e2e"))
from keelwave import DEMO, REPORT, Keelwave, connect, free_port, read_lines  # noqa: E402


def sessions(pid, port):
    """The receiver's open TCP connections on its port (a socket no descriptor holds has inode
    0); a lookup of the UDP destination may hold a socket of its own, not the churn's to count."""
    rows = [row.split() for table in ("tcp", "tcp6")
            for row in open("/proc/%d/net/%s" % (pid, table))]
    return sum(row[0] != "sl" and row[3] != "0A" and row[9] != "0"  # 0A: listening
               and int(row[1].split(":")[1], 16) == port for row in rows)


def churn(port, rng, going):
    """Clients that connect, read a little and leave by a close or a reset, until told to stop."""
    while going.is_set():
        try:
            client = connect(port, timeout=1)
        except OSError:
            return  # the receiver has stopped listening
        with client:
            read_lines(client, rng.randrange(20), quiet=0.1)
            if rng.randrange(3) == 0:
                client.sendall(bytes(rng.randrange(256) for _ in range(rng.randrange(5000))))
            if rng.randrange(2) == 0:
                client.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))


class Soak(unittest.TestCase):
    def test_stops_in_order_at_any_moment_under_load_and_churn(self):
        seed = int(os.environ.get("KEELWAVE_SOAK_SEED", random.randrange(2**32)))
        print("KEELWAVE_SOAK_SEED=%d" % seed)
        rng = random.Random(seed)
        longest = float(os.environ.get("KEELWAVE_SOAK_SECONDS", 2))
        for number in range(int(os.environ.get("KEELWAVE_SOAK_RUNS", 6))):
            stop = rng.choice([signal.SIGTERM, signal.SIGINT])
            port = free_port()
            udp = rng.choice(["127.0.0.1:9", "no.such.host.invalid:9"])
            console = rng.choice([[], ["--no-console"]])
            with self.subTest(run=number, signal=stop, udp=udp, console=console), Keelwave(
                    "--net", str(port), "--udp", udp, *console,
                    standin={"INPUT": DEMO, "REPEAT": 0, "PACE": 8}) as receiver:
                lasts = rng.uniform(0, longest)
                # Connected: the signals are caught from here on, maybe before the tuner is up.
                with connect(port, receive_buffer=4096) as stalled:
                    if rng.randrange(4):
                        self.load(receiver, port, stalled, rng, lasts)
                    began = time.monotonic()
                    status, _, err = receiver.stop(stop)
                self.assertLess(time.monotonic() - began, 5)
                self.assertEqual((status, err), (0, REPORT + "Gain: Auto\n"))

    def load(self, receiver, port, stalled, rng, seconds):
        self.assertTrue(receiver.wait_for("Connected 127.0.0.1:%d\n" % stalled.getsockname()[1]))
        before = sessions(receiver.process.pid, port)
        going = threading.Event()
        going.set()
        clients = [threading.Thread(target=churn, args=(port, random.Random(rng.random()), going))
                   for _ in range(6)]
        for client in clients:
            client.start()
        with connect(port) as reader:
            read_lines(reader, 1, quiet=10)
            time.sleep(seconds)
            going.clear()
            for client in clients:
                client.join()
            deadline = time.monotonic() + 5  # the last to leave are noticed
            while sessions(receiver.process.pid, port) > before + 1 and time.monotonic() < deadline:
                time.sleep(0.05)
            self.assertLessEqual(sessions(receiver.process.pid, port), before + 1)  # + the reader


if __name__ == "__main__":
    unittest.main()

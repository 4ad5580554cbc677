"""The binary on rtl_tcp servers that misbehave, as Debian's rtl_tcp will not: a fake server
with a greeting that is not rtl_tcp's, a stream one byte at a time, one that stops mid-block;
a server that is not there or never answers, and stops while the receiver waits for it."""
import contextlib
import random
import signal
import socket
import struct
import tempfile
import threading
import time
import unittest

from keelwave import DEMO, DEMO_SENTENCES, Keelwave, logged_sentences, on_channel, run

GREETING = b"RTL0" + struct.pack(">II", 5, 29)  # an R820T with 29 gain steps
BLOCK = 102400  # bytes of the tuner's blocks


class FakeServer(threading.Thread):
    """A server that answers each connection with the next of `scripts`, each given the socket;
    it keeps what the client sent on each connection."""

    def __init__(self, scripts):
        super().__init__(daemon=True)
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.port = self.listener.getsockname()[1]
        self.scripts = scripts
        self.received = []
        self.start()

    def run(self):
        for script in self.scripts:
            connection, _ = self.listener.accept()
            with connection:
                connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
                with contextlib.suppress(OSError):  # the client may leave first
                    script(connection)
                connection.settimeout(30)
                received = b""
                with contextlib.suppress(OSError):  # until the client leaves
                    while more := connection.recv(4096):
                        received += more
                self.received.append(received)


def paced(connection, data, speed=2):
    """Sends `data` in the tuner's blocks at `speed` times the pace it was recorded at."""
    for start in range(0, len(data), BLOCK):
        connection.sendall(data[start:start + BLOCK])
        time.sleep(BLOCK / 2 / 288000 / speed)


class FaultyServer(unittest.TestCase):
    def setUp(self):
        with open(DEMO, "rb") as recording:
            self.demo = recording.read()

    def test_a_fake_server_s_wrong_greeting_single_bytes_and_silence_mid_block(self):
        # An odd number of bytes, mid-block (the I without its Q is dropped), some 35 ms into a
        # slot: the bursts that ended in it are still held by the chains when the stream stops.
        cut = 1506241

        def not_rtl_tcp(connection):
            connection.sendall(b"SSH-2.0-OpenSSH_9.2\r\n")

        def byte_by_byte_then_silent(connection):
            for byte in GREETING + self.demo[:1001]:
                connection.sendall(bytes([byte]))
                time.sleep(0.001)
            paced(connection, self.demo[1001:cut])

        def whole(connection):
            connection.sendall(GREETING)
            paced(connection, self.demo)

        server = FakeServer([not_rtl_tcp, byte_by_byte_then_silent, whole])
        name = "rtl_tcp 127.0.0.1:%d: " % server.port
        with tempfile.NamedTemporaryFile(suffix=".cu8") as truncated:
            truncated.write(self.demo[:cut - 1])
            truncated.flush()
            before = logged_sentences(run("-r", truncated.name)[1])
        with Keelwave("--rtl-tcp", "127.0.0.1:%d" % server.port, "--gain", "40.2",
                      "--freq-correction", "-12") as receiver:
            self.assertTrue(receiver.wait_for("receiving from its R820T tuner again", timeout=40))
            deadline = time.monotonic() + 30
            while (len(logged_sentences(receiver.read("out"))) < len(before + DEMO_SENTENCES)
                   and time.monotonic() < deadline):
                time.sleep(0.1)
            status, out, err = receiver.stop(signal.SIGINT)
        server.join(30)
        self.assertEqual(status, 0)
        self.assertEqual(err, name + "R820T tuner, 29 gain steps\nFreq: 162.000 MHz\n"
                              "Freq Correction: -12 ppm\nGain: 40.2 dB\n")
        # One ERROR line for each outage, with its reason; none for the failures within one.
        self.assertEqual([line[25:] for line in out.splitlines() if " ERROR " in line], [
            "ERROR    " + name + "not an rtl_tcp server: its greeting does not begin with RTL0; "
            "reconnecting",
            "ERROR    " + name + "no data for 5 s; reconnecting"])
        self.assertNotIn("Dropped", out)
        # Each chain numbers its multi-sentence messages on across the outage: the number and
        # the checksum over it aside, the sentences are those of the recording.
        def unnumbered(sentences, channel):
            return [s[:s.rindex("*")].split(",")[:3] + s.split(",")[4:-1]
                    for s in on_channel(sentences, channel)]

        for channel in "AB":
            self.assertEqual(unnumbered(logged_sentences(out), channel),
                             unnumbered(before + DEMO_SENTENCES, channel))
        # What the stream held when it stopped is printed then, not once the server is back.
        self.assertEqual(len(logged_sentences(out[:out.rindex("receiving")])), len(before))
        # Centre, rate, correction, manual gain mode and gain in tenths of a dB.
        commands = struct.pack(">BIBIBiBIBI", 1, 162000000, 2, 288000, 5, -12, 3, 1, 4, 402)
        self.assertEqual(server.received[1:], [commands, commands])

    def test_stops_at_once_while_the_server_is_not_there_or_never_answers(self):
        for case in "refused", "never answers":
            with self.subTest(case=case), socket.socket() as silent:
                silent.bind(("127.0.0.1", 0))
                if case == "never answers":  # connections complete, and nothing ever comes
                    silent.listen()
                port = silent.getsockname()[1]
                with Keelwave("--rtl-tcp", "localhost:%d" % port) as receiver:
                    # Signals are caught from just after the banner; one before it would
                    # end the run as it ends any program, with the signal's status.
                    self.assertTrue(receiver.wait_for("Connection refused; reconnecting"
                                                      if case == "refused" else "Keelwave v."))
                    time.sleep(random.uniform(0.2, 1.5))
                    status, out, err = receiver.stop(random.choice([signal.SIGINT,
                                                                    signal.SIGTERM]))
                self.assertEqual((status, err), (0, ""))


if __name__ == "__main__":
    unittest.main()

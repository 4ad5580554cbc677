"""The binary decoding the bundled recording, from the stand-in tuner in real time and from the
file itself: every sentence a correct receiver prints, on the log, a TCP client and UDP alike."""
import os
import signal
import socket
import struct
import tempfile
import threading
import unittest

from keelwave import (DEMO, DEMO_SENTENCES, Keelwave, connect, free_port, logged_sentences,
                      on_channel, read_lines, run)


class Outputs(unittest.TestCase):
    def assert_heard_as_sent(self, sentences):
        # Within a channel the order is the order on the air; across channels it may differ.
        for channel in "AB":
            self.assertEqual(on_channel(sentences, channel), on_channel(DEMO_SENTENCES, channel))
        self.assertEqual(len(sentences), len(DEMO_SENTENCES))

    def test_log_tcp_and_udp_carry_every_sentence_of_the_air(self):
        with socket.socket(type=socket.SOCK_DGRAM) as udp:
            udp.bind(("127.0.0.1", 0))
            udp.settimeout(3)
            datagrams = []

            def collect():  # as they come: the socket's buffer would not hold them all
                try:
                    while len(datagrams) < len(DEMO_SENTENCES):
                        datagrams.append(udp.recv(65536).decode())
                except socket.timeout:
                    pass

            collector = threading.Thread(target=collect)
            collector.start()
            port = free_port()
            with Keelwave("--net", str(port), "--udp", "127.0.0.1:%d" % udp.getsockname()[1],
                          standin={"INPUT": DEMO}) as receiver:
                with connect(port) as client:
                    address = "%s:%d" % client.getsockname()
                    over_tcp = read_lines(client, len(DEMO_SENTENCES))
                    # A reset is noticed at once; a close would be by the next sentence.
                    client.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                self.assertTrue(receiver.wait_for("INFO     Disconnected %s\n" % address))
                collector.join()
                status, out, _ = receiver.stop(signal.SIGINT)
        self.assertEqual(status, 0)
        self.assertIn("INFO     Connected %s\n" % address, out)
        self.assertTrue(all(d.endswith("\r\n") and d.count("\r\n") == 1 for d in datagrams))
        for sentences in logged_sentences(out), over_tcp, [d[:-2] for d in datagrams]:
            self.assert_heard_as_sent(sentences)

    def test_no_console_serves_the_clients_but_logs_no_sentence(self):
        port = free_port()
        with Keelwave("--net", str(port), "--no-console",
                      standin={"INPUT": DEMO, "PACE": 4}) as receiver:
            with connect(port) as client:
                over_tcp = read_lines(client, len(DEMO_SENTENCES), quiet=2)
            status, out, _ = receiver.stop(signal.SIGTERM)
        self.assertEqual((status, logged_sentences(out)), (0, []))
        self.assertGreater(len(over_tcp), 100)

    def test_a_recording_from_a_file_or_standard_input_gives_every_sentence_and_ends(self):
        with tempfile.TemporaryDirectory() as scratch:
            fifo = os.path.join(scratch, "fifo")
            os.mkfifo(fifo)

            def feed():  # a pipe delivers the stream in pieces of any size, odd ones included
                with open(DEMO, "rb") as recording, open(fifo, "wb", buffering=0) as pipe:
                    while piece := recording.read(1001):
                        pipe.write(piece)

            feeder = threading.Thread(target=feed)
            feeder.start()
            with open(DEMO, "rb") as recording, open(fifo, "rb") as pipe:
                runs = [run("--input", DEMO), run("-r", "-", stdin=recording),
                        run("-r", "-", stdin=pipe)]
            feeder.join()
        for status, out, err in runs:
            self.assertEqual((status, err), (0, ""))
            self.assert_heard_as_sent(logged_sentences(out))


if __name__ == "__main__":
    unittest.main()

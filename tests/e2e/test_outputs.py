"""The binary decoding the bundled recording, from the stand-in tuner in real time and from the
file itself: every sentence a correct receiver prints, on the log, a TCP client and UDP alike."""
import os
import signal
import socket
import subprocess
import struct
import tempfile
import threading
import time
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
        with Keelwave("--net", str(port), "--no-console", "--decoder", "sensitive",
                      standin={"INPUT": DEMO, "PACE": 4}) as receiver:
            with connect(port) as client:
                over_tcp = read_lines(client, len(DEMO_SENTENCES), quiet=2)
            status, out, _ = receiver.stop(signal.SIGTERM)
        self.assertEqual((status, logged_sentences(out)), (0, []))
        self.assertGreater(len(over_tcp), 100)
        # Channel and payload: at four times the pace a slow build drops some of the tuner's
        # blocks, and each message missed moves the sequence numbers of those after it.
        heard = {tuple(s.split(",")[4:6]) for s in over_tcp}
        self.assertLessEqual(heard, {tuple(s.split(",")[4:6]) for s in DEMO_SENTENCES})

    def test_a_recording_from_a_file_or_standard_input_gives_every_sentence_and_ends(self):
        with tempfile.TemporaryDirectory() as scratch:
            fifo = os.path.join(scratch, "fifo")
            os.mkfifo(fifo)

            def feed():  # a pipe delivers the stream in pieces of any size, odd ones included,
                with open(DEMO, "rb") as recording, open(fifo, "wb", buffering=0) as pipe:
                    while piece := recording.read(1001):
                        pipe.write(piece)
                        if recording.tell() == 500500:
                            time.sleep(0.3)  # and its writer may fall silent for a while

            feeder = threading.Thread(target=feed)
            feeder.start()
            with open(DEMO, "rb") as recording, open(fifo, "rb") as pipe:
                runs = [run("--input", DEMO), run("-r", "-", stdin=recording),
                        run("-r", "-", stdin=pipe), run("-r", DEMO, "--decoder", "sensitive")]
            feeder.join()
        for status, out, err in runs:
            self.assertEqual((status, err), (0, ""))
            self.assert_heard_as_sent(logged_sentences(out))

    def test_a_recording_ends_the_run_once_every_client_has_its_sentences(self):
        port = free_port()
        with Keelwave("-r", "-", "--net", str(port), "--udp", "127.0.0.1:%d" % port,
                      stdin=subprocess.PIPE) as receiver:
            with connect(port) as client, open(DEMO, "rb") as recording:
                receiver.process.stdin.write(recording.read())
                receiver.process.stdin.close()
                got = read_lines(client, len(DEMO_SENTENCES))
                ended = time.monotonic()
                status = receiver.stop()[0]
        self.assertEqual((status, len(got)), (0, len(DEMO_SENTENCES)))
        # Not the five seconds the run would wait for a client that does not read, or a datagram.
        self.assertLess(time.monotonic() - ended, 3)

    def test_the_last_samples_of_a_recording_are_decoded_too(self):
        # Cut 50 discriminator samples short of a whole number of a chain's 4096-sample blocks
        # (12 tuner bytes each), the recording ends with 84 ms of traffic in a last, partly
        # filled block; padded with silence, the same bursts are decoded in whole blocks.
        with tempfile.NamedTemporaryFile() as cut, tempfile.NamedTemporaryFile() as padded:
            with open(DEMO, "rb") as recording:
                opening = recording.read(12 * (36 * 4096 - 50))
            for file, content in (cut, opening), (padded, opening + b"\x80" * 576000):
                file.write(content)
                file.flush()
            for decoder in "classic", "sensitive":
                heard = [logged_sentences(run("-r", recording.name, "--decoder", decoder)[1])
                         for recording in (cut, padded)]
                for channel in "AB":
                    self.assertEqual(on_channel(heard[0], channel), on_channel(heard[1], channel))
                self.assertGreater(len(heard[0]), 90)

    def test_a_recording_at_its_recorded_pace_reaches_a_client_that_connects_late(self):
        with tempfile.NamedTemporaryFile(suffix=".cu8") as opening:
            with open(DEMO, "rb") as recording:
                opening.write(recording.read(2 * 576000))  # its first two seconds
            opening.flush()
            port = free_port()
            with Keelwave("-r", opening.name, "--realtime", "--net", str(port)) as receiver:
                time.sleep(0.8)  # a chart program that retries its connection every second
                with connect(port) as client:
                    late = read_lines(client, len(DEMO_SENTENCES), quiet=3)
                status, out, _ = receiver.stop()
        self.assertEqual(status, 0)
        self.assertTrue(late)
        self.assertLessEqual(set(late), set(logged_sentences(out)))

    def test_a_named_pipe_without_a_writer_still_stops_on_a_signal(self):
        with tempfile.TemporaryDirectory() as scratch:
            fifo = os.path.join(scratch, "fifo")
            os.mkfifo(fifo)
            for number in signal.SIGINT, signal.SIGTERM:
                with Keelwave("-r", fifo) as receiver:
                    self.assertTrue(receiver.wait_for("Keelwave v.20180430"))
                    time.sleep(0.3)
                    self.assertEqual(receiver.stop(number, timeout=5)[::2], (0, ""))


if __name__ == "__main__":
    unittest.main()

"""The formats of the bundled recording's messages as their readers read them: JSON lines checked
against gpsdecode and the NMEA stream, tag blocks read by gpsdecode and by the gpsd daemon over
TCP, the statistics of the run, and times of arrival that keep the spacing of the air."""
import json
import os
import signal
import socket
import subprocess
import tempfile
import time
import unittest

from keelwave import (DEMO, DEMO_SENTENCES, Keelwave, connect, free_port, logged_sentences,
                      read_lines, run)

BIT = 1 / 9600  # s


def gpsdecode(lines, *options):
    """What gpsdecode (an outside program) makes of NMEA lines, tag blocks and all; "-s" has
    it report each part of a type 24 message as it comes, as the field tests do."""
    out = subprocess.run(["gpsdecode", *options], input="\n".join(lines) + "\n", text=True,
                         capture_output=True, check=True).stdout
    return [json.loads(line) for line in out.splitlines()]


def printed(out):
    """The lines of an output on standard output: those without the log's time stamp."""
    return [line for line in out.splitlines() if not line[:4].isdigit()]


class Formats(unittest.TestCase):
    def test_json_lines_are_the_nmea_stream_as_gpsd_decodes_it(self):
        with tempfile.NamedTemporaryFile("r") as tagged:
            status, out, err = run("-r", DEMO, "--output", "file:-,format=json", "--station",
                                   "mast1", "--output", f"file:{tagged.name},format=tagged")
            tagged_lines = tagged.read().splitlines()
        self.assertEqual((status, err), (0, ""))
        objects = [json.loads(line) for line in printed(out)]
        # Message for message the sentences of the log, in their order.
        self.assertEqual([s for o in objects for s in o["nmea"]], logged_sentences(out))
        self.assertEqual(sorted(logged_sentences(out)), sorted(DEMO_SENTENCES))
        for message in objects:
            self.assertEqual(message["station"], "mast1")
            self.assertEqual(message["chain"], "classic")
            self.assertLess(message["toa"], 7.5)  # seconds into the recording
            self.assertAlmostEqual(message["offset_hz"], 300, delta=100)  # as it was made
            self.assertAlmostEqual(message["offset_hz"] / message["offset_ppm"], 162, delta=1)
            # Position and voyage reports, most of real traffic, as gpsd decodes them (the field
            # tests compare every type with the deliberate differences listed).
            if message["type"] in (1, 3, 4, 5, 18, 19):
                decoded = gpsdecode(message["nmea"], "-s")[-1]
                decoded.pop("device")
                self.assertEqual({k: message[k] for k in decoded}, decoded)
        # Tag blocks hide nothing from a reader of NMEA 4.0.
        self.assertEqual(gpsdecode(tagged_lines), gpsdecode(logged_sentences(out)))
        self.assertTrue(all(line.startswith("\\s:mast1*") or line.startswith("\\g:")
                            for line in tagged_lines))

    def test_the_gpsd_daemon_reads_the_tagged_stream_of_the_server(self):
        port, gpsd_port = free_port(), free_port()
        with Keelwave("-r", "-", "--output", f"server:{port},format=tagged", "--no-console",
                      stdin=subprocess.PIPE) as receiver:
            connect(port).close()  # listening: gpsd gives up at once if its first connect fails
            gpsd = subprocess.Popen(["gpsd", "-N", "-n", "-S", str(gpsd_port),
                                     f"tcp://127.0.0.1:{port}"], stdout=subprocess.DEVNULL,
                                    stderr=subprocess.DEVNULL)
            try:
                deadline = time.monotonic() + 20
                while receiver.read("out").count("INFO     Connected") < 2:  # the probe, gpsd
                    self.assertLess(time.monotonic(), deadline, "gpsd never connected")
                    time.sleep(0.01)
                with connect(gpsd_port) as client:
                    client.sendall(b'?WATCH={"enable":true,"json":true};\n')
                    with open(DEMO, "rb") as recording:
                        receiver.process.stdin.write(recording.read())
                    receiver.process.stdin.close()
                    reports = [json.loads(line) for line in read_lines_lf(client)]
            finally:
                gpsd.send_signal(signal.SIGTERM)
                gpsd.wait()
            self.assertEqual(receiver.stop()[0], 0)
        heard = sorted((o["type"], o["mmsi"]) for o in reports if o["class"] == "AIS")
        self.assertEqual(heard, sorted((o["type"], o["mmsi"]) for o in gpsdecode(DEMO_SENTENCES)))

    def test_statistics_count_the_run(self):
        status, out, _ = run("-r", DEMO, "--stats", "60", "--no-console", "--output",
                             "file:/dev/null")
        self.assertEqual(status, 0)
        lines = [line[34:] for line in out.splitlines() if "Statistics" in line]
        self.assertRegex(lines[0], r"^Statistics, channel A, whole run: 127 messages \(type 1: 9, "
                         r"2: 4, .*\), 0 frames failed their FCS, 0 messages dropped, mean level "
                         r"-8\.\d dBFS, mean offset \+[23]\d\d Hz \(\+1\.\d\d ppm\)$")
        self.assertRegex(lines[1], r"^Statistics, channel B, whole run: 126 messages")
        self.assertEqual(lines[2], "Statistics, whole run: 0 raw blocks dropped; file:/dev/null: "
                         "281 lines sent, 0 queued, 0 dropped")

    def test_times_of_arrival_keep_the_spacing_of_the_air(self):
        # The stand-in tuner delivers the recording at its pace; its stamps are UTC from the
        # first block, the recording's seconds from its start: the same spacing within a bit.
        status, out, _ = run("-r", DEMO, "--output", "file:-,format=json", "--no-console")
        from_file = {o["nmea"][0]: o["toa"] for o in map(json.loads, printed(out))}
        started = time.time()
        with Keelwave("--output", "file:-,format=json", "--no-console",
                      standin={"INPUT": DEMO}) as receiver:
            time.sleep(8.5)
            live = {o["nmea"][0]: o["toa"] for o in map(json.loads, printed(receiver.stop(
                signal.SIGTERM)[1]))}
        self.assertEqual(status, 0)
        common = sorted(set(from_file) & set(live), key=from_file.get)
        self.assertGreater(len(common), 240)
        for sentence in common:
            self.assertAlmostEqual(live[sentence] - live[common[0]],
                                   from_file[sentence] - from_file[common[0]], delta=BIT)
            self.assertAlmostEqual(live[sentence], started + from_file[sentence], delta=1)


def read_lines_lf(client, quiet=3):
    """gpsd's lines, ended by CR LF or LF, until it falls silent for `quiet` s."""
    client.settimeout(quiet)
    received = b""
    try:
        while more := client.recv(65536):
            received += more
    except socket.timeout:
        pass
    return [line for line in received.decode().splitlines() if line.startswith("{")]


if __name__ == "__main__":
    unittest.main()

"""The binary on the stand-in tuner: its report and calls, each failing call at start-up, a
capture that fails mid-run, the stop on SIGINT and SIGTERM, and the blocks it had to drop."""
import re
import signal
import tempfile
import time
import unittest

from keelwave import (DEMO, DEMO_SENTENCES, GAINS, REPORT, Keelwave, connect, free_port,
                      logged_sentences)

READ = "rtlsdr_read_async 16 102400"


class Tuner(unittest.TestCase):
    def setUp(self):
        # An empty band: half a second of I/Q pairs at the middle of the byte range.
        self.silence = tempfile.NamedTemporaryFile(suffix=".cu8")
        self.addCleanup(self.silence.close)
        self.silence.write(b"\x80" * 288000)
        self.silence.flush()

    def test_stops_in_order_on_either_signal_with_status_zero(self):
        # Both channels decode, each reporting once a second: silence gives the classic chain
        # level 0, so its gain rises a step; the sensitive one reads its floor in dBFS.
        for number, decoder, level in ((signal.SIGTERM, "classic", "0 Gain 1.01"),
                                       (signal.SIGINT, "sensitive", "-150 Gain 1")):
            with self.subTest(decoder=decoder), Keelwave(
                    "--agc", "--verbose", "--decoder", decoder,
                    standin={"INPUT": self.silence.name, "REPEAT": 0}) as run:
                for channel in "AB":
                    self.assertTrue(run.wait_for(f"INFO     Channel {channel} Level {level}\n"))
                time.sleep(0.5)  # three blocks of the tuner: a report each would be too many
                status, out, err = run.stop(number)
                self.assertEqual((status, err), (0, REPORT + "Gain: Auto\n"))
                self.assertLessEqual(out.count("INFO     Channel A Level"), 2)
                self.assertEqual(run.calls(), [
                    "rtlsdr_open 0", "rtlsdr_set_sample_rate 288000",
                    "rtlsdr_set_center_freq 162000000", "rtlsdr_get_tuner_gains null",
                    "rtlsdr_get_tuner_gains array", "rtlsdr_get_center_freq",
                    "rtlsdr_get_freq_correction", "rtlsdr_reset_buffer", READ,
                    "rtlsdr_cancel_async", "rtlsdr_close dev"])

    def test_blocks_the_channels_could_not_keep_up_with_are_counted_and_no_frame_spans_a_gap(self):
        # The real traffic far faster than the channels decode it: most blocks are lost, and
        # the messages on either side of each gap must never be read as one.
        fast = {"INPUT": DEMO, "REPEAT": 0, "PACE": 2000}
        heard = {tuple(s.split(",")[4:6]) for s in DEMO_SENTENCES}
        for decoder in "classic", "sensitive":
            with self.subTest(decoder=decoder), Keelwave(
                    "--agc", "--decoder", decoder, standin=fast) as run:
                self.assertTrue(run.wait_for(READ, "calls"))
                time.sleep(2)
                status, out, _ = run.stop(signal.SIGTERM)
                self.assertEqual(status, 0)
                dropped = r"WARNING  Dropped \d+ raw blocks in all: the channels could not keep up"
                self.assertIsNotNone(re.search(dropped, out), "no drops logged")
                sentences = logged_sentences(out)
                self.assertLessEqual({tuple(s.split(",")[4:6]) for s in sentences}, heard)

    def test_settings_reach_the_tuner(self):
        cases = [  # arguments, calls among those made, end of the tuner report
            (["--gain", "20.75"], ["rtlsdr_set_tuner_gain_mode 1", "rtlsdr_set_tuner_gain 207"],
             "Freq Correction: 0 ppm\nGain: 20.8 dB\n"),
            (["--gain=-0.05"], ["rtlsdr_set_tuner_gain -1"], "Gain: -0.1 dB\n"),
            (["--freq-correction", "0"], ["rtlsdr_set_freq_correction 0"], "Gain: Auto\n"),
            (["--freq-correction", "-12"], ["rtlsdr_set_freq_correction -12"],
             "Freq Correction: -12 ppm\nGain: Auto\n"),
            (["--device-index", "1"], ["rtlsdr_open 1"], "Gain: Auto\n"),
            (["--udp", "localhost:1"], [], "Gain: Auto\n"),
            (["--udp", "127.0.0.1:10110x", "stray"], [], "Gain: Auto\n"),
        ]
        for arguments, calls, report in cases:
            with self.subTest(arguments=arguments), Keelwave(
                    *arguments, standin={"DEVICES": 2}) as run:
                self.assertTrue(run.wait_for(READ, "calls"))
                status, _, err = run.stop(signal.SIGTERM)
                self.assertEqual(status, 0)
                self.assertTrue(err.endswith(report), err)
                self.assertLessEqual(set(calls), set(run.calls()))

    def test_a_restart_takes_the_port_again_while_the_last_run_s_client_is_still_there(self):
        port = free_port()
        with Keelwave("--net", str(port)) as first, connect(port) as client:
            self.assertTrue(first.wait_for("Connected 127.0.0.1:%d" % client.getsockname()[1]))
            self.assertEqual(first.stop(signal.SIGTERM)[0], 0)
            with Keelwave("--net", str(port)) as second:  # the old connection lingers meanwhile
                self.assertTrue(second.wait_for(READ, "calls"))
                self.assertEqual(second.stop(signal.SIGTERM)[::2], (0, REPORT + "Gain: Auto\n"))

    def test_each_failing_call_ends_the_run_with_its_message_and_status_one(self):
        auto = REPORT + "Gain: Auto\n"
        cases = [  # arguments, the failing call, standard error
            ([], "rtlsdr_open=-1:19", "Error: rtlsdr_open(): No such device\n"),
            ([], "rtlsdr_set_sample_rate=-5",
             "Error: rtlsdr_set_sample_rate(): Input/output error\n"),
            ([], "rtlsdr_set_center_freq=-5",
             "Error: rtlsdr_set_center_freq(): Input/output error\n"),
            (["--freq-correction", "0"], "rtlsdr_set_freq_correction=-2:22",
             "Error: rtlsdr_set_freq_corection(): Invalid argument\n"),
            (["--gain", "10"], "rtlsdr_get_tuner_gains=0",
             "Error: rtlsdr_get_tuner_gains(): Input/output error\n"),
            ([], "rtlsdr_get_center_freq=0",
             GAINS + "Freq: Error: rtlsdr_get_center_freq(): Input/output error\n"),
            (["--gain", "10"], "rtlsdr_set_tuner_gain_mode=-1",
             REPORT + "Error: rtlsdr_set_tuner_gain_mode(): Input/output error\n"),
            (["--gain", "10"], "rtlsdr_set_tuner_gain=-1:22",
             REPORT + "Error: rtlsdr_set_tuner_gain(): Invalid argument\n"),
            ([], "rtlsdr_reset_buffer=-1:19", auto + "Error: rtlsdr_reset_buffer(): No such device\n"),
            # A tuner pulled out mid-run: the read ends with an error after some samples.
            ([], "rtlsdr_read_async=-1:19", auto + "Error: rtlsdr_read_async(): No such device\n"),
        ]
        for arguments, failure, err in cases:
            with self.subTest(failure=failure), Keelwave(
                    "--agc", *arguments, standin={"FAIL": failure, "INPUT": self.silence.name}) as run:
                self.assertEqual(run.stop()[::2], (1, err))
                # The tuner is closed on every path, also when it never opened.
                self.assertTrue(run.calls()[-1].startswith("rtlsdr_close"))
                self.assertNotIn("rtlsdr_cancel_async", run.calls())

    def test_a_read_that_cannot_be_cancelled_ends_the_run_with_status_one(self):
        with Keelwave("--agc", standin={"FAIL": "rtlsdr_cancel_async=-1"}) as run:
            self.assertTrue(run.wait_for(READ, "calls"))
            self.assertEqual(run.stop(signal.SIGTERM)[::2], (
                1, REPORT + "Gain: Auto\nError: rtlsdr_cancel_async(): Input/output error\n"))
            # The capture thread still uses the device, so it is never closed.
            self.assertNotIn("rtlsdr_close dev", run.calls())


if __name__ == "__main__":
    unittest.main()

"""The binary on a SoapySDR device: Debian's SoapySDR and its rtlsdr module on the stand-in tuner
give at 288000 samples/s the sentences of the recording, and from a recording the transmitter
model made at four times that rate, taken down by the resampler, the same sentences again. A
tuner that stalls, local or through SoapySDR, ends the run with an ERROR line and status 1."""
import os
import signal
import subprocess
import tempfile
import time
import unittest

from keelwave import DEMO, DEMO_SENTENCES, Keelwave, logged_sentences, on_channel

SAMPLE = os.path.join(os.environ["PROJECT_DIR"], "tests", "data", "real-aivdm-sample.nmea")
# The bundled recording's own making (data/README.md), at another rate.
DEMO_MAKING = ["--snr", "20", "--carrier-offset", "300", "--ppm", "10", "--spacing", "2",
               "--leading-silence", "0.5", "--seed", "2018"]
STALLED = ("ERROR    The tuner has delivered no sample for 10 s: stalled\n",
           "Error: the tuner stalled: no sample for 10 s\n")


def until_every_sentence(receiver, count, timeout=40):
    deadline = time.monotonic() + timeout
    while len(logged_sentences(receiver.read("out"))) < count and time.monotonic() < deadline:
        time.sleep(0.1)


class Soapy(unittest.TestCase):
    def test_at_288000_and_from_four_times_that_rate_the_recording_s_sentences(self):
        with tempfile.TemporaryDirectory() as work:
            fast = os.path.join(work, "demo.cu8")
            subprocess.run([os.environ["KEELWAVE_AISGEN"], SAMPLE, "-o", fast, *DEMO_MAKING,
                            "--rate", "1152000"], check=True, capture_output=True)
            with open(os.path.join(work, "demo.expected.txt")) as expected:
                self.assertEqual(expected.read().split(), DEMO_SENTENCES)
            cases = [  # arguments, input, tuner report, calls among those made
                (["--soapy", "driver=rtlsdr"], DEMO,
                 "Sample rate: 288000 samples/s\nFreq: 162.000 MHz\nGain: Auto\n",
                 ["rtlsdr_set_sample_rate 288000", "rtlsdr_set_tuner_gain_mode 0"]),
                (["--soapy", "driver=rtlsdr,serial=00000001", "--soapy-rate", "1152000",
                  "--gain", "40.2", "--freq-correction", "-12"], fast,
                 "Sample rate: 1152000 samples/s, decimated by 4\nFreq: 162.000 MHz\n"
                 "Freq Correction: -12 ppm\nGain: 40.2 dB\n",
                 ["rtlsdr_get_index_by_serial 00000001", "rtlsdr_set_sample_rate 1152000",
                  "rtlsdr_set_freq_correction -12", "rtlsdr_set_tuner_gain_mode 1"]),
            ]
            runs = [Keelwave(*arguments, standin={"INPUT": recording})
                    for arguments, recording, _, _ in cases]  # side by side, in real time
            for (arguments, _, report, calls), receiver in zip(cases, runs):
                with self.subTest(arguments=arguments), receiver:
                    until_every_sentence(receiver, len(DEMO_SENTENCES))
                    status, out, err = receiver.stop(signal.SIGTERM)
                    self.assertEqual((status, err),
                                     (0, "SoapySDR %s: RTLSDR R820T\n" % arguments[1] + report))
                    sentences = logged_sentences(out)
                    for channel in "AB":
                        self.assertEqual(on_channel(sentences, channel),
                                         on_channel(DEMO_SENTENCES, channel))
                    self.assertLessEqual(set(calls), set(receiver.calls()))

    def test_a_tuner_that_stalls_ends_the_run_with_an_error_line_and_status_one(self):
        with tempfile.NamedTemporaryFile(suffix=".cu8") as silence:
            silence.write(b"\x80" * 288000)  # half a second, and after it nothing
            silence.flush()
            # The local tuner's read then waits without returning, as a stalled dongle's does;
            # SoapySDR's rtlsdr module keeps a failed read to itself, and its stream stays silent.
            runs = [Keelwave("--agc", standin={"INPUT": silence.name}),
                    Keelwave("--soapy", "driver=rtlsdr",
                             standin={"INPUT": silence.name, "FAIL": "rtlsdr_read_async=-1"})]
            for name, receiver in zip(("local", "SoapySDR"), runs):
                with self.subTest(tuner=name), receiver:
                    status, out, err = receiver.stop(timeout=40)
                    self.assertEqual(status, 1)
                    self.assertIn(STALLED[0], out)
                    self.assertTrue(err.endswith("Gain: Auto\n" + STALLED[1]), err)


if __name__ == "__main__":
    unittest.main()

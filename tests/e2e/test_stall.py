"""A tuner that stalls, local or through SoapySDR, delivering nothing while its read goes on:
the run ends with an ERROR line and status 1, so that a supervisor restarts it."""
import tempfile
import unittest

from keelwave import Keelwave

STALLED = ("ERROR    The tuner has delivered no sample for 10 s: stalled\n",
           "Error: the tuner stalled: no sample for 10 s\n")


class Stall(unittest.TestCase):
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

#!/usr/bin/env python3
"""The client side of the SoapyRemote test: the instrument through
driver=remote, as another computer would use it.

Usage: soapy_remote_client.py stream
       soapy_remote_client.py check SETTINGS_FILE

stream: opens remote:driver=zef on the server at 127.0.0.1:55132, reads CS16
for more than 5 s (the test pattern must run on without a gap, at 65104 S/s
within 1 %), and retunes the local oscillator to 10.1 MHz half-way.
check: the simulator's last settings frame, written by the server's process
when it ended (tests/soapy/sim_preset.cpp), carries the new LO word.
"""
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from soapy_python_test import RATE, Reader, fitted_rate  # noqa: E402

RETUNED_HZ = 10100000
SECONDS = 5.5


def lo_word(hz):
    return int(hz * 21.47483648 + 0.5) & 0xFFFFFFFF


def stream():
    import SoapySDR

    args = {"driver": "remote", "remote": "tcp://127.0.0.1:55132", "remote:driver": "zef"}
    device = SoapySDR.Device(args)
    assert device.getSampleRate(SoapySDR.SOAPY_SDR_RX, 0) == RATE
    stream = device.setupStream(SoapySDR.SOAPY_SDR_RX, SoapySDR.SOAPY_SDR_CS16, [0])
    assert device.activateStream(stream) == 0
    reader = Reader(device, stream)
    reader.read_for(0.5)  # past the start-up
    reader.samples = 0
    arrivals = []
    retuned = False
    begin = time.monotonic()
    while time.monotonic() - begin < SECONDS:
        ret = reader.read()
        assert ret > 0, f"readStream returned {ret} while streaming"
        arrivals.append((time.monotonic(), reader.samples))
        if not retuned and time.monotonic() - begin > SECONDS / 2:
            device.setFrequency(SoapySDR.SOAPY_SDR_RX, 0, RETUNED_HZ)
            retuned = True
    rate = fitted_rate(arrivals)
    print(f"read {reader.samples} samples through SoapyRemote in "
          f"{time.monotonic() - begin:.2f} s: {rate:.1f} S/s")
    assert abs(rate - RATE) / RATE < 0.01, f"measured rate {rate:.1f} S/s"
    assert device.getFrequency(SoapySDR.SOAPY_SDR_RX, 0) == RETUNED_HZ
    device.deactivateStream(stream)
    device.closeStream(stream)


def check(path):
    count, frame = open(path).read().split()
    frame = bytes.fromhex(frame)
    word = int.from_bytes(frame[13:17], "little")
    print(f"{count} settings frames; the last carries LO word {word}")
    assert int(count) >= 2, "the retune sent no settings frame"
    assert word == lo_word(RETUNED_HZ), f"LO word {word}, not {lo_word(RETUNED_HZ)}"


def main():
    if sys.argv[1] == "stream":
        stream()
    else:
        check(sys.argv[2])


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""The client side of the SoapyRemote test: the instrument through
driver=remote, as another computer would use it.

Usage: soapy_remote_client.py stream CONTROL_PIPE
       soapy_remote_client.py check SETTINGS_FILE

stream: opens remote:driver=zef on the server at 127.0.0.1:55132, asks for
145 MHz (it gets 100 MHz, without an error), reads CS16 for more than 5 s
(the test pattern must run on without a gap, at 65104 S/s within 1 %), and
retunes the local oscillator to 10.1 MHz half-way. Then what the module
throws comes back as a RemoteError and the stream goes on, and a cable
pulled in the server's process (through CONTROL_PIPE, tests/soapy/
sim_preset.cpp) gives errors until it is put back, when samples resume.
check: the simulator's last settings frame, written by the server's process
when it ended, carries the new LO word (sent again after the replug).
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


def stream(control):
    import SoapySDR

    args = {"driver": "remote", "remote": "tcp://127.0.0.1:55132", "remote:driver": "zef"}
    device = SoapySDR.Device(args)
    assert device.getSampleRate(SoapySDR.SOAPY_SDR_RX, 0) == RATE
    device.setFrequency(SoapySDR.SOAPY_SDR_RX, 0, 145e6)
    assert device.getFrequency(SoapySDR.SOAPY_SDR_RX, 0) == 100e6, "limited, and read back"
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
    survives_remote_error(SoapySDR, device, reader)
    survives_unplug(reader, control)
    device.deactivateStream(stream)
    device.closeStream(stream)


def survives_remote_error(SoapySDR, device, reader):
    try:
        device.setupStream(SoapySDR.SOAPY_SDR_RX, SoapySDR.SOAPY_SDR_CS16, [0],
                           {"remote:format": "CS8"})
    except RuntimeError as error:
        message = str(error)
        print(f"second stream refused: {message}")
        assert "RemoteError" in message and 'ZEF418: stream format "CS8"' in message, message
    else:
        raise AssertionError("a CS8 stream was set up")
    reader.read_for(0.5)  # the first stream goes on without a gap


def read_until(reader, done, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        ret = reader.read()
        if done(ret):
            return ret
    raise AssertionError(f"nothing of the kind within {seconds} s")


def survives_unplug(reader, control):
    with open(control, "w") as pipe:
        pipe.write("unplug\n")
    ret = read_until(reader, lambda ret: ret < 0 and ret != -1, 5)  # not a time-out
    print(f"with the cable pulled: readStream returns {ret}")
    with open(control, "w") as pipe:
        pipe.write("replug\n")
    reader.next_value = None  # a fresh stream after the gateware's reload
    read_until(reader, lambda ret: ret > 0, 20)
    reader.read_for(0.5)
    print("after the replug: samples again, without a gap")


def check(path):
    count, frame = open(path).read().split()
    frame = bytes.fromhex(frame)
    word = int.from_bytes(frame[13:17], "little")
    print(f"{count} settings frames; the last carries LO word {word}")
    assert int(count) >= 2, "the retune sent no settings frame"
    assert word == lo_word(RETUNED_HZ), f"LO word {word}, not {lo_word(RETUNED_HZ)}"


def main():
    if sys.argv[1] == "stream":
        stream(sys.argv[2])
    else:
        check(sys.argv[2])


if __name__ == "__main__":
    main()

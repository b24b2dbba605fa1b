#!/usr/bin/env python3
"""The "zef" module through SoapySDR's Python bindings, against the simulated
instrument in real-time mode.

Usage: soapy_python_test.py stream|overflow|file|no-driver|missing-entry SIMULATOR_LIBRARY

The simulator is loaded first (RTLD_GLOBAL), so the module's bare-name driver
load finds it; SOAPY_SDR_PLUGIN_PATH must point at the module. In file mode
the script does not touch the simulator at all: the dynamic loader finds it
through LD_LIBRARY_PATH, and it takes its set-up (test pattern, real time)
from the configuration file that ZEFSIM_CONFIG names. no-driver loads none
(and skips, exit 77, where a D2XX library is installed); missing-entry takes
a simulator that lacks FT_GetStatus.
"""
import array
import ctypes
import ctypes.util
import sys
import time

RATE = 65104
PAIRS_PER_READ = 4096


def start_simulator(path):
    sim = ctypes.CDLL(path, mode=ctypes.RTLD_GLOBAL)
    sim.zefsim_reset()
    sim.zefsim_add_device(b"ZEF418", ctypes.c_uint32(0x2101), 0, 0)
    return sim


class Reader:
    """Reads CS16 and checks that the test pattern runs on without a gap:
    pair i of frame n carries n * 512 + i (I low half, Q high half). With
    marks_allowed, an overflow mark may come, and a gap must follow it."""

    def __init__(self, device, stream):
        self.device = device
        self.stream = stream
        self.buffer = array.array("h", bytes(4 * PAIRS_PER_READ))
        self.next_value = None
        self.samples = 0
        self.marks_allowed = False
        self.marks = 0
        self.after_mark = False

    def read(self, pairs=PAIRS_PER_READ):
        result = self.device.readStream(self.stream, [self.buffer], pairs, timeoutUs=1000000)
        if result.ret > 0:
            self.check(result.ret)
        elif result.ret == -4 and self.marks_allowed:  # SOAPY_SDR_OVERFLOW
            assert not self.after_mark, "one mark per gap"
            self.after_mark = True
            self.marks += 1
            return 1
        return result.ret

    def check(self, count):
        values = self.buffer[: 2 * count]
        first = (values[0] & 0xFFFF) | (values[1] & 0xFFFF) << 16
        if self.next_value is None:
            assert first % 512 == 0, "the stream starts at a block boundary"
            self.next_value = first
        if self.after_mark:
            assert first > self.next_value, f"a mark without a gap at {first}"
            self.after_mark = False
            self.next_value = first
        assert first == self.next_value, f"gap: got {first}, expected {self.next_value}"
        for i in range(count):
            value = (values[2 * i] & 0xFFFF) | (values[2 * i + 1] & 0xFFFF) << 16
            assert value == (first + i) & 0xFFFFFFFF, f"pair {i}: {value} is not {first + i}"
        self.next_value = (first + count) & 0xFFFFFFFF
        self.samples += count

    def read_for(self, seconds):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            ret = self.read()
            assert ret > 0, f"readStream returned {ret} while streaming"


def fitted_rate(points):
    mean_t = sum(t for t, _ in points) / len(points)
    mean_n = sum(n for _, n in points) / len(points)
    covariance = sum((t - mean_t) * (n - mean_n) for t, n in points)
    variance = sum((t - mean_t) ** 2 for t, _ in points)
    return covariance / variance


def open_stream(SoapySDR, sim, stream_args):
    device = SoapySDR.Device(dict(driver="zef"))
    assert device.getSampleRate(SoapySDR.SOAPY_SDR_RX, 0) == RATE
    device.setFrequency(SoapySDR.SOAPY_SDR_RX, 0, 10.1e6)
    assert device.getFrequency(SoapySDR.SOAPY_SDR_RX, 0, "RF") == 10.1e6
    device.writeSetting("mode", "U")
    device.writeSetting("tune", "10101000")
    assert device.readSetting("tune") == "10101000"
    if sim is not None:
        sim.zefsim_set_timing(1)  # real time
    stream = device.setupStream(SoapySDR.SOAPY_SDR_RX, SoapySDR.SOAPY_SDR_CS16, [0], stream_args)
    assert device.getStreamMTU(stream) == 512
    assert device.activateStream(stream) == 0
    return device, stream


def stream_test(SoapySDR, sim):
    device, stream = open_stream(SoapySDR, sim, {})
    reader = Reader(device, stream)
    reader.read_for(0.3)  # past the start-up, reading as the samples come
    wanted = 2 * RATE
    reader.samples = 0
    # The rate is the slope of samples over arrival time, fitted over every
    # read, so the wait for the first block and the jitter of single wake-ups
    # do not count.
    arrivals = []
    begin = time.monotonic()
    while reader.samples < wanted:
        ret = reader.read(min(PAIRS_PER_READ, wanted - reader.samples))
        assert ret > 0, f"readStream returned {ret} while streaming"
        arrivals.append((time.monotonic(), reader.samples))
    elapsed = time.monotonic() - begin
    rate = fitted_rate(arrivals)
    print(f"read {reader.samples} samples in {elapsed:.3f} s, {len(arrivals)} reads: "
          f"{rate:.1f} S/s")
    assert reader.samples == wanted
    assert abs(rate - RATE) / RATE < 0.01, f"measured rate {rate:.1f} S/s"
    device.deactivateStream(stream)
    device.closeStream(stream)


def pause_for_blocks(device, blocks):
    """Reads nothing until `blocks` more blocks have arrived: the stream's
    hardware time follows what arrives."""
    until = device.getHardwareTime() + blocks * 512 * 1e9 / RATE
    deadline = time.monotonic() + 10
    while device.getHardwareTime() < until:
        assert time.monotonic() < deadline, "no blocks arrive"
        time.sleep(0.005)


def overflow_test(SoapySDR, sim):
    device, stream = open_stream(SoapySDR, sim, {"buffers": "16"})
    reader = Reader(device, stream)
    reader.read_for(0.3)
    pause_for_blocks(device, 64)  # 16 are kept
    ret = reader.read()
    assert ret == SoapySDR.SOAPY_SDR_OVERFLOW, f"expected an overflow, got {ret}"
    reader.next_value = None  # the gap lies before the mark
    # Then good samples again. A reader that falls 126 ms behind on a busy
    # machine overflows again: a second mark, with its gap after it.
    reader.marks_allowed = True
    reader.read_for(1.0)
    assert reader.marks < 5, f"{reader.marks} overflows in a second of reading"
    print(f"after the overflow: {reader.samples} samples, {reader.marks} more overflow(s)")
    device.deactivateStream(stream)
    device.closeStream(stream)


def expect_make_failure(*parts):
    import SoapySDR

    try:
        SoapySDR.Device(dict(driver="zef"))
    except RuntimeError as error:
        message = str(error)
        print(message)
        assert "\n" not in message, "one line"
        for part in parts:
            assert part in message, f"missing from the message: {part}"
        return
    raise AssertionError("make succeeded")


def main():
    mode, simulator = sys.argv[1], sys.argv[2]
    if mode == "no-driver":
        if ctypes.util.find_library("ftd2xx") or ctypes.util.find_library("lin_ftd2xx"):
            print("a D2XX library is installed: skipped")
            sys.exit(77)
        expect_make_failure("ZEF418: no D2XX driver library could be loaded",
                            "install FTDI's D2XX driver so that the dynamic loader finds")
    elif mode == "missing-entry":
        ctypes.CDLL(simulator, mode=ctypes.RTLD_GLOBAL).zefsim_reset()
        expect_make_failure("ZEF418: FTDI's D2XX library lacks the entry point FT_GetStatus "
                            "(status 137); D2XX library ", "libftd2xx.so",
                            "install a complete D2XX library")
    else:
        sim = None if mode == "file" else start_simulator(simulator)
        import SoapySDR  # after the simulator, so the driver load finds it

        {"stream": stream_test, "overflow": overflow_test, "file": stream_test}[mode](SoapySDR, sim)
    print("1 passed, 0 failed")


if __name__ == "__main__":
    main()

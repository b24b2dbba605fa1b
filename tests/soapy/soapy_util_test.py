#!/usr/bin/env python3
"""SoapySDRUtil with the "zef" module and the simulated instrument.

Usage: soapy_util_test.py find|probe SOAPYSDRUTIL MODULE SIMULATOR PRESET

SoapySDRUtil cannot configure the simulator, so the preset library (preloaded
after the simulator) adds the devices named in ZEF_TEST_SIM_DEVICES.
"""
import os
import re
import subprocess
import sys

DEVICES = "FT232R USB UART@0x1001,ZEF418@0x2101,Digital Oscilloscope@0x1003"


def run_util(util, module, simulator, preset, option):
    env = dict(os.environ)
    env["SOAPY_SDR_PLUGIN_PATH"] = module
    env["LD_PRELOAD"] = f"{simulator}:{preset}"
    env["ZEF_TEST_SIM_DEVICES"] = DEVICES
    done = subprocess.run([util, option], env=env, capture_output=True, text=True, timeout=60)
    print(done.stdout)
    print(done.stderr, file=sys.stderr)
    assert done.returncode == 0, f"SoapySDRUtil exited with {done.returncode}"
    return done.stdout


def expect(output, *patterns):
    for pattern in patterns:
        assert re.search(pattern, output), f"missing from the output: {pattern}"


def main():
    mode, util, module, simulator, preset = sys.argv[1:6]
    if mode == "find":
        output = run_util(util, module, simulator, preset, "--find=driver=zef")
        expect(output, r"Found device 0", r"driver = zef", r"description = ZEF418",
               r"location = 0x2101", r"label = ZEF418 @ 0x2101")
        assert "Found device 1" not in output, "only the instrument is listed"
        assert "0x1001" not in output and "0x1003" not in output
    else:
        output = run_util(util, module, simulator, preset, "--probe=driver=zef")
        expect(output, r"driver=zef", r"hardware=ZEF418", r"Channels: 1 Rx",
               r"Stream formats: CS16, CF32", r"Native format: CS16 \[full-scale=32768\]",
               r"Antennas: RX", r"RF freq range: \[0, 100\] MHz",
               r"Sample rates: 0\.065104 MSps", r"key=tune, units=Hz",
               r"key=mode, default=none, type=string, options=\(none, C, U, L, A, F, E\)",
               r"gateware=placeholder: this build cannot bring up a real instrument",
               r"gateware_sha256=[0-9a-f]{64}\n", r"driver_library=libftd2xx\.so",
               r"calibration_codes=two-point 0x8000, three-point 0x8000, five-point 0x8000")
    print("1 passed, 0 failed")


if __name__ == "__main__":
    main()

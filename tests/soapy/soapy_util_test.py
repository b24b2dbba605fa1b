#!/usr/bin/env python3
"""SoapySDRUtil with the "zef" module and the simulated instrument.

Usage: soapy_util_test.py find|probe|file-find|file-rate SOAPYSDRUTIL MODULE SIMULATOR PRESET

SoapySDRUtil cannot configure the simulator: in find and probe the preset
library (preloaded after the simulator) adds the devices named in
ZEF_TEST_SIM_DEVICES; the file- modes give the simulator nothing but its
configuration file, as a user trying the module without the instrument
does (the simulator found through LD_LIBRARY_PATH, nothing preloaded).
"""
import os
import re
import subprocess
import sys
import tempfile

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


def run_with_file(util, module, simulator, config, args, seconds=None):
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "zefsim.conf")
        with open(path, "w") as file:
            file.write(config)
        env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
        env.update(SOAPY_SDR_PLUGIN_PATH=module, ZEFSIM_CONFIG=path,
                   LD_LIBRARY_PATH=os.path.dirname(simulator))
        command = [util] + args
        if seconds:  # the rate test runs until interrupted
            command = ["timeout", "-s", "INT", str(seconds)] + command
        done = subprocess.run(command, env=env, capture_output=True, text=True, timeout=60)
    print(done.stdout)
    print(done.stderr, file=sys.stderr)
    return done


def expect(output, *patterns):
    for pattern in patterns:
        assert re.search(pattern, output), f"missing from the output: {pattern}"


def main():
    mode, util, module, simulator, preset = sys.argv[1:6]
    if mode == "file-find":
        config = "".join(f"device = {d.replace('@', ' @ ')}\n" for d in DEVICES.split(","))
        done = run_with_file(util, module, simulator, config, ["--find=driver=zef"])
        assert done.returncode == 0, f"SoapySDRUtil exited with {done.returncode}"
        expect(done.stdout, r"Found device 0", r"description = ZEF418", r"location = 0x2101")
        assert "Found device 1" not in done.stdout, "only the instrument is listed"
    elif mode == "file-rate":
        # 0.8.1 prints the rate about every 5 s and fails on the interrupt;
        # the gateware takes 4.4 s on the simulated full-speed bus first.
        done = run_with_file(util, module, simulator, "timing = realtime\n",
                             ["--args=driver=zef", "--rate=65104", "--direction=RX"], seconds=12)
        rates = [float(r) * 1e6 for r in re.findall(r"([0-9.]+) Msps\t", done.stdout)]
        assert rates, "no rate printed"
        assert all(abs(r - 65104) / 65104 < 0.01 for r in rates), f"rates {rates}"
    elif mode == "find":
        output = run_util(util, module, simulator, preset, "--find=driver=zef")
        expect(output, r"Found device 0", r"driver = zef", r"description = ZEF418",
               r"location = 0x2101", r"label = ZEF418 @ 0x2101")
        assert "Found device 1" not in output, "only the instrument is listed"
        assert "0x1001" not in output and "0x1003" not in output
    else:
        output = run_util(util, module, simulator, preset, "--probe=driver=zef")
        expect(output, r"driver=zef", r"hardware=ZEF418", r"Channels: 1 Rx",
               r"Stream formats: CS16, CF32", r"Native format: CS16 \[full-scale=32768\]",
               r"Antennas: RX", r"Corrections: DC removal\n", r"RF freq range: \[0, 100\] MHz",
               r"Sample rates: 0\.065104 MSps", r"Timestamps: YES", r"key=tune, units=Hz",
               r"key=mode, default=none, type=string, options=\(none, C, U, L, A, F, E\)",
               r"gateware=placeholder: this build cannot bring up a real instrument",
               r"gateware_sha256=[0-9a-f]{64}\n", r"driver_library=/\S*/libftd2xx\.so",
               r"calibration_codes=two-point 0x8000, three-point 0x8000, five-point 0x8000")
    print("1 passed, 0 failed")


if __name__ == "__main__":
    main()

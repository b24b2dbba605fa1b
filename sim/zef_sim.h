/* Control interface of the simulated ZEF418 instrument.
 *
 * Both flavours of the simulated driver (libftd2xx / ftd2xx.dll with the FT_
 * names, liblin_ftd2xx / lin_ftd2xx.dll with the lin_FT_ names) export these
 * functions next to their D2XX entry points. Tests, benchmarks and the host
 * tool reach them with dlsym/GetProcAddress on the loaded simulator, or by
 * linking it. All functions are thread-safe. A program that calls none of
 * them gets the starting state of sim/starting_state.h (a configuration file,
 * or one ZEF418) instead of this interface's empty one. */
#ifndef ZEF_SIM_H
#define ZEF_SIM_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#define ZEFSIM_API __declspec(dllexport)
#define ZEFSIM_CALL __cdecl
#else
#define ZEFSIM_API __attribute__((visibility("default")))
#define ZEFSIM_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Sample content of the device's sample frames. */
enum zefsim_signal {
    /* Pair i of sample frame n (n counts from 0 after each configuration)
     * carries the 32-bit value n * 512 + i: I is its low half, Q its high
     * half, both as int16 bit patterns. */
    ZEFSIM_TEST_PATTERN = 0,
    /* A carrier at the configured radio frequency, mixed down with the
     * local-oscillator word of the last accepted settings frame, plus low
     * noise. */
    ZEFSIM_SIGNAL = 1
};

enum zefsim_timing {
    ZEFSIM_FAST = 0, /* frames produced as fast as they are read */
    /* the instrument's rate, through a bridge and driver that behave as
     * FTDI's do (zefsim_set_transfer_size); FT_Read waits up to its read
     * time-out (FT_SetTimeouts; none until set, and 0 is none) for what is
     * not queued; bit-bang bytes leave at the baud rate, no faster than a
     * full-speed bus carries them (1.216 MB/s) */
    ZEFSIM_REALTIME = 1
};

enum zefsim_fault {
    ZEFSIM_CORRUPT_RATE = 0, /* probability per sent byte of flipping one bit */
    ZEFSIM_DROP_RATE = 1,    /* probability per sent byte of losing it */
    ZEFSIM_WRITE_LIMIT = 2,  /* accept at most this many bytes per FT_Write (0: no limit) */
    ZEFSIM_FAIL_WRITES = 3,  /* the next N FT_Write calls fail with FT_IO_ERROR */
    ZEFSIM_NEVER_READY = 4,  /* 1: never send the ready status after configuration */
    ZEFSIM_NEVER_ACK = 5,    /* 1: never acknowledge a settings frame */
    ZEFSIM_ZERO_WRITES = 6   /* the next N FT_Write calls succeed but accept 0 bytes */
};

struct zefsim_counters {
    uint64_t sample_frames_sent; /* sample frames put on the wire */
    uint64_t status_frames_sent;
    uint64_t bytes_sent; /* bytes put on the wire (after drops) */
    uint64_t bytes_corrupted;
    uint64_t bytes_dropped;
    uint64_t settings_received; /* good settings frames */
    uint64_t settings_rejected; /* bad length byte or CRC */
    uint64_t configs_accepted;  /* FPGA loads that carried a valid image */
    uint64_t configs_rejected;
    uint64_t start_commands;   /* A5 00 00 received in normal mode */
    uint64_t events_signalled; /* registered RxEvent signals */
    uint64_t opens;
    uint64_t closes;
    uint64_t bitbang_bytes; /* bytes written in bit-bang mode */
    /* calls that passed a handle after it was closed: with FTDI's driver
     * the handle is freed memory by then */
    uint64_t closed_handle_calls;
    uint64_t event_signal_failures; /* Windows refused the registered event */
    /* good settings frames that arrived while the gateware was still
     * starting, and were lost */
    uint64_t settings_unheard;
    /* sample frames the gateware never sent because its output FIFO (64
     * frames) was full: the line is slower than the samples (a baud rate
     * below 3 MBd), or the bridge held it for half a second (the driver's
     * receive buffer full, its IN task stopped) */
    uint64_t sample_frames_overrun;
    /* real time: USB transfers that completed with data bytes, each one
     * registered-event signal */
    uint64_t rx_transfers;
    /* always 0: the driver asks for no more than its receive buffer holds,
     * and the bridge holds the line meanwhile (kept for the layout) */
    uint64_t rx_overflow_bytes;
};

/* Back to the initial state: no devices, no faults, counters zero, fast
 * timing, test pattern, model 0, zero calibration blocks. Closes open
 * handles. */
ZEFSIM_API void ZEFSIM_CALL zefsim_reset(void);

/* Adds a device to the driver's list; returns its index. `held`: another
 * program holds it (opens fail with FT_DEVICE_NOT_OPENED). `cts`: CTS set in
 * the modem status. */
ZEFSIM_API int ZEFSIM_CALL zefsim_add_device(const char* description, uint32_t location, int held,
                                             int cts);

ZEFSIM_API void ZEFSIM_CALL zefsim_set_timing(int timing);
ZEFSIM_API void ZEFSIM_CALL zefsim_set_signal(int signal, double carrier_hz, double amplitude);
ZEFSIM_API void ZEFSIM_CALL zefsim_set_model(uint16_t model);
/* The two 64-byte calibration blocks as sent, CRC bytes included (so tests
 * can send damaged blocks). `zefsim_seal_block` writes a block's CRC. */
ZEFSIM_API void ZEFSIM_CALL zefsim_set_calibration(const uint8_t block_a[64],
                                                   const uint8_t block_b[64]);
ZEFSIM_API void ZEFSIM_CALL zefsim_seal_block(uint8_t block[64]);

ZEFSIM_API void ZEFSIM_CALL zefsim_set_fault(int fault, double value);

/* How long the gateware needs after its start command before it listens:
 * the ready status and the samples come only after it, and a settings frame
 * that arrives before it is lost (counted as settings_unheard). 0 (the
 * initial state): at once. */
ZEFSIM_API void ZEFSIM_CALL zefsim_set_gateware_startup_ms(uint32_t ms);

/* The driver's receive side in real time. The bridge sends 64-byte USB
 * packets (two status bytes, up to 62 data bytes) at the baud rate and
 * latency timer the program sets with FT_SetBaudRate and FT_SetLatencyTimer
 * (9600 Bd and 16 ms until it does). The driver collects them into IN
 * transfers of `bytes` bytes, status bytes included, as FT_SetUSBParameters
 * counts them: a multiple of 64 from 64 to 65536, 4096 by default. A
 * transfer completes when it is full or a short packet ends it; only then do
 * its data bytes become readable, and the registered event is signalled once
 * for it, from the driver's own thread. */
ZEFSIM_API void ZEFSIM_CALL zefsim_set_transfer_size(uint32_t bytes);
/* The receive buffer's size in data bytes, 4096 to 64 MiB (4 MiB by
 * default). As FTDI's driver does, it asks for no transfer that the buffer
 * has no room for; the bridge then holds the line, and what the gateware's
 * FIFO cannot keep meanwhile is lost and counted (sample_frames_overrun). */
ZEFSIM_API void ZEFSIM_CALL zefsim_set_receive_capacity(uint32_t bytes);

/* Cable pull: calls on the open handle fail with FT_IO_ERROR and the device
 * leaves the list until it is replugged. Replug brings it back unconfigured. */
ZEFSIM_API void ZEFSIM_CALL zefsim_unplug(int index);
ZEFSIM_API void ZEFSIM_CALL zefsim_replug(int index);

ZEFSIM_API void ZEFSIM_CALL zefsim_get_counters(struct zefsim_counters* out);

/* The last good settings frame (65 bytes); returns how many settings frames
 * were received (0: `out` untouched). */
ZEFSIM_API uint64_t ZEFSIM_CALL zefsim_last_settings(uint8_t out[65]);

/* The image rebuilt from the last bit-bang load: copies up to `capacity`
 * bytes, returns its full length. */
ZEFSIM_API size_t ZEFSIM_CALL zefsim_config_image(uint8_t* out, size_t capacity);

/* Port set-up and control calls as text, one per line, e.g.
 * "FT_SetBaudRate 3000000" or "FT_SetFlowControl 0x0100 0x13 0x17"; copies up
 * to `capacity` bytes (zero-terminated), returns the full length. Reads and
 * writes are not logged. Every call is logged, failed ones too, under its
 * plain FT_ name in both flavours:
 *   FT_CreateDeviceInfoList       FT_ListDevices 0 0x40000004
 *   FT_Open 0                     FT_OpenEx 0x1234 4 (location) / FT_OpenEx "ZEF418" 2
 *   FT_Close   FT_ResetDevice   FT_SetRts   FT_GetModemStatus   FT_CyclePort
 *   FT_SetBaudRate 3000000        FT_SetDataCharacteristics 8 0 0
 *   FT_SetFlowControl 0x0100 0x13 0x17                FT_SetTimeouts 500 500
 *   FT_SetLatencyTimer 2          FT_SetEventNotification 0x01
 *   FT_SetBitMode 0x85 1          FT_Purge 0x01   FT_StopInTask   FT_RestartInTask
 *   FT_SetChars 0x00 0 0x00 0     FT_GetStatus (repeats in a row logged once)
 * FT_GetQueueStatus is not logged. */
ZEFSIM_API size_t ZEFSIM_CALL zefsim_call_log(char* out, size_t capacity);

/* Timestamps on the simulator's clock, which is zef::platform::nowMicroseconds
 * (monotonic, microseconds): when the last good settings frame was received,
 * and when sample frame n (test-pattern numbering) became readable at the
 * driver; 0 when unknown (the last 4096 frames are kept). */
ZEFSIM_API uint64_t ZEFSIM_CALL zefsim_last_settings_time_us(void);
ZEFSIM_API uint64_t ZEFSIM_CALL zefsim_frame_time_us(uint64_t n);

#ifdef __cplusplus
}
#endif

#endif /* ZEF_SIM_H */

// A device session: one successful open, from the open to the close that
// ends it. Sessions begin and end here, and only here do the flags that
// belong to one change (deviceReady, configNeeded, settingsAcked); the rest
// of the core reads the flags and calls these functions. The rules:
//
// - A session begins in the open's hold of the driver lock: deviceReady is
//   lowered (this device has not reported ready yet), the session gets a new
//   id, and only then is configNeeded raised, so the worker's load takes this
//   session and not the closed one.
// - A handle is used only under the driver lock while its session is the open
//   one and no load is pending (onLink, device_link.h): no call reaches a
//   closed handle, nothing but the load reaches a device before its load, and
//   a status stored in that hold of the lock belongs to that handle.
// - The worker takes the load request, which lowers configNeeded before the
//   load, so a reopen during the load asks for another. From the open until
//   its load ends the load is under way, and a repeated InitHW leaves the
//   device and the host's local oscillator alone.
// - Bytes read in one session are parsed in that session or dropped: the
//   parser starts afresh with each session, and a status frame raises
//   deviceReady or settingsAcked only while the session it was read in is
//   still the open one.
#pragma once

#include <cstdint>

namespace zef {

using LinkSession = std::uint64_t;
inline constexpr LinkSession kNoLink = 0;

// The open session; kNoLink while none is open.
LinkSession currentLink();
// True while a handle from a successful open is held.
bool portOpen();

// Under the driver lock, by a successful open: a session whose device needs
// its FPGA load.
LinkSession beginDeviceSession();
// Under the driver lock: a session for a handle opened outside the open
// (drivers inside a test), with its flags left as they are.
LinkSession beginAdoptedSession();
// Under the driver lock: ends the open session; false when none was open.
bool endDeviceSession();

// configNeeded: a load was asked for that the worker has not taken yet.
bool loadPending();
// The worker, before a load: takes the request (lowering configNeeded) and
// returns the session to load, or kNoLink when none was asked for.
LinkSession takeLoadRequest();
// The worker: the load that takeLoadRequest gave has ended, however.
void loadEnded(LinkSession link);
// From the open until its load ends.
bool loadUnderWay();

// The parser: a good status frame with `stateCode` (2 ready, 3 settings
// accepted), read in `link`; kNoLink for bytes that came from no device.
void reportDeviceState(LinkSession link, std::uint8_t stateCode);
// The settings frame, after its write: the next acknowledgement counts.
void expectAcknowledgement();

} // namespace zef

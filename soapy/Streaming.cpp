// The receive stream. The core hands each block of 512 pairs to onBlock on
// its worker thread; onBlock copies it into the stream's preallocated ring,
// and readStream takes samples out of it. The core's block handler has no
// user pointer, so the one set-up stream is process-wide.
#include "BlockRing.hpp"
#include "DcBlocker.hpp"
#include "LinkWatch.hpp"
#include "ZefDevice.hpp"

#include <SoapySDR/Formats.hpp>
#include <SoapySDR/Logger.hpp>
#include <SoapySDR/Time.hpp>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <stdexcept>

namespace zef::soapy {

namespace {

constexpr std::size_t kDefaultBufferBlocks = 128; // about two seconds
constexpr std::size_t kMaxBufferBlocks = 8192;
// A waiting reader looks at the link this often.
constexpr std::chrono::milliseconds kWatchSlice{100};
constexpr double kDcCornerHz = 10.0;
constexpr long kDayUs = 86400L * 1000000L;

struct ZefStream {
    ZefStream(bool floats, std::size_t blocks)
        : floatSamples(floats), ring(blocks, kBlockPairs), dc(kDcCornerHz, kStreamRate) {}

    bool floatSamples;
    BlockRing ring;
    DcBlocker dc; // used by the reader alone
    bool dcOn = false;
    // What the reader took since activation, for the line at deactivation.
    struct Taken {
        std::uint64_t activatedUs = 0;
        std::uint64_t samples = 0;
        std::uint64_t overflows = 0;
        std::uint64_t outages = 0;
    } taken;
};

// Shared between the worker (callback) and the reader. The lock is held only
// for copies, so the worker never waits long.
struct StreamHub {
    std::mutex lock;
    std::condition_variable arrived;
    ZefStream* stream = nullptr;
    bool active = false;
    std::uint64_t lastBlockUs = 0; // steady clock; activation counts as a block
    // The next block is the first after a reopen: its time jumps by the outage.
    bool resync = false;
    std::uint64_t endTicks = 0;      // the stream's time at the end of its last block
    std::uint64_t reportedTicks = 0; // the latest hardware time handed out
};

// Never destroyed: a program may exit without unmaking the device while the
// worker or a reader still uses them.
StreamHub& hub = *new StreamHub;
LinkWatch& linkWatch = *new LinkWatch;

// Blocks of 512 the instrument sent while it was away, judged by the clock.
std::uint64_t blocksMissed(std::uint64_t gapUs) {
    const double blocks = static_cast<double>(gapUs) * kStreamRate / 1e6 / kBlockPairs;
    const auto missed = std::llround(blocks) - 1;
    return missed > 0 ? static_cast<std::uint64_t>(missed) : 0;
}

ZefStream* asZef(SoapySDR::Stream* stream) {
    return reinterpret_cast<ZefStream*>(stream);
}

// A count out of range is limited to it; anything else keeps the default.
std::size_t bufferBlocks(const SoapySDR::Kwargs& args) {
    const auto given = args.find("buffers");
    if (given == args.end()) {
        return kDefaultBufferBlocks;
    }
    const std::string& text = given->second;
    unsigned long long blocks = 0;
    const auto [stop, fault] = std::from_chars(text.data(), text.data() + text.size(), blocks);
    if (text.empty() || stop != text.data() + text.size() ||
        (fault != std::errc() && fault != std::errc::result_out_of_range)) {
        SoapySDR::logf(SOAPY_SDR_WARNING,
                       "ZEF418: stream argument buffers=%s is not a block count; %zu blocks kept",
                       text.c_str(), kDefaultBufferBlocks);
        return kDefaultBufferBlocks;
    }
    const std::size_t limited = fault == std::errc::result_out_of_range
                                    ? kMaxBufferBlocks
                                    : std::clamp<std::size_t>(blocks, 2, kMaxBufferBlocks);
    if (fault != std::errc() || limited != blocks) {
        SoapySDR::logf(SOAPY_SDR_WARNING,
                       "ZEF418: stream argument buffers=%s is beyond 2 to 8192; %zu blocks kept",
                       text.c_str(), limited);
    }
    return limited;
}

// One line when a stream stops, so that a user sees what the program took.
void logSummary(const ZefStream::Taken& stream) {
    const double seconds = static_cast<double>(steadyMicroseconds() - stream.activatedUs) / 1e6;
    SoapySDR::logf(SOAPY_SDR_INFO,
                   "ZEF418: stream stopped after %.1f s: %llu samples read (%.0f S/s), %llu "
                   "overflow(s), %llu outage(s)",
                   seconds, static_cast<unsigned long long>(stream.samples),
                   seconds > 0 ? static_cast<double>(stream.samples) / seconds : 0.0,
                   static_cast<unsigned long long>(stream.overflows),
                   static_cast<unsigned long long>(stream.outages));
}

} // namespace

void onBlock(const std::int16_t* pairs) {
    const std::uint64_t now = steadyMicroseconds();
    {
        std::lock_guard<std::mutex> guard(hub.lock);
        if (hub.stream == nullptr || !hub.active) {
            return;
        }
        if (hub.resync) {
            hub.resync = false;
            hub.stream->ring.skip(blocksMissed(now - hub.lastBlockUs));
        }
        hub.stream->ring.push(pairs);
        hub.endTicks = hub.stream->ring.endElement();
        hub.lastBlockUs = now;
    }
    hub.arrived.notify_one();
}

void detachStream() {
    {
        std::lock_guard<std::mutex> guard(hub.lock);
        hub.stream = nullptr;
        hub.active = false;
        hub.endTicks = 0;
        hub.reportedTicks = 0;
    }
    hub.arrived.notify_all();
}

std::vector<std::string> ZefDevice::getStreamFormats(int direction, size_t channel) const {
    if (direction != SOAPY_SDR_RX || channel != 0) {
        return {};
    }
    return {SOAPY_SDR_CS16, SOAPY_SDR_CF32};
}

std::string ZefDevice::getNativeStreamFormat(int /*direction*/, size_t /*channel*/,
                                             double& fullScale) const {
    fullScale = kFullScale;
    return SOAPY_SDR_CS16;
}

SoapySDR::ArgInfoList ZefDevice::getStreamArgsInfo(int /*direction*/, size_t /*channel*/) const {
    SoapySDR::ArgInfo buffers;
    buffers.key = "buffers";
    buffers.name = "Buffered blocks";
    buffers.description = "Blocks of 512 samples held for a slow reader before the oldest "
                          "are dropped";
    buffers.type = SoapySDR::ArgInfo::INT;
    buffers.value = std::to_string(kDefaultBufferBlocks);
    buffers.range = SoapySDR::Range(2, kMaxBufferBlocks);
    return {buffers};
}

SoapySDR::Stream* ZefDevice::setupStream(int direction, const std::string& format,
                                         const std::vector<size_t>& channels,
                                         const SoapySDR::Kwargs& args) {
    if (direction != SOAPY_SDR_RX) {
        throw std::invalid_argument("ZEF418: the instrument only receives");
    }
    if (channels.size() > 1 || (channels.size() == 1 && channels[0] != 0)) {
        throw std::invalid_argument("ZEF418: only receive channel 0 exists");
    }
    if (format != SOAPY_SDR_CS16 && format != SOAPY_SDR_CF32) {
        throw std::invalid_argument("ZEF418: stream format \"" + format +
                                    "\" is not supported (CS16, CF32)");
    }
    auto* stream = new ZefStream(format == SOAPY_SDR_CF32, bufferBlocks(args));
    {
        std::lock_guard<std::mutex> guard(hub.lock);
        if (hub.stream != nullptr) {
            delete stream;
            throw std::runtime_error("ZEF418: one stream per device; close the other first");
        }
        hub.stream = stream;
        hub.active = false;
        hub.endTicks = 0; // a new stream's time starts at 0
        hub.reportedTicks = 0;
    }
    return reinterpret_cast<SoapySDR::Stream*>(stream);
}

void ZefDevice::closeStream(SoapySDR::Stream* stream) {
    bool wasActive = false;
    {
        std::lock_guard<std::mutex> guard(hub.lock);
        if (hub.stream == asZef(stream)) {
            wasActive = hub.active;
            hub.stream = nullptr;
            hub.active = false;
        }
    }
    // A reader that waits on it returns without touching it again.
    hub.arrived.notify_all();
    if (wasActive) {
        instrument::stop();
        logSummary(asZef(stream)->taken);
    }
    // The callback and the readers only reach a stream through the hub,
    // under its lock.
    delete asZef(stream);
}

size_t ZefDevice::getStreamMTU(SoapySDR::Stream* /*stream*/) const {
    return kStreamMtu;
}

int ZefDevice::activateStream(SoapySDR::Stream* stream, int flags, long long /*timeNs*/,
                              size_t /*numElems*/) {
    if (flags != 0) {
        SoapySDR::logf(SOAPY_SDR_ERROR,
                       "ZEF418: activateStream: timed and burst starts (flags 0x%x) are not "
                       "supported; activate with flags 0",
                       static_cast<unsigned>(flags));
        return SOAPY_SDR_NOT_SUPPORTED;
    }
    {
        std::lock_guard<std::mutex> guard(hub.lock);
        if (hub.stream != asZef(stream)) {
            SoapySDR::log(SOAPY_SDR_ERROR, "ZEF418: activateStream: not this device's stream; "
                                           "set one up with setupStream first");
            return SOAPY_SDR_STREAM_ERROR;
        }
        ZefStream& zef = *hub.stream;
        zef.ring.clear();
        zef.dc.reset();
        zef.taken = {};
        zef.taken.activatedUs = steadyMicroseconds();
        hub.active = true;
        hub.lastBlockUs = zef.taken.activatedUs;
        hub.resync = false;
        hub.endTicks = 0;
        hub.reportedTicks = 0;
    }
    hub.arrived.notify_all();
    linkWatch.reset();
    const std::uint32_t status = instrument::start();
    if (status != 0) {
        SoapySDR::logf(SOAPY_SDR_ERROR,
                       "ZEF418: activateStream: the instrument is gone and could not be "
                       "reopened, %s; plug it in and activate the stream again",
                       instrument::describeStatus(status).c_str());
        deactivateStream(stream, 0, 0);
        return SOAPY_SDR_STREAM_ERROR;
    }
    return 0;
}

int ZefDevice::deactivateStream(SoapySDR::Stream* stream, int flags, long long /*timeNs*/) {
    if (flags != 0) {
        return SOAPY_SDR_NOT_SUPPORTED;
    }
    instrument::stop();
    std::optional<ZefStream::Taken> taken;
    {
        std::lock_guard<std::mutex> guard(hub.lock);
        if (hub.stream == asZef(stream)) {
            if (hub.active) {
                taken = hub.stream->taken;
            }
            hub.active = false;
            hub.stream->ring.clear();
        }
    }
    hub.arrived.notify_all();
    if (taken) {
        logSummary(*taken); // a log handler may be slow: never under the lock
    }
    return 0;
}

int ZefDevice::readStream(SoapySDR::Stream* stream, void* const* buffs, size_t numElems, int& flags,
                          long long& timeNs, long timeoutUs) {
    flags = 0;
    ZefStream* zefStream = asZef(stream);
    const auto begun = std::chrono::steady_clock::now();
    // A day at most: LONG_MAX microseconds would overflow the clock.
    const auto deadline = begun + std::chrono::microseconds(std::clamp(timeoutUs, 0L, kDayUs));
    const auto idleDeadline = std::min(deadline, begun + kIdleWait);
    bool sawActive = false;
    std::unique_lock<std::mutex> guard(hub.lock);
    for (;;) {
        // Closed while this read waited, or never this device's: the stream
        // is not touched.
        if (hub.stream != zefStream) {
            return SOAPY_SDR_STREAM_ERROR;
        }
        if (hub.active && zefStream->ring.readable()) {
            break;
        }
        if (!hub.active && sawActive) {
            return SOAPY_SDR_TIMEOUT; // deactivated while this read waited
        }
        bool lost = false;
        if (hub.active) {
            sawActive = true;
            // The core is called without the stream's lock: its worker may be
            // on its way into onBlock.
            const std::uint64_t silentSince = hub.lastBlockUs;
            guard.unlock();
            const LinkWatch::Verdict verdict = linkWatch.watch(steadyMicroseconds(), silentSince);
            guard.lock();
            const bool same = hub.stream == zefStream;
            if (verdict == LinkWatch::Verdict::LostNow) {
                zefStream->taken.outages += same ? 1 : 0;
                return SOAPY_SDR_STREAM_ERROR;
            }
            lost = verdict == LinkWatch::Verdict::StillLost;
            hub.resync = hub.resync || verdict == LinkWatch::Verdict::Reopened;
            if (!same || !hub.active || zefStream->ring.readable()) {
                continue; // changed meanwhile: judged again above
            }
        }
        const auto now = std::chrono::steady_clock::now();
        // Back, but loading its gateware again: seconds with a real one.
        const bool reloading = hub.resync;
        const auto until = hub.active && !lost && !reloading ? deadline : idleDeadline;
        if (now >= until) {
            return lost ? SOAPY_SDR_STREAM_ERROR : SOAPY_SDR_TIMEOUT;
        }
        hub.arrived.wait_until(guard, std::min(until, now + kWatchSlice));
    }
    BlockRing& ring = zefStream->ring;
    if (ring.takeOverflow()) {
        ++zefStream->taken.overflows;
        return SOAPY_SDR_OVERFLOW;
    }
    timeNs = SoapySDR::ticksToTimeNs(static_cast<long long>(ring.nextElement()), kStreamRate);
    flags |= SOAPY_SDR_HAS_TIME;
    const std::size_t wanted = std::min<std::size_t>(numElems, INT_MAX);
    bool split = false;
    std::size_t got = 0;
    // The blocker starts afresh whenever it is turned on.
    const bool dcOn = dcRemoval_.load();
    if (dcOn && !zefStream->dcOn) {
        zefStream->dc.reset();
    }
    zefStream->dcOn = dcOn;
    if (zefStream->floatSamples) {
        auto* out = static_cast<float*>(buffs[0]);
        got = ring.read(out, wanted, split, [](std::int16_t value) {
            return static_cast<float>(value) / static_cast<float>(kFullScale);
        });
        if (dcOn) {
            zefStream->dc.apply(out, got);
        }
    } else {
        auto* out = static_cast<std::int16_t*>(buffs[0]);
        got = ring.read(out, wanted, split, [](std::int16_t value) { return value; });
        if (dcOn) {
            zefStream->dc.apply(out, got);
        }
    }
    zefStream->taken.samples += got;
    if (split) {
        flags |= SOAPY_SDR_MORE_FRAGMENTS;
    }
    return static_cast<int>(got);
}

bool ZefDevice::hasHardwareTime(const std::string& what) const {
    return what.empty();
}

long long ZefDevice::getHardwareTime(const std::string& what) const {
    if (!what.empty()) {
        return 0; // no such source: as the base class answers
    }
    std::lock_guard<std::mutex> guard(hub.lock);
    const std::uint64_t now = steadyMicroseconds(); // not before the last block's stamp
    std::uint64_t ticks = hub.endTicks;
    if (hub.active) {
        // The next block is due one block after the last: no further, so
        // that a late block never has to take the time back.
        const double since = static_cast<double>(now - hub.lastBlockUs) * kStreamRate / 1e6;
        ticks += std::min<std::uint64_t>(static_cast<std::uint64_t>(since), kBlockPairs);
    }
    hub.reportedTicks = std::max(hub.reportedTicks, ticks);
    return SoapySDR::ticksToTimeNs(static_cast<long long>(hub.reportedTicks), kStreamRate);
}

} // namespace zef::soapy

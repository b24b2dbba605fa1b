// The receive stream. The core calls its sample callback on the worker
// thread, 512 pairs at a time; the callback copies each block into the
// stream's preallocated ring, and readStream takes samples out of it. The
// callback has no user pointer, so the one set-up stream is process-wide.
#include "BlockRing.hpp"
#include "ZefDevice.hpp"

#include "plugin/device_state.h"
#include "plugin/entry_points.h"

#include <SoapySDR/Formats.hpp>

#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <stdexcept>

namespace zef::soapy {

namespace {

constexpr std::size_t kDefaultBufferBlocks = 128; // about two seconds
constexpr std::size_t kMaxBufferBlocks = 8192;

struct ZefStream {
    bool floatSamples;
    BlockRing ring;
};

// Shared between the worker (callback) and the reader. The lock is held only
// for copies, so the worker never waits long.
struct StreamHub {
    std::mutex lock;
    std::condition_variable arrived;
    ZefStream* stream = nullptr;
    bool active = false;
};

StreamHub hub;

void onBlock(int count, int /*status*/, float /*iqOffset*/, void* data) {
    if (count != kBlockPairs || data == nullptr) {
        return;
    }
    {
        std::lock_guard<std::mutex> guard(hub.lock);
        if (hub.stream == nullptr || !hub.active) {
            return;
        }
        hub.stream->ring.push(static_cast<const std::int16_t*>(data));
    }
    hub.arrived.notify_one();
}

ZefStream* asZef(SoapySDR::Stream* stream) {
    return reinterpret_cast<ZefStream*>(stream);
}

std::size_t bufferBlocks(const SoapySDR::Kwargs& args) {
    const auto given = args.find("buffers");
    if (given == args.end()) {
        return kDefaultBufferBlocks;
    }
    char* end = nullptr;
    const unsigned long blocks = std::strtoul(given->second.c_str(), &end, 10);
    if (end == given->second.c_str() || *end != '\0' || blocks < 2 || blocks > kMaxBufferBlocks) {
        throw std::invalid_argument("ZEF418: buffers must be a block count from 2 to 8192");
    }
    return blocks;
}

} // namespace

void detachStream() {
    std::lock_guard<std::mutex> guard(hub.lock);
    hub.stream = nullptr;
    hub.active = false;
}

std::vector<std::string> ZefDevice::getStreamFormats(int direction, size_t /*channel*/) const {
    if (direction != SOAPY_SDR_RX) {
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
    auto* stream =
        new ZefStream{format == SOAPY_SDR_CF32, BlockRing(bufferBlocks(args), kBlockPairs)};
    {
        std::lock_guard<std::mutex> guard(hub.lock);
        if (hub.stream != nullptr) {
            delete stream;
            throw std::runtime_error("ZEF418: one stream per device; close the other first");
        }
        hub.stream = stream;
        hub.active = false;
    }
    zef::setCallback(&onBlock);
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
    if (wasActive) {
        zef::stopHW();
    }
    // The callback only reaches a stream through the hub, under its lock.
    delete asZef(stream);
}

size_t ZefDevice::getStreamMTU(SoapySDR::Stream* /*stream*/) const {
    return kStreamMtu;
}

int ZefDevice::activateStream(SoapySDR::Stream* stream, int flags, long long /*timeNs*/,
                              size_t /*numElems*/) {
    if (flags != 0) {
        return SOAPY_SDR_NOT_SUPPORTED; // no timed or burst starts
    }
    {
        std::lock_guard<std::mutex> guard(hub.lock);
        if (hub.stream != asZef(stream)) {
            return SOAPY_SDR_STREAM_ERROR;
        }
        hub.stream->ring.clear();
        hub.active = true;
    }
    zef::startHW(zef::getHWLO());
    if (deviceState.driverStatus.load() != 0) {
        deactivateStream(stream, 0, 0); // the link is gone and could not be reopened
        return SOAPY_SDR_STREAM_ERROR;
    }
    return 0;
}

int ZefDevice::deactivateStream(SoapySDR::Stream* stream, int flags, long long /*timeNs*/) {
    if (flags != 0) {
        return SOAPY_SDR_NOT_SUPPORTED;
    }
    zef::stopHW();
    {
        std::lock_guard<std::mutex> guard(hub.lock);
        if (hub.stream == asZef(stream)) {
            hub.active = false;
            hub.stream->ring.clear();
        }
    }
    hub.arrived.notify_all();
    return 0;
}

int ZefDevice::readStream(SoapySDR::Stream* stream, void* const* buffs, size_t numElems, int& flags,
                          long long& /*timeNs*/, long timeoutUs) {
    flags = 0;
    ZefStream* zefStream = asZef(stream);
    BlockRing& ring = zefStream->ring;
    std::unique_lock<std::mutex> guard(hub.lock);
    const auto timeout = std::chrono::microseconds(timeoutUs > 0 ? timeoutUs : 0);
    if (!hub.arrived.wait_for(guard, timeout, [&] { return hub.active && ring.readable(); })) {
        return SOAPY_SDR_TIMEOUT;
    }
    if (ring.takeOverflow()) {
        return SOAPY_SDR_OVERFLOW;
    }
    const std::size_t wanted = std::min<std::size_t>(numElems, INT_MAX);
    bool split = false;
    std::size_t got = 0;
    if (zefStream->floatSamples) {
        got = ring.read(static_cast<float*>(buffs[0]), wanted, split, [](std::int16_t value) {
            return static_cast<float>(value) / static_cast<float>(kFullScale);
        });
    } else {
        got = ring.read(static_cast<std::int16_t*>(buffs[0]), wanted, split,
                        [](std::int16_t value) { return value; });
    }
    if (split) {
        flags |= SOAPY_SDR_MORE_FRAGMENTS;
    }
    return static_cast<int>(got);
}

} // namespace zef::soapy

#include "bridge.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace zef::winebridge {

namespace {

constexpr DWORD kListWhat = FT_OPEN_BY_SERIAL_NUMBER | FT_OPEN_BY_DESCRIPTION | FT_OPEN_BY_LOCATION;

void* locationArgument(DWORD location) {
    return reinterpret_cast<void*>( // NOLINT(performance-no-int-to-ptr): D2XX takes it so
        static_cast<std::uintptr_t>(location));
}

// The caller's 64-byte buffer gets the string and its terminator, no more.
void copyString(const char (&text)[kDescriptionSize], void* out) {
    const std::size_t length = strnlen(text, kDescriptionSize - 1);
    std::memcpy(out, text, length);
    static_cast<char*>(out)[length] = '\0';
}

// A name the Windows side passes, read no further than D2XX's 64 bytes.
bool sameName(const char (&listed)[kDescriptionSize], const void* given) {
    const auto* name = static_cast<const char*>(given);
    const std::size_t length = strnlen(name, kDescriptionSize);
    return length < kDescriptionSize && length == strnlen(listed, kDescriptionSize) &&
           std::memcmp(name, listed, length) == 0;
}

auto field(const ListedInstrument& device, DWORD what) -> const char (&)[kDescriptionSize] {
    return what == FT_OPEN_BY_SERIAL_NUMBER ? device.serial : device.description;
}

} // namespace

FT_STATUS Bridge::relist() {
    const FT_STATUS status = listInstruments(d2xx_, listed_);
    listMade_ = status == FT_OK;
    return status;
}

FT_STATUS Bridge::openListed(DWORD location, FT_HANDLE* handle) {
    FT_HANDLE linuxHandle = nullptr;
    const FT_STATUS status =
        d2xx_.openEx(locationArgument(location), FT_OPEN_BY_LOCATION, &linuxHandle);
    if (status == FT_OK) {
        *handle = handles_.add(linuxHandle);
    }
    return status;
}

// Listed afresh, so that what is opened is an instrument now.
FT_STATUS Bridge::open(int index, FT_HANDLE* handle) {
    if (handle == nullptr) {
        return FT_INVALID_PARAMETER;
    }
    const std::lock_guard guard(listLock_);
    if (const FT_STATUS status = relist(); status != FT_OK) {
        return status;
    }
    if (index < 0 || static_cast<std::size_t>(index) >= listed_.size()) {
        return FT_DEVICE_NOT_FOUND;
    }
    return openListed(listed_[static_cast<std::size_t>(index)].location, handle);
}

FT_STATUS Bridge::openEx(void* arg, DWORD flags, FT_HANDLE* handle) {
    if (handle == nullptr ||
        (flags != FT_OPEN_BY_LOCATION && flags != FT_OPEN_BY_SERIAL_NUMBER &&
         flags != FT_OPEN_BY_DESCRIPTION) ||
        (flags != FT_OPEN_BY_LOCATION && arg == nullptr)) {
        return FT_INVALID_PARAMETER;
    }
    const std::lock_guard guard(listLock_);
    if (const FT_STATUS status = relist(); status != FT_OK) {
        return status;
    }
    for (const ListedInstrument& device : listed_) {
        const bool wanted = flags == FT_OPEN_BY_LOCATION
                                ? device.location == reinterpret_cast<std::uintptr_t>(arg)
                                : sameName(field(device, flags), arg);
        if (wanted) {
            return openListed(device.location, handle);
        }
    }
    return FT_DEVICE_NOT_FOUND;
}

FT_STATUS Bridge::close(FT_HANDLE handle) {
    const std::optional<FT_HANDLE> linuxHandle = handles_.remove(handle);
    return linuxHandle ? d2xx_.close(*linuxHandle) : FT_INVALID_HANDLE;
}

FT_STATUS Bridge::createDeviceInfoList(DWORD* count) {
    if (count == nullptr) {
        return FT_INVALID_PARAMETER;
    }
    const std::lock_guard guard(listLock_);
    const FT_STATUS status = relist();
    if (status == FT_OK) {
        *count = static_cast<DWORD>(listed_.size());
    }
    return status;
}

FT_STATUS Bridge::listOne(std::uintptr_t index, void* out, DWORD what) {
    const std::lock_guard guard(listLock_);
    if (!listMade_) {
        if (const FT_STATUS status = relist(); status != FT_OK) {
            return status;
        }
    }
    if (index >= listed_.size()) {
        return FT_DEVICE_NOT_FOUND;
    }
    const ListedInstrument& device = listed_[index];
    if (what == FT_OPEN_BY_LOCATION) {
        std::memcpy(out, &device.location, sizeof device.location);
    } else {
        copyString(field(device, what), out);
    }
    return FT_OK;
}

// D2XX's "all" form: locations into an array of DWORDs, strings into the
// buffers of an array of pointers; the count into arg2.
FT_STATUS Bridge::listAll(void* arg1, void* arg2, DWORD what) {
    const std::lock_guard guard(listLock_);
    if (const FT_STATUS status = relist(); status != FT_OK) {
        return status;
    }
    for (std::size_t i = 0; i < listed_.size(); ++i) {
        if (what == FT_OPEN_BY_LOCATION) {
            std::memcpy(static_cast<DWORD*>(arg1) + i, &listed_[i].location, sizeof(DWORD));
            continue;
        }
        void* buffer = static_cast<void**>(arg1)[i];
        if (buffer == nullptr) {
            return FT_INVALID_PARAMETER; // the caller's array ended early
        }
        copyString(field(listed_[i], what), buffer);
    }
    const auto count = static_cast<DWORD>(listed_.size());
    std::memcpy(arg2, &count, sizeof count);
    return FT_OK;
}

FT_STATUS Bridge::listDevices(void* arg1, void* arg2, DWORD flags) {
    const DWORD what = flags & kListWhat;
    const bool oneThing = what == FT_OPEN_BY_SERIAL_NUMBER || what == FT_OPEN_BY_DESCRIPTION ||
                          what == FT_OPEN_BY_LOCATION;
    if ((flags & FT_LIST_NUMBER_ONLY) != 0) {
        return createDeviceInfoList(static_cast<DWORD*>(arg1));
    }
    if ((flags & FT_LIST_BY_INDEX) != 0 && oneThing && arg2 != nullptr) {
        return listOne(reinterpret_cast<std::uintptr_t>(arg1), arg2, what);
    }
    if ((flags & FT_LIST_ALL) != 0 && oneThing && arg1 != nullptr && arg2 != nullptr) {
        return listAll(arg1, arg2, what);
    }
    return FT_INVALID_PARAMETER;
}

template <typename Call> FT_STATUS Bridge::onHandle(FT_HANDLE token, Call call) const {
    const std::optional<FT_HANDLE> linuxHandle = handles_.find(token);
    return linuxHandle ? call(*linuxHandle) : FT_INVALID_HANDLE;
}

FT_STATUS Bridge::read(FT_HANDLE handle, void* buffer, DWORD size, DWORD* got) {
    if (got == nullptr || (buffer == nullptr && size != 0)) {
        return FT_INVALID_PARAMETER;
    }
    return onHandle(handle, [&](FT_HANDLE linuxHandle) {
        DWORD moved = 0;
        const FT_STATUS status = d2xx_.read(linuxHandle, buffer, size, &moved);
        *got = std::min(moved, size);
        return status;
    });
}

FT_STATUS Bridge::write(FT_HANDLE handle, void* buffer, DWORD size, DWORD* written) {
    if (written == nullptr || (buffer == nullptr && size != 0)) {
        return FT_INVALID_PARAMETER;
    }
    return onHandle(handle, [&](FT_HANDLE linuxHandle) {
        DWORD moved = 0;
        const FT_STATUS status = d2xx_.write(linuxHandle, buffer, size, &moved);
        *written = std::min(moved, size);
        return status;
    });
}

FT_STATUS Bridge::getQueueStatus(FT_HANDLE handle, DWORD* rxBytes) {
    if (rxBytes == nullptr) {
        return FT_INVALID_PARAMETER;
    }
    return onHandle(handle, [&](FT_HANDLE linuxHandle) {
        DWORD queued = 0;
        const FT_STATUS status = d2xx_.getQueueStatus(linuxHandle, &queued);
        *rxBytes = queued;
        return status;
    });
}

FT_STATUS Bridge::resetDevice(FT_HANDLE handle) {
    return onHandle(handle, [&](FT_HANDLE linuxHandle) { return d2xx_.resetDevice(linuxHandle); });
}

FT_STATUS Bridge::setBaudRate(FT_HANDLE handle, ULONG baud) {
    return onHandle(handle,
                    [&](FT_HANDLE linuxHandle) { return d2xx_.setBaudRate(linuxHandle, baud); });
}

FT_STATUS Bridge::setTimeouts(FT_HANDLE handle, ULONG readMs, ULONG writeMs) {
    return onHandle(handle, [&](FT_HANDLE linuxHandle) {
        return d2xx_.setTimeouts(linuxHandle, readMs, writeMs);
    });
}

FT_STATUS Bridge::setLatencyTimer(FT_HANDLE handle, UCHAR milliseconds) {
    return onHandle(handle, [&](FT_HANDLE linuxHandle) {
        return d2xx_.setLatencyTimer(linuxHandle, milliseconds);
    });
}

FT_STATUS Bridge::setBitMode(FT_HANDLE handle, UCHAR mask, UCHAR mode) {
    return onHandle(
        handle, [&](FT_HANDLE linuxHandle) { return d2xx_.setBitMode(linuxHandle, mask, mode); });
}

FT_STATUS Bridge::stopInTask(FT_HANDLE handle) {
    return onHandle(handle, [&](FT_HANDLE linuxHandle) { return d2xx_.stopInTask(linuxHandle); });
}

FT_STATUS Bridge::restartInTask(FT_HANDLE handle) {
    return onHandle(handle,
                    [&](FT_HANDLE linuxHandle) { return d2xx_.restartInTask(linuxHandle); });
}

FT_STATUS Bridge::purge(FT_HANDLE handle, ULONG mask) {
    return onHandle(handle, [&](FT_HANDLE linuxHandle) { return d2xx_.purge(linuxHandle, mask); });
}

} // namespace zef::winebridge

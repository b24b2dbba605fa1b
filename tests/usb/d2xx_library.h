// The open driver loaded by path, its entry points typed as FTDI declares them.
#pragma once

#include "zef/d2xx.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>

namespace zef::usbtest {

using namespace d2xx; // NOLINT(google-build-using-namespace): D2XX names read as in FTDI's API

class D2xxLibrary {
  public:
    explicit D2xxLibrary(const char* path) : library_(dlopen(path, RTLD_NOW | RTLD_LOCAL)) {
        EXPECT_NE(library_, nullptr) << dlerror();
    }
    ~D2xxLibrary() {
        if (library_ != nullptr) {
            dlclose(library_);
        }
    }
    D2xxLibrary(const D2xxLibrary&) = delete;
    D2xxLibrary& operator=(const D2xxLibrary&) = delete;

    template <typename Function> Function* entry(const char* name) const {
        void* address = library_ != nullptr ? dlsym(library_, name) : nullptr;
        EXPECT_NE(address, nullptr) << name;
        Function* function = nullptr;
        std::memcpy(&function, &address, sizeof function);
        return function;
    }

  private:
    void* library_;
};

} // namespace zef::usbtest

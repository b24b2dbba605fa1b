// The built plug-in, loaded the way a host loads it: zef-host's loader, by
// path, with every export resolved by name.
#pragma once

#include "extio_plugin.h"

#include <stdexcept>
#include <string>

namespace zef::test {

class PluginLibrary {
  public:
    explicit PluginLibrary(const char* path) {
        std::string error;
        if (!plugin_.load(path, error)) {
            throw std::runtime_error(error);
        }
    }
    const host::ExtioExports* operator->() const { return &plugin_.call(); }

  private:
    host::ExtioPlugin plugin_;
};

} // namespace zef::test

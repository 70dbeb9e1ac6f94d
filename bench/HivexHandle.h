#pragma once
// A libhivex handle that closes itself.

#include <hivex.h>

#include <memory>
#include <stdexcept>
#include <string>

namespace bench {

struct HivexCloser {
    void operator()(hive_h* hive) const { hivex_close(hive); }
};
using HivexHandle = std::unique_ptr<hive_h, HivexCloser>;

inline HivexHandle OpenHivex(const std::string& path) {
    HivexHandle hive(hivex_open(path.c_str(), 0));
    if (!hive)
        throw std::runtime_error("libhivex cannot open " + path);
    return hive;
}

} // namespace bench

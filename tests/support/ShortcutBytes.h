#pragma once
// The bytes of shell-link (.lnk) files, built as the shell writes them, for tests.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace testing_support {

inline void put16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}
inline void put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(uint8_t(v >> (8 * i)));
}
inline void putText(std::vector<uint8_t>& out, const std::string& text) {
    out.insert(out.end(), text.begin(), text.end());
    out.push_back(0);
}
inline void putWide(std::vector<uint8_t>& out, const std::string& ascii) {
    for (const char c : ascii)
        put16(out, uint16_t(uint8_t(c)));
    put16(out, 0);
}

constexpr uint32_t kHasIdList = 0x1, kHasLinkInfo = 0x2, kHasRelativePath = 0x8, kIsUnicode = 0x80,
                   kHasExpString = 0x200;

inline std::vector<uint8_t> header(uint32_t flags) {
    std::vector<uint8_t> out;
    put32(out, 0x4C);
    const uint8_t clsid[16] = {0x01, 0x14, 0x02, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
    out.insert(out.end(), clsid, clsid + 16);
    put32(out, flags);
    out.resize(0x4C, 0);
    return out;
}

inline void linkInfo(std::vector<uint8_t>& out, const std::string& base, const std::string& suffix,
                     const std::string& share = {}) {
    std::vector<uint8_t> info;
    const uint32_t headerSize = 0x1C;
    std::vector<uint8_t> volume;
    put32(volume, 0x11); // VolumeIDSize
    put32(volume, 3);    // a fixed drive
    put32(volume, 0x1234);
    put32(volume, 0x10); // the label follows
    volume.push_back(0);
    std::vector<uint8_t> network;
    if (!share.empty()) {
        put32(network, 0); // size, set below
        put32(network, 0); // flags
        put32(network, 0x14);
        put32(network, 0);
        put32(network, 0x20000);
        putText(network, share);
        network[0] = uint8_t(network.size());
    }
    const uint32_t volumeOffset = headerSize;
    const uint32_t baseOffset = volumeOffset + uint32_t(volume.size());
    const uint32_t networkOffset = baseOffset + uint32_t(base.size() + 1);
    const uint32_t suffixOffset = networkOffset + uint32_t(network.size());
    put32(info, 0); // size, set below
    put32(info, headerSize);
    put32(info, 1 | (share.empty() ? 0 : 2));
    put32(info, volumeOffset);
    put32(info, baseOffset);
    put32(info, share.empty() ? 0 : networkOffset);
    put32(info, suffixOffset);
    info.insert(info.end(), volume.begin(), volume.end());
    putText(info, base);
    info.insert(info.end(), network.begin(), network.end());
    putText(info, suffix);
    const uint32_t size = uint32_t(info.size());
    std::memcpy(info.data(), &size, 4);
    out.insert(out.end(), info.begin(), info.end());
}

inline std::string text(const std::vector<uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

// A shortcut to a file on a local drive, by its link information alone.
inline std::vector<uint8_t> localLink(const std::string& target) {
    auto link = header(kHasLinkInfo);
    linkInfo(link, target, "");
    put32(link, 0);
    return link;
}

} // namespace testing_support

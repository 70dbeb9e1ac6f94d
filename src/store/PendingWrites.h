#pragma once
// Changes to a file held in memory until they are written all together: byte ranges by
// offset, merged where they overlap or touch. Reads lay them over the file's own bytes.

#include <cstdint>
#include <map>
#include <string>

namespace store {

class PendingWrites {
public:
    void write(int64_t offset, const void* data, int64_t size);
    // Copies the pending bytes that fall inside [offset, offset + size) into `buffer`.
    void overlay(int64_t offset, void* buffer, int64_t size) const;
    // One past the last pending byte; 0 when nothing is pending.
    int64_t end() const;
    bool empty() const { return ranges_.empty(); }
    void clear() { ranges_.clear(); }
    // Non-overlapping, non-touching ranges by their first offset.
    const std::map<int64_t, std::string>& ranges() const { return ranges_; }

private:
    std::map<int64_t, std::string> ranges_;
};

} // namespace store

#pragma once
// The scan categories, in the order the scan walks them and the wizard lists them.

#include <cstdint>
#include <initializer_list>

enum TRepairItem : uint8_t {
    riActiveX,
    riAppPaths,
    riAutoRun,
    riClasses,
    riFileAssociations,
    riFonts,
    riHelpFiles,
    riSharedDlls,
    riSoftware,
    riServices,
    riUninstallers,
    riStartMenu,
};

inline constexpr int kRepairItemCount = 12;

// The name the wizard shows, e.g. "Invalid Fonts".
const char* RepairItemDisplayName(TRepairItem item);
// Whether a fix of a record of this category deletes its key (else one value).
bool RepairItemFixDeletesKey(TRepairItem item);
// "Delete erroneous key entry (recommended)" or "Delete erroneous value entry (recommended)".
const char* RepairItemRepairText(TRepairItem item);

// A set of categories in 16 bits: bit n stands for category n. Bits 12 to 15 are
// never set.
class TRepairItems {
public:
    constexpr TRepairItems() = default;
    TRepairItems(std::initializer_list<TRepairItem> items) {
        for (const TRepairItem item : items)
            Include(item);
    }
    static TRepairItems FromBits(uint16_t bits) {
        TRepairItems set;
        set.bits_ = bits & kAll;
        return set;
    }
    static TRepairItems All() { return FromBits(kAll); }

    uint16_t Bits() const { return bits_; }
    bool Contains(TRepairItem item) const { return item < kRepairItemCount && (bits_ >> item) & 1; }
    bool Empty() const { return bits_ == 0; }
    void Include(TRepairItem item) {
        if (item < kRepairItemCount)
            bits_ |= uint16_t(1u << item);
    }
    void Exclude(TRepairItem item) {
        if (item < kRepairItemCount)
            bits_ &= uint16_t(~(1u << item));
    }
    bool operator==(const TRepairItems&) const = default;

private:
    static constexpr uint16_t kAll = (1u << kRepairItemCount) - 1;
    uint16_t bits_ = 0;
};

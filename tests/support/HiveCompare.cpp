#include "support/HiveCompare.h"

#include "hive/HiveFile.h"

#include <gtest/gtest.h>

namespace testing_support {

using hive::Bytes;
using hive::DefaultKeySecurity;
using hive::HiveKey;

namespace {

std::string keyName(const HiveKey& key) {
    std::string out;
    for (const char16_t c : key.name)
        out += c < 0x80 ? char(c) : '?';
    return out;
}

} // namespace

void ExpectSameTree(const HiveKey& expected, const HiveKey& actual) {
    struct Pair {
        const HiveKey* e;
        const HiveKey* a;
        std::shared_ptr<const Bytes> inherited;
    };
    std::vector<Pair> pending{{&expected, &actual, DefaultKeySecurity()}};
    while (!pending.empty()) {
        const auto [e, a, inherited] = pending.back();
        pending.pop_back();
        SCOPED_TRACE("key " + keyName(*e));
        ASSERT_EQ(e->name, a->name);
        EXPECT_EQ(e->lastWriteTime, a->lastWriteTime);
        EXPECT_EQ(e->className(), a->className());
        const auto security = e->security() ? e->security() : inherited;
        ASSERT_TRUE(a->security());
        EXPECT_EQ(*security, *a->security());
        ASSERT_EQ(e->values().size(), a->values().size());
        for (size_t i = 0; i < e->values().size(); ++i) {
            EXPECT_EQ(e->values()[i].name, a->values()[i].name) << "value " << i;
            EXPECT_EQ(e->values()[i].type, a->values()[i].type) << "value " << i;
            EXPECT_EQ(e->values()[i].data, a->values()[i].data) << "value " << i;
        }
        ASSERT_EQ(e->stableSubkeys().size(), a->stableSubkeys().size());
        for (size_t i = 0; i < e->stableSubkeys().size(); ++i)
            pending.push_back({e->stableSubkeys()[i].get(), a->stableSubkeys()[i].get(), security});
    }
}

} // namespace testing_support

// Damaged copies of a real SYSTEM hive: flipped bytes, zeroed pages and truncations. A
// salvaging read must never crash or hang, must succeed wherever the base block and the
// root key are sound, and must keep every key the damage does not touch.

#include "hive/HiveFile.h"
#include "hive/HiveFormat.h"
#include "support/MachineFixture.h"

#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <gtest/gtest.h>
#include <random>

using namespace testing_support;
using hive::Bytes;
using namespace hive::regf;

namespace {

struct Range {
    uint64_t begin, end; // file offsets, end excluded
};

// One key of the sound hive, and the bytes it can only be reached through: its own cell,
// the list cells of its parent that name it, and the headers of the bins holding them.
struct KeyRoute {
    std::u16string name;
    int parent; // index of the parent's route, -1 for the root
    std::vector<Range> ranges;
};

// An independent walk of a sound hive, recording each key's route, parents first.
class RouteWalk {
public:
    explicit RouteWalk(const Bytes& hive) : b_(hive) {
        const uint64_t end = kBaseBlockSize + uint64_t(Read32(b_.data() + base::kBinsSize));
        for (uint64_t bin = kBaseBlockSize; bin < end; bin += Read32(b_.data() + bin + 8))
            bins_.push_back(bin);
        walk(Read32(b_.data() + base::kRootOffset), -1, {});
    }
    std::vector<KeyRoute> routes;

private:
    Range cell(uint32_t offset) const {
        const uint64_t at = kBaseBlockSize + uint64_t(offset);
        const int32_t size = int32_t(Read32(b_.data() + at));
        return {at, at + uint64_t(size < 0 ? -size : size)};
    }
    Range binHeader(uint64_t fileOffset) const {
        const uint64_t bin = *(std::upper_bound(bins_.begin(), bins_.end(), fileOffset) - 1);
        return {bin, bin + kBinHeaderSize};
    }
    void add(std::vector<Range>& ranges, uint32_t offset) const {
        ranges.push_back(cell(offset));
        ranges.push_back(binHeader(kBaseBlockSize + uint64_t(offset)));
    }
    void walk(uint32_t nk, int parent, std::vector<Range> via) {
        const uint8_t* d = b_.data() + kBaseBlockSize + nk + 4;
        KeyRoute route;
        route.parent = parent;
        const uint16_t length = Read16(d + nk::kNameLength);
        if (Read16(d + nk::kFlags) & 0x20)
            route.name.assign(d + nk::kName, d + nk::kName + length);
        else
            for (uint16_t i = 0; i + 1 < length; i += 2)
                route.name += char16_t(Read16(d + nk::kName + i));
        route.ranges = std::move(via);
        add(route.ranges, nk);
        const int self = int(routes.size());
        routes.push_back(std::move(route));
        if (Read32(d + nk::kSubkeyCount) == 0)
            return;
        const uint32_t list = Read32(d + nk::kSubkeyList);
        const uint8_t* l = b_.data() + kBaseBlockSize + list + 4;
        if (HasSignature(l, "ri")) {
            for (uint16_t i = 0; i < Read16(l + 2); ++i)
                walkLeaf(Read32(l + 4 + 4 * i), self, {cell(list), binHeader(cell(list).begin)});
        } else {
            walkLeaf(list, self, {});
        }
    }
    void walkLeaf(uint32_t leaf, int parent, std::vector<Range> via) {
        add(via, leaf);
        const uint8_t* l = b_.data() + kBaseBlockSize + leaf + 4;
        const uint32_t step = HasSignature(l, "li") ? 4 : 8;
        for (uint16_t i = 0; i < Read16(l + 2); ++i)
            walk(Read32(l + 4 + step * i), parent, via);
    }

    const Bytes& b_;
    std::vector<uint64_t> bins_;
};

struct Mutation {
    std::string what;
    Bytes bytes;
    std::vector<Range> touched;
};

Mutation Mutate(const Bytes& sound, std::mt19937& random, int index) {
    Mutation m{{}, sound, {}};
    const auto pick = [&](uint64_t below) {
        return std::uniform_int_distribution<uint64_t>(0, below - 1)(random);
    };
    switch (index % 3) {
    case 0: { // a few flipped bytes
        const int count = 1 + int(pick(8));
        m.what = "flipped bytes at";
        for (int i = 0; i < count; ++i) {
            const uint64_t at = pick(sound.size());
            m.bytes[at] ^= uint8_t(1 + pick(255));
            m.touched.push_back({at, at + 1});
            m.what += " " + std::to_string(at);
        }
        break;
    }
    case 1: { // a page of zeros
        const uint64_t page = pick(sound.size() / kPageSize) * kPageSize;
        std::fill(m.bytes.begin() + long(page), m.bytes.begin() + long(page + kPageSize), 0);
        m.touched.push_back({page, page + kPageSize});
        m.what = "zeroed page at " + std::to_string(page);
        break;
    }
    default: { // cut short
        const uint64_t size = kBaseBlockSize + pick(sound.size() - kBaseBlockSize);
        m.bytes.resize(size);
        m.touched.push_back({size, sound.size()});
        m.what = "truncated to " + std::to_string(size);
    }
    }
    return m;
}

bool Hits(const std::vector<Range>& a, const std::vector<Range>& b) {
    for (const Range& x : a)
        for (const Range& y : b)
            if (x.begin < y.end && y.begin < x.end)
                return true;
    return false;
}

size_t CountKeys(const hive::HiveKey& key) {
    size_t count = 1;
    for (const auto& sub : key.stableSubkeys())
        count += CountKeys(*sub);
    return count;
}

} // namespace

// 300 copies in all, dealt out to shards that run as tests of their own: each copy is a
// whole read of a 12 MB hive, half a second under the sanitizers.
constexpr int kCopies = 300;
constexpr int kShards = 6;

class HiveSalvage : public ::testing::TestWithParam<int> {};

TEST_P(HiveSalvage, DamagedCopiesOfARealHive) {
    QTemporaryDir dir;
    const std::string path = dir.path().toStdString() + "/SYSTEM";
    if (!SharedHiveAs("SYSTEM", path))
        GTEST_SKIP() << "the shared test hives are absent";
    QFile file(QString::fromStdString(path));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray all = file.readAll();
    const Bytes sound(all.begin(), all.end());
    const RouteWalk walk(sound);
    ASSERT_GT(walk.routes.size(), 30000u);

    size_t read = 0, keysKept = 0, keysExpected = 0;
    for (int index = GetParam(); index < kCopies; index += kShards) {
        std::mt19937 random(20241210u + unsigned(index));
        const Mutation m = Mutate(sound, random, index);
        SCOPED_TRACE("copy " + std::to_string(index) + ": " + m.what);
        hive::LoadedHive loaded;
        // The base block and the root key, which every read needs.
        const bool baseOrRootHit =
            Hits(m.touched, {{0, kBaseBlockSize}}) || Hits(m.touched, walk.routes[0].ranges);
        try {
            loaded = hive::LoadHiveImage(m.bytes, "SYSTEM copy", {}, {.salvage = true});
        } catch (const hive::HiveFileError& e) {
            EXPECT_TRUE(baseOrRootHit) << e.what();
            continue;
        }
        ++read;
        // Every key whose route the damage misses is there, under the same path.
        std::vector<const hive::HiveKey*> found(walk.routes.size(), nullptr);
        found[0] = loaded.root.get();
        size_t missing = 0;
        for (size_t i = 1; i < walk.routes.size(); ++i) {
            const KeyRoute& route = walk.routes[i];
            const hive::HiveKey* parent = found[size_t(route.parent)];
            if (!parent || Hits(m.touched, route.ranges))
                continue;
            ++keysExpected;
            found[i] = parent->findSubkey(route.name);
            if (found[i])
                ++keysKept;
            else if (++missing <= 3)
                ADD_FAILURE() << "key " << i << " is missing though the damage misses it";
        }
        // Keys lost are never lost silently.
        if (CountKeys(*loaded.root) < walk.routes.size()) {
            EXPECT_GT(loaded.damageCount, 0u);
        }
    }
    EXPECT_GT(read, size_t(kCopies / kShards * 4 / 5));
    EXPECT_EQ(keysKept, keysExpected);
}

INSTANTIATE_TEST_SUITE_P(Shards, HiveSalvage, ::testing::Range(0, kShards));

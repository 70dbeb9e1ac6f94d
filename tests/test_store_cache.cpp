// The record cache: front insertion, swap to the front on a hit, the last entry given
// up when full; and a store's cache never holding a record the file does not.

#include "store/fxRegCacheManager.h"
#include "store/fxRegistryFile.h"
#include "support/StoreFiles.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace testing_support;
using namespace store;

namespace {

StoreRecord recordNamed(const std::string& name) {
    StoreRecord record;
    record.setName(name);
    return record;
}

std::vector<int32_t> offsets(const TfxRegCacheManager& cache) {
    std::vector<int32_t> list;
    for (int i = 0; i < cache.Count(); ++i)
        list.push_back(cache.OffsetAt(i));
    return list;
}

} // namespace

TEST(StoreCache, NewEntriesEnterAtTheFront) {
    TfxRegCacheManager cache(64);
    cache.Add(100, recordNamed("a"));
    cache.Add(200, recordNamed("b"));
    cache.Add(300, recordNamed("c"));
    EXPECT_EQ(offsets(cache), (std::vector<int32_t>{300, 200, 100}));
    cache.Add(100, recordNamed("changed"));
    EXPECT_EQ(offsets(cache), (std::vector<int32_t>{300, 200, 100})) << "present: nothing";
    EXPECT_EQ(cache.Get(2).nameView(), "a");
}

TEST(StoreCache, AHitSwapsWithTheFirstEntry) {
    TfxRegCacheManager cache(64);
    for (int32_t offset : {100, 200, 300, 400})
        cache.Add(offset, recordNamed(std::to_string(offset)));
    // 400 300 200 100: finding 200 swaps it with 400, which takes 200's place.
    EXPECT_EQ(cache.Find(200), 0);
    EXPECT_EQ(offsets(cache), (std::vector<int32_t>{200, 300, 400, 100}));
    EXPECT_EQ(cache.Get(0).nameView(), "200");
    EXPECT_EQ(cache.Find(999), -1);
    EXPECT_EQ(offsets(cache), (std::vector<int32_t>{200, 300, 400, 100}));
}

TEST(StoreCache, The65thEntryReleasesTheLast) {
    TfxRegCacheManager cache(64);
    for (int32_t i = 1; i <= 64; ++i)
        cache.Add(i, recordNamed(std::to_string(i)));
    ASSERT_EQ(cache.Count(), 64);
    EXPECT_EQ(cache.OffsetAt(63), 1);
    EXPECT_EQ(cache.Find(1), 0) << "1 swaps to the front, 64 goes last";
    cache.Add(65, recordNamed("65"));
    EXPECT_EQ(cache.Count(), 64);
    EXPECT_EQ(cache.Find(64), -1) << "the entry in the last place was released";
    EXPECT_EQ(cache.OffsetAt(0), 65);
    EXPECT_EQ(cache.OffsetAt(1), 1);
}

TEST(StoreCache, GetUpdateDeleteClear) {
    TfxRegCacheManager cache(64);
    cache.Add(100, recordNamed("a"));
    cache.Add(200, recordNamed("b"));
    cache.Add(300, recordNamed("c"));
    EXPECT_EQ(cache.Get(3), StoreRecord{}) << "outside: all zero";
    EXPECT_EQ(cache.Get(-1), StoreRecord{});
    cache.Update(1, 250, recordNamed("B"));
    EXPECT_EQ(offsets(cache), (std::vector<int32_t>{300, 250, 100}));
    EXPECT_EQ(cache.Get(1).nameView(), "B");
    cache.Delete(0);
    EXPECT_EQ(offsets(cache), (std::vector<int32_t>{250, 100})) << "the gap is closed";
    cache.Clear();
    EXPECT_EQ(cache.Count(), 0);
}

// After every change each cached record equals the bytes at its offset.
TEST(StoreCache, NeverDiffersFromTheFile) {
    QTemporaryDir dir;
    const std::string path = dir.path().toStdString() + "/system.dat";
    TfxRegFile store(path);
    const auto check = [&](const char* after) {
        const std::string bytes = ReadFileBytes(path);
        const TfxRegCacheManager& cache = store.Cache();
        for (int i = 0; i < cache.Count(); ++i)
            EXPECT_EQ(cache.Get(i), RecordAt(bytes, cache.OffsetAt(i)))
                << after << ": entry " << i << " at " << cache.OffsetAt(i);
    };
    ASSERT_TRUE(store.OpenKey("\\K", true));
    for (int i = 0; i < 80; ++i)
        store.WriteInteger("n" + std::to_string(i), i);
    std::vector<std::string> names;
    store.GetValueNames(names);
    check("listing");
    EXPECT_EQ(store.Cache().Count(), 64);

    store.WriteInteger("n5", 500); // rewritten in place while cached
    check("in-place rewrite");
    EXPECT_EQ(store.ReadInteger("n5"), 500);
    store.WriteString("n6", "moves away");
    check("move");
    store.DeleteValue("n7");
    check("delete");
    store.WriteString("s", "into a freed slot"); // n6's old slot is fixed-size: appended
    store.WriteBool("t", true);                  // takes n6's old slot
    check("reuse");
    EXPECT_TRUE(store.ReadBool("t"));
    EXPECT_TRUE(store.DeleteKey("\\K"));
    check("tree delete");
    for (int i = 0; i < store.Cache().Count(); ++i)
        EXPECT_EQ(store.Cache().Get(i).free, 0);
}

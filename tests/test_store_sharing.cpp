// Several store objects on one settings file at once, in one process or in several: each
// call sees what the others wrote before it, and their changes never mix.

#include "store/StoreError.h"
#include "store/fxRegistryFile.h"
#include "support/ScratchDir.h"
#include "support/StoreFiles.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

using namespace testing_support;
using namespace store;

namespace {

class StoreSharing : public ::testing::Test {
protected:
    QTemporaryDir dir{ScratchDirTemplate()};
    std::string path = dir.path().toStdString() + "/system.dat";
};

std::vector<std::string> valueNames(TfxRegFile& store) {
    std::vector<std::string> names;
    store.GetValueNames(names);
    return names;
}

} // namespace

// Two objects opened before either writes; each read after the other's change must see
// that change, and each write must build on it.
TEST_F(StoreSharing, EachObjectSeesTheOthersChanges) {
    { TfxRegFile(path).OpenKey("\\K", true); }
    TfxRegFile a(path);
    TfxRegFile b(path);
    ASSERT_TRUE(a.OpenKey("\\K", false));
    ASSERT_TRUE(b.OpenKey("\\K", false));

    a.WriteString("n", "text");
    EXPECT_EQ(b.ReadString("n"), "text");
    // Back into the same slot as an integer: header, index and length stay the same, only
    // the record that b holds in its cache changes.
    a.WriteInteger("n", 1);
    EXPECT_EQ(b.ValueDataType("n"), kTypeInteger);
    EXPECT_EQ(b.ReadInteger("n"), 1);
    a.WriteInteger("n", 2); // in place
    EXPECT_EQ(b.ReadInteger("n"), 2);
    b.WriteString("s", "from b");
    EXPECT_EQ(a.ReadString("s"), "from b");
    a.WriteString("t", "from a");
    b.WriteString("u", "from b");
    EXPECT_EQ(valueNames(a), (std::vector<std::string>{"n", "s", "t", "u"}));
    EXPECT_EQ(a.ReadString("u"), "from b");
    EXPECT_EQ(valueNames(b), (std::vector<std::string>{"n", "s", "t", "u"}));

    // b's current key goes away under it: b no longer writes there.
    a.DeleteKey("\\K");
    EXPECT_FALSE(b.ValueExists("s"));
    EXPECT_THROW(b.WriteString("orphan", "x"), StoreError);
    EXPECT_EQ(StoreProblems(ReadFileBytes(path)), "");
    TfxRegFile fresh(path);
    fresh.CloseKey();
    std::vector<std::string> keys;
    fresh.GetKeyNames(keys);
    EXPECT_TRUE(keys.empty());
    EXPECT_TRUE(valueNames(fresh).empty());
}

// Two processes open the file, wait until both have it open, then write keys and values
// of their own as fast as they can. Nothing either wrote may be missing afterwards.
TEST_F(StoreSharing, TwoProcessesWritingAtOnceLoseNothing) {
    { TfxRegFile store(path); }
    constexpr int kWriters = 2;
    constexpr int kKeys = 40;
    int ready[2], go[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(go), 0);
    std::vector<pid_t> children;
    for (int w = 0; w < kWriters; ++w) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            int status = 0;
            try {
                TfxRegFile store(path);
                char byte = 1;
                if (::write(ready[1], &byte, 1) != 1 || ::read(go[0], &byte, 1) != 1)
                    ::_exit(3);
                const std::string key = "\\W" + std::to_string(w);
                for (int k = 0; k < kKeys; ++k) {
                    store.OpenKey(key + "\\" + std::to_string(100 + k), true);
                    store.WriteString("text", std::string(size_t(k), char('a' + w)));
                    store.WriteInteger("number", k);
                    if (k % 3 == 0)
                        store.DeleteValue("text");
                }
            } catch (const StoreError&) {
                status = 2;
            }
            ::_exit(status);
        }
        children.push_back(pid);
    }
    char byte = 0;
    for (int w = 0; w < kWriters; ++w)
        ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    for (int w = 0; w < kWriters; ++w)
        ASSERT_EQ(::write(go[1], &byte, 1), 1);
    for (const pid_t pid : children) {
        int status = -1;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    for (const int fd : {ready[0], ready[1], go[0], go[1]})
        ::close(fd);

    EXPECT_EQ(StoreProblems(ReadFileBytes(path)), "");
    TfxRegFile store(path);
    for (int w = 0; w < kWriters; ++w) {
        for (int k = 0; k < kKeys; ++k) {
            const std::string key = "\\W" + std::to_string(w) + "\\" + std::to_string(100 + k);
            ASSERT_TRUE(store.OpenKey(key, false)) << key;
            EXPECT_EQ(store.ReadInteger("number"), k) << key;
            EXPECT_EQ(store.ValueExists("text"), k % 3 != 0) << key;
            if (k % 3 != 0) {
                EXPECT_EQ(store.ReadString("text"), std::string(size_t(k), char('a' + w)));
            }
        }
    }
}

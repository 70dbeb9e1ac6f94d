// The table the lookup sessions remember paths in: every text added is found with its
// own value however much the table grew, texts that differ in case or length stay apart,
// and a table emptied starts afresh.

#include "win32/host/TextTable.h"

#include <gtest/gtest.h>
#include <string>

namespace {

std::string pathOf(int i) {
    return "C:\\WINDOWS\\system32\\lib" + std::to_string(i) + ".dll";
}

TEST(TextTable, FindsEveryTextAddedWithItsValueAcrossGrowth) {
    win32::TextTable<char, int> table;
    constexpr int kCount = 5000;
    for (int i = 0; i < kCount; ++i) {
        ASSERT_EQ(table.find(pathOf(i)), table.npos) << i;
        EXPECT_EQ(table.insert(pathOf(i), i), uint32_t(i));
    }
    EXPECT_EQ(table.size(), size_t(kCount));
    for (int i = 0; i < kCount; ++i) {
        const uint32_t found = table.find(pathOf(i));
        ASSERT_NE(found, table.npos) << i;
        EXPECT_EQ(table.at(found), i);
    }
    for (const std::string& absent :
         {pathOf(kCount), std::string("c:\\windows\\system32\\lib7.dll"),
          pathOf(7).substr(0, pathOf(7).size() - 1), pathOf(7) + " ", std::string()})
        EXPECT_EQ(table.find(absent), table.npos) << absent;

    table.at(table.find(pathOf(9))) = -9;
    EXPECT_EQ(table.at(table.find(pathOf(9))), -9);

    table.clear();
    EXPECT_EQ(table.size(), 0u);
    EXPECT_EQ(table.textSize(), 0u);
    EXPECT_EQ(table.find(pathOf(1)), table.npos);
    table.insert(std::string_view(), 42);
    EXPECT_EQ(table.at(table.find("")), 42);
}

TEST(TextTable, KeepsWideTextsAndValuesThatOwnMemory) {
    win32::TextTable<char16_t, std::string> table;
    const std::u16string folders[] = {u"C\\WINDOWS", u"C\\Windows", u"C\\WINDOWS\\system32",
                                      u"C\\Program Files\\\u00c9diteur"};
    for (const auto& folder : folders)
        table.insert(folder, std::string(folder.size(), 'x'));
    for (const auto& folder : folders) {
        const uint32_t found = table.find(folder);
        ASSERT_NE(found, table.npos);
        EXPECT_EQ(table.at(found).size(), folder.size());
    }
    EXPECT_EQ(table.find(u"C\\windows"), table.npos);
}

} // namespace

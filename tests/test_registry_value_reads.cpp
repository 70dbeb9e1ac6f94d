// The value reads of the registry functions give the same answers for a key whose values
// are read where the hive file holds them as for the same key once its values are built:
// every type, size, name form and error.

#include "registry/TRegistry.h"
#include "support/MachineFixture.h"
#include "win32/registry/MachineRegistry.h"
#include "win32/registry/Registry.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace testing_support;

namespace {

constexpr const char* kKey = "SOFTWARE\\Shapes";

std::u16string Text(size_t units) {
    std::u16string text;
    for (size_t i = 0; i < units; ++i)
        text += char16_t(u'a' + i % 26);
    return text;
}

struct Shape {
    std::u16string name;
    DWORD type;
    std::string data; // raw bytes
};

std::string Utf16Bytes(std::u16string_view text, bool terminated = true) {
    std::string out(reinterpret_cast<const char*>(text.data()), text.size() * 2);
    if (terminated)
        out.append(2, '\0');
    return out;
}

std::vector<Shape> Shapes() {
    std::string big(40000, '\0');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = char(i * 7 + i / 251);
    return {
        {u"", REG_SZ, Utf16Bytes(u"default")},
        {u"Empty", REG_SZ, ""},
        {u"Lone byte", REG_SZ, "A"},
        {u"Odd string", REG_SZ, std::string("A\0B", 3)},
        {u"Unterminated", REG_SZ, Utf16Bytes(u"abc", false)},
        {u"One", REG_BINARY, "\x11"},
        {u"Dword", REG_DWORD, "\x01\x02\x03\x04"},
        {u"Five", REG_BINARY, "\x01\x02\x03\x04\x05"},
        {u"Multi", REG_MULTI_SZ, Utf16Bytes(std::u16string_view(u"x\0y\0", 4))},
        {u"Expand", REG_EXPAND_SZ, Utf16Bytes(u"%SystemRoot%\\x.dll")},
        {u"Caf\u00e9", REG_SZ, Utf16Bytes(u"\u00e9t\u00e9")},
        {u"\u041a\u043b\u044e\u0447", 0x12345678, "\x09\x08\x07"},
        {u"Not in the code page", REG_SZ, Utf16Bytes(u"\u041a\u043b\u044e\u0447")},
        {u"Big", REG_BINARY, big},
        {u"Big string", REG_SZ, Utf16Bytes(Text(20000))},
        {u"Long name " + Text(300), REG_DWORD, "\x05\x00\x00\x00"},
    };
}

std::string Hex(const void* data, size_t size) {
    std::string out;
    char byte[4];
    for (size_t i = 0; i < size; ++i) {
        std::snprintf(byte, sizeof byte, "%02x", static_cast<const uint8_t*>(data)[i]);
        out += byte;
    }
    return out;
}

// What the value functions answer for the key, over buffers of every size that matters.
template <typename Char> std::string Transcript(HKEY key) {
    constexpr bool kWide = sizeof(Char) == 2;
    std::string log;
    const auto note = [&](const std::string& what, LONG rc, DWORD type, const void* data,
                          DWORD size) {
        log += what + " rc=" + std::to_string(rc) + " type=" + std::to_string(type) +
               " size=" + std::to_string(size) + " " + (data ? Hex(data, size) : "-") + "\n";
    };
    std::vector<std::basic_string<Char>> names;
    for (DWORD i = 0;; ++i) {
        Char name[400];
        DWORD nameSize = 400, type = 0, size = 0;
        std::vector<uint8_t> data(100000);
        LONG rc;
        if constexpr (kWide)
            rc = RegEnumValueW(key, i, name, &nameSize, nullptr, &type, nullptr, &size);
        else
            rc = RegEnumValueA(key, i, name, &nameSize, nullptr, &type, nullptr, &size);
        note("size of #" + std::to_string(i), rc, type, nullptr, size);
        if (rc != ERROR_SUCCESS)
            break;
        names.emplace_back(name, nameSize);
        log += "name " + Hex(name, nameSize * sizeof(Char)) + "\n";
        for (const DWORD room : {size, size ? size - 1 : 0, 0u}) {
            DWORD got = room;
            nameSize = 400;
            if constexpr (kWide)
                rc = RegEnumValueW(key, i, name, &nameSize, nullptr, &type, data.data(), &got);
            else
                rc = RegEnumValueA(key, i, name, &nameSize, nullptr, &type, data.data(), &got);
            note("#" + std::to_string(i) + " in " + std::to_string(room), rc, type,
                 rc == ERROR_SUCCESS ? data.data() : nullptr, got);
        }
        // A name buffer one too small, and none.
        DWORD tight = DWORD(names.back().size());
        if constexpr (kWide)
            rc = RegEnumValueW(key, i, name, &tight, nullptr, nullptr, nullptr, nullptr);
        else
            rc = RegEnumValueA(key, i, name, &tight, nullptr, nullptr, nullptr, nullptr);
        note("tight name", rc, 0, nullptr, tight);
        if constexpr (kWide)
            rc = RegEnumValueW(key, i, name, nullptr, nullptr, nullptr, nullptr, nullptr);
        else
            rc = RegEnumValueA(key, i, name, nullptr, nullptr, nullptr, nullptr, nullptr);
        note("no name size", rc, 0, nullptr, 0);
        DWORD unasked = 400;
        if constexpr (kWide)
            rc = RegEnumValueW(key, i, name, &unasked, nullptr, nullptr, data.data(), nullptr);
        else
            rc = RegEnumValueA(key, i, name, &unasked, nullptr, nullptr, data.data(), nullptr);
        note("data without a size", rc, 0, nullptr, unasked);
    }
    names.push_back({}); // the default value by an empty name
    for (const char16_t* missing : {u"No such value", u"Caf"})
        names.emplace_back(missing, missing + std::char_traits<char16_t>::length(missing));
    for (auto name : names) {
        for (auto& c : name)
            if (c >= 'a' && c <= 'z')
                c = Char(c - 32); // looked up as another case spells it
        std::vector<uint8_t> data(100000);
        for (const DWORD room : {100000u, 3u, 0u}) {
            DWORD type = 0, size = room;
            LONG rc;
            if constexpr (kWide)
                rc = RegQueryValueExW(key, name.c_str(), nullptr, &type,
                                      room ? data.data() : nullptr, &size);
            else
                rc = RegQueryValueExA(key, name.c_str(), nullptr, &type,
                                      room ? data.data() : nullptr, &size);
            note("query " + Hex(name.data(), name.size() * sizeof(Char)) + " in " +
                     std::to_string(room),
                 rc, type, rc == ERROR_SUCCESS && room ? data.data() : nullptr, size);
        }
    }
    DWORD values = 0, longestName = 0, longestData = 0;
    const LONG rc = RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                     &values, &longestName, &longestData, nullptr, nullptr);
    log += "info rc=" + std::to_string(rc) + " " + std::to_string(values) + " " +
           std::to_string(longestName) + " " + std::to_string(longestData) + "\n";
    return log;
}

hive::HiveKey* KeyOf(HKEY handle) {
    return win32::MachineRegistry::current()->handle(handle)->view.key.get();
}

class RegistryValueReads : public ::testing::Test {
protected:
    void SetUp() override {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  &key, nullptr),
                  ERROR_SUCCESS);
        for (const Shape& shape : Shapes()) {
            const std::u16string name = shape.name;
            ASSERT_EQ(RegSetValueExW(key, name.c_str(), 0, shape.type,
                                     reinterpret_cast<const BYTE*>(shape.data.data()),
                                     DWORD(shape.data.size())),
                      ERROR_SUCCESS);
        }
        RegCloseKey(key);
        machine_.shutdown(); // written out; mounted again its values are read in place
    }
    TestMachine machine_;
};

} // namespace

TEST_F(RegistryValueReads, ValuesReadInPlaceAnswerAsBuiltValuesDo) {
    for (const bool readOnly : {true, false}) {
        SCOPED_TRACE(readOnly ? "read-only mount" : "writable mount");
        machine_.boot({.readOnly = readOnly});
        HKEY key = nullptr;
        ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, &key), ERROR_SUCCESS);
        const std::string ansi = Transcript<char>(key);
        const std::string wide = Transcript<char16_t>(key);
        hive::StoredValue stored;
        ASSERT_EQ(KeyOf(key)->storedValueAt(0, stored), hive::StoredRead::Found)
            << "the reads built nothing";
        EXPECT_NE(ansi.find("info rc=0 16 310 40002"), std::string::npos) << ansi;

        ASSERT_EQ(KeyOf(key)->values().size(), Shapes().size()); // built now
        EXPECT_EQ(KeyOf(key)->storedValueAt(0, stored), hive::StoredRead::Built);
        EXPECT_EQ(Transcript<char>(key), ansi);
        EXPECT_EQ(Transcript<char16_t>(key), wide);
        RegCloseKey(key);
        machine_.shutdown();
    }
}

TEST_F(RegistryValueReads, AWalkReadsEachValueOnceAsReadingItByNameGivesIt) {
    machine_.boot({.readOnly = true});
    TRegistry reg(KEY_READ);
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(reg.OpenKey(kKey, false));
    std::vector<TRegValue> values;
    reg.GetValues(values);
    std::vector<std::string> names;
    reg.GetValueNames(names);
    ASSERT_EQ(values.size(), names.size());
    // A name the code page changes would read another value, or none, by name: the whole
    // list is then read by name.
    EXPECT_FALSE(values.front().ReadsBack);
    const auto readAll = [&](bool answerFromList) {
        std::string log;
        for (size_t i = 0; i < values.size(); ++i) {
            EXPECT_EQ(values[i].Name, names[i]);
            reg.ReadFrom(answerFromList ? &values[i] : nullptr);
            log += names[i] + ": " + std::to_string(int(reg.GetDataType(names[i]))) + " " +
                   std::to_string(reg.GetDataSize(names[i])) + " ";
            try {
                log += reg.ReadString(names[i]);
            } catch (const ERegistryException& e) {
                log += e.what();
            }
            try {
                log += std::to_string(reg.ReadInteger(names[i]));
            } catch (const ERegistryException& e) {
                log += e.what();
            }
            log += "\n";
        }
        reg.ReadFrom(nullptr);
        return log;
    };
    EXPECT_EQ(readAll(true), readAll(false));

    // Where every name reads back, each value's reads answer from the list.
    HKEY key = nullptr;
    reg.CloseKey();
    machine_.shutdown();
    machine_.boot();
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    for (const Shape& shape : Shapes())
        if (shape.name.empty() || shape.name.front() >= 0x80 ||
            shape.name.find(u'\u00e9') != std::u16string::npos) {
            ASSERT_EQ(RegDeleteValueW(key, shape.name.c_str()), ERROR_SUCCESS);
        }
    RegCloseKey(key);
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(reg.OpenKey(kKey, false));
    reg.GetValues(values);
    reg.GetValueNames(names);
    ASSERT_FALSE(values.empty());
    EXPECT_TRUE(values.front().ReadsBack);
    const std::string fromList = readAll(true);
    EXPECT_EQ(fromList, readAll(false));
    EXPECT_NE(fromList.find("Dword: 3 4 Invalid data type for 'Dword'67305985"), std::string::npos)
        << fromList;
}

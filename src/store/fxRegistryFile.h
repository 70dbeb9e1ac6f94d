#pragma once
// TfxRegFile: a store file opened as a small registry. One key is current at a time,
// opened by a path of names separated by "\" (a leading "\" starts at the root), and
// its values are read and written by name. Names are bytes of the ANSI code page and
// compared case-sensitively.
//
// Every call is one operation on the file: a change reaches the file whole or not at all
// (a failed one leaves every value as it was), even when the process is killed or the
// power fails midway. Other store objects, in this process or another, may work on the
// same file at the same time; each operation sees the file as the last one left it.

#include "registry/DateTime.h"
#include "store/StoreFormat.h"
#include "store/StoreStream.h"
#include "store/fxRecList.h"
#include "store/fxRegCacheManager.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class QIODevice;

class TfxRegFile {
public:
    enum class Access { ReadWrite, ReadOnly };

    // ReadWrite creates a missing file and initialises an empty one. ReadOnly changes
    // nothing: a file that holds no store yet fails, and every write fails; it reads a
    // file whose last change was cut off as it was before that change. A file whose
    // index does not agree with its records is refused.
    // Throws StoreError with the store's messages.
    explicit TfxRegFile(const std::string& fileName, Access access = Access::ReadWrite);
    TfxRegFile(const TfxRegFile&) = delete;
    TfxRegFile& operator=(const TfxRegFile&) = delete;

    // False when a name is missing and not created; the deepest key reached stays current.
    bool OpenKey(std::string_view path, bool create);
    void CloseKey();

    bool ValueExists(std::string_view name);
    void GetKeyNames(std::vector<std::string>& list);
    void GetValueNames(std::vector<std::string>& list);

    // Any value with out-of-record data, up to its first zero byte; empty otherwise.
    std::string ReadString(std::string_view name);
    // These fail with "Value is not assigned with current data type" for a value of
    // another type, and give 0 / false for a missing value.
    int32_t ReadInteger(std::string_view name);
    bool ReadBool(std::string_view name);
    TDateTime ReadDateTime(std::string_view name);
    // The out-of-record bytes, written from position 0; nothing for other values.
    void ReadData(std::string_view name, QIODevice& stream);

    void WriteString(std::string_view name, std::string_view text);
    void WriteInteger(std::string_view name, int32_t number);
    void WriteBool(std::string_view name, bool flag);
    void WriteDateTime(std::string_view name, TDateTime time);

    void DeleteValue(std::string_view name);
    // Removes the key and everything below it; false when the key does not exist. The key
    // that was current stays current unless it was removed too, then the root is.
    bool DeleteKey(std::string_view path);

    // The type code of a value of the current key, -1 when there is none.
    int ValueDataType(std::string_view name);

    const std::string& FileName() const { return stream_.fileName(); }
    const store::StoreHeader& Header() const { return header_; }
    const TfxRecList& Index() const { return index_; }
    const TfxRegCacheManager& Cache() const { return cache_; }
    // All zeros (Id 0) while no key is current.
    const store::StoreRecord& CurrentKey() const { return current_; }
    int32_t CurrentKeyOffset() const { return currentOffset_; }

private:
    struct Lookup {
        bool found = false;
        int32_t position = 0; // the match, or where the record belongs
        int32_t offset = 0;
        store::StoreRecord record;
    };

    void openStore();
    void initialiseNewFile();
    void loadHeader();
    void checkHeader(int64_t fileSize) const;
    void loadIndex(int64_t fileSize);
    void checkIndexRecords(int64_t fileSize);
    void createRoot();
    // Reads the header and index again and finds the current key anew.
    void reload();
    template <typename Operation> auto operation(bool writes, Operation run);

    store::StoreRecord readRecord(int32_t offset);
    store::StoreRecord readRecordDirect(int32_t offset, const char* shortReadMessage) const;
    std::string readValueData(int32_t offset);
    void writeRecordAt(int32_t offset, const store::StoreRecord& record,
                       const char* shortWriteMessage);
    void writeHeader();

    Lookup find(int32_t parentId, uint8_t kind, std::string_view name);
    void listNames(int32_t parentId, uint8_t kind, std::vector<std::string>& list);
    Lookup findTypedValue(std::string_view name, uint8_t dataType);

    // `rewritten`: the offset of the record being rewritten, which may take its own slot.
    int32_t placeSlot(uint8_t dataType, int32_t dataSize, int32_t rewritten);
    // The record at FreeTail; throws when the list does not end in a free record.
    store::StoreRecord checkedFreeTail() const;
    void freeRecord(int32_t offset, store::StoreRecord record);
    std::pair<int32_t, store::StoreRecord> writeRecord(store::StoreRecord record,
                                                       std::string_view data);
    std::pair<int32_t, store::StoreRecord>
    placeAndWrite(store::StoreRecord record, std::string_view data, const Lookup& existing);
    void writeValue(std::string_view name, uint8_t dataType, int32_t dataSize,
                    const uint8_t* inlineData, std::string_view data);
    void removeEntry(const Lookup& entry);
    void deleteTree(const store::StoreRecord& key, std::vector<int32_t>& removedIds);

    int32_t allocateBlock();
    int32_t indexBlock(int32_t directorySlot);
    void writeIndexSlots(int32_t from, int32_t to);
    void ensureRoom(int64_t growth) const;

    void requireWritable() const;
    void requireOpenKey() const;
    static void checkName(std::string_view name);

    store::StoreStream stream_;
    TfxRecList index_;
    store::StoreHeader header_;
    store::StoreRecord current_;
    int32_t currentOffset_ = 0;
    TfxRegCacheManager cache_{64};
    // Operations under way: calls made by an operation are part of it.
    int depth_ = 0;
    // The header and index must be read again before they are used.
    bool stale_ = false;
};

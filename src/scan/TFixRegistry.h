#pragma once
// The scan engine: runs a scan of the selected categories on a worker thread and
// keeps the list of problems found. The list changes only on the user-interface
// thread, so that thread may read it at any time.

#include "scan/TInvalidRegData.h"
#include "scan/TRepairItem.h"
#include "scan/UiDispatcher.h"
#include "win32/base/WinTypes.h"

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

class TFixThread;

class TFixRegistry {
public:
    // Raised on the worker thread: a receiver that updates windows hands the update to
    // the user-interface thread itself, without waiting for it (the engine's destructor
    // waits on that thread for the worker).
    using TFoundEvent = std::function<void(TFixRegistry* Sender, TRepairItem Datatype)>;
    using TProgressingEvent = std::function<void(TFixRegistry* Sender, int percent)>;
    using TKeyChangeEvent = std::function<void(TFixRegistry* Sender, const std::string& name)>;
    using TStatusEvent =
        std::function<void(TFixRegistry* Sender, TRepairItem curItem, const std::string& Desc)>;
    // Raised on the user-interface thread.
    using TNotifyEvent = std::function<void(TFixRegistry* Sender)>;

    // The scanner of one category: walks its keys on the worker thread and reports
    // through the engine's operations for scanners (below). The walk has raised
    // OnStatus for the category before it calls the scanner. An exception ends the
    // whole scan.
    using TScanner = std::function<void(TFixRegistry& engine)>;

    // Names ordered byte by byte, with case; a prefix comes before the longer name.
    using TNameSet = std::set<std::string>;

    // Made on the user-interface thread; `ui` must outlive the engine.
    explicit TFixRegistry(UiDispatcher& ui);
    // Stops a running scan and waits for its worker to end; OnFinished is not raised.
    ~TFixRegistry();
    TFixRegistry(const TFixRegistry&) = delete;
    TFixRegistry& operator=(const TFixRegistry&) = delete;

    // Set by the caller before Start, and left alone while a scan runs.
    std::vector<std::string> ExcludeKEYList; // one exclusion entry each
    TRepairItems ScanItems;
    TFoundEvent OnFound;
    TProgressingEvent OnProgressing;
    TKeyChangeEvent OnKeyChange;
    TStatusEvent OnStatus;
    TNotifyEvent OnFinished;

    // Replaces ExcludeKEYList with the lines of `text` (CR LF, LF or CR line ends).
    void SetExcludeKEYText(const std::string& text);

    // The scanner each category runs from the next Start on; an empty one leaves the
    // category at its status.
    void SetScanner(TRepairItem item, TScanner scanner);

    // --- user-interface thread ---
    // Does nothing while a worker exists. Otherwise empties the problem list, clears a
    // previous Stop and starts the worker; returns at once.
    void Start();
    // The worker ends at its next stop check; returns at once.
    void Stop();
    // A worker exists and has not been told to terminate.
    bool IsRunning() const;
    // In the order found; kept until the next Start.
    const std::vector<TInvalidRegData>& InvalidDataList() const { return invalidDataList_; }
    // The message of the error that ended the last scan early; empty after a scan that
    // ran to its end or was stopped.
    const std::string& LastScanError() const { return lastScanError_; }

    // Repairs the first problem of the list whose category, key location and value name
    // equal these exactly: saves what it deletes to `undoFile` (none when empty), deletes
    // the key or value its category names, and on success removes the record. False when
    // no record matches, a scan is running, or the deletion failed (the record stays).
    // A record whose repair would delete a key with an exclusion entry at or below it
    // (ExclusionWithin) is refused: nothing is deleted, and LastFixRefusal says why.
    // An export error (EExportError) reaches the caller, and nothing is deleted then.
    bool FixItem(TRepairItem category, const std::string& undoFile, const std::string& keyLocation,
                 const std::string& valueName);
    // Writes the registry changes of the repairs to the hive files now. False when a
    // hive could not be written.
    bool FlushRepairs();
    // Why the last FixItem refused its record, as a sentence; empty when it did not refuse
    // one (it succeeded, or the deletion itself failed).
    const std::string& LastFixRefusal() const { return lastFixRefusal_; }

    // --- for the scanners, on the worker thread ---
    // The worker has been told to terminate, the application is shutting down, or Stop
    // was called.
    bool IsStopped() const;
    // Hands the record to the user-interface thread, which appends it to the list, and
    // waits until it has. Called on the user-interface thread, it appends at once.
    void AddInvalidData(TRepairItem category, const std::string& keyLocation,
                        const std::string& diagnosis, const std::string& valueData,
                        const std::string& valueName);
    // Whether an entry of ExcludeKEYList excludes the key location `candidate`. An entry
    // holding "(" matches when its text before the first "(" (when not empty) occurs in
    // the candidate, compared through the code page's upper case; any other entry
    // matches when it equals the candidate, ignoring ASCII case.
    bool IsExcluded(const std::string& candidate) const;
    // Whether any entry could exclude a key: scanners build a key's location for
    // IsExcluded only when it is true.
    bool HasExclusions() const { return !ExcludeKEYList.empty(); }
    // The entry of ExcludeKEYList that lies at or below the key `keyLocation` (one that
    // excludes the key itself, or one naming a key below it, "(include subkey)" or not);
    // empty when none does. A repair that deletes the key would delete what it keeps.
    std::string ExclusionWithin(const std::string& keyLocation) const;
    // Opens root\keyPath (the root itself for an empty path) with a registry object of
    // its own and adds each subkey name to `names` and its ASCII upper case to
    // `upperNames`. False, with the sets untouched, when the key cannot be opened.
    static bool CollectKeyNames(HKEY root, const std::string& keyPath, TNameSet& upperNames,
                                TNameSet& names);

    // Raise the events when set. Progress before examining item `index` (from 0) of a
    // list of `count` items: the whole part of (index + 1) / count * 100.
    void RaiseProgress(size_t index, size_t count);
    void RaiseKeyChange(const std::string& keyPath);
    void RaiseFound(TRepairItem category);

private:
    friend class TFixThread;
    void RaiseStatus(TRepairItem item);
    // The end handler, on the user-interface thread.
    void ScanEnded();

    UiDispatcher& ui_;
    std::atomic<bool> StopRequested{false};
    std::vector<TInvalidRegData> invalidDataList_;
    std::array<TScanner, kRepairItemCount> scanners_;
    std::unique_ptr<TFixThread> FixThread;
    std::string lastScanError_;
    std::string lastFixRefusal_;
    const std::thread::id uiThread_; // the thread that made the engine
    // End handlers still queued when the engine is destroyed find this gone.
    std::shared_ptr<char> alive_ = std::make_shared<char>();
};

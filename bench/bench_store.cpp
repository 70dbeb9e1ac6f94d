// The settings file with about 10,000 records: \Bench with 100 keys of 99 values each
// (integers and strings). Lookups go through the index's binary search and the record
// cache; writes go straight to the file.

#include "store/fxRegistryFile.h"

#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kKeys = 100;
constexpr int kValuesPerKey = 99;

std::string keyPath(int k) {
    return "\\Bench\\key" + std::to_string(1000 + k);
}

std::string valueName(int v) {
    return "value" + std::to_string(1000 + v);
}

const std::string& benchStore() {
    static QTemporaryDir dir;
    static const std::string path = [] {
        const std::string file = dir.path().toStdString() + "/system.dat";
        TfxRegFile store(file);
        for (int k = 0; k < kKeys; ++k) {
            store.OpenKey(keyPath(k), true);
            for (int v = 0; v < kValuesPerKey; ++v) {
                if (v % 2)
                    store.WriteInteger(valueName(v), v);
                else
                    store.WriteString(valueName(v), "C:\\Program Files\\App " + std::to_string(v));
            }
        }
        return file;
    }();
    return path;
}

struct Pick {
    int key, value;
};

std::vector<Pick> picks() {
    std::mt19937 random(7);
    std::vector<Pick> list(4096);
    for (Pick& p : list)
        p = {int(random() % kKeys), int(random() % kValuesPerKey)};
    return list;
}

void StoreOpen(benchmark::State& state) {
    const std::string& path = benchStore();
    for (auto _ : state) {
        TfxRegFile store(path);
        benchmark::DoNotOptimize(store.Index().size());
    }
}

void StoreOpenKeyAndRead(benchmark::State& state) {
    TfxRegFile store(benchStore());
    const std::vector<Pick> list = picks();
    size_t i = 0;
    for (auto _ : state) {
        const Pick& p = list[i++ % list.size()];
        store.OpenKey(keyPath(p.key), false);
        if (p.value % 2)
            benchmark::DoNotOptimize(store.ReadInteger(valueName(p.value)));
        else
            benchmark::DoNotOptimize(store.ReadString(valueName(p.value)));
    }
    state.SetLabel(std::to_string(store.Index().size()) + " records");
}

void StoreValueExistsInOneKey(benchmark::State& state) {
    TfxRegFile store(benchStore());
    store.OpenKey(keyPath(50), false);
    const std::vector<Pick> list = picks();
    size_t i = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(store.ValueExists(valueName(list[i++ % list.size()].value)));
}

void StoreRewriteInteger(benchmark::State& state) {
    TfxRegFile store(benchStore());
    const std::vector<Pick> list = picks();
    size_t i = 0;
    for (auto _ : state) {
        const Pick& p = list[i++ % list.size()];
        store.OpenKey(keyPath(p.key), false);
        store.WriteInteger(valueName(p.value | 1), int32_t(i));
    }
}

void StoreInsertAndDeleteValue(benchmark::State& state) {
    TfxRegFile store(benchStore());
    const std::vector<Pick> list = picks();
    size_t i = 0;
    for (auto _ : state) {
        const Pick& p = list[i++ % list.size()];
        store.OpenKey(keyPath(p.key), false);
        store.WriteString("added", "text");
        store.DeleteValue("added");
    }
}

} // namespace

BENCHMARK(StoreOpen);
BENCHMARK(StoreOpenKeyAndRead);
BENCHMARK(StoreValueExistsInOneKey);
BENCHMARK(StoreRewriteInteger);
BENCHMARK(StoreInsertAndDeleteValue);

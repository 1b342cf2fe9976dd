// The settings store at 10 MB: one value read (the whole file parsed) and one value written (parsed,
// written anew and renamed) through the registry stand-in. Both should stay linear in the store's
// size: well under a second each at this size. And one save of the whole settings record, as the
// plug-in makes it, into a store that holds nothing else.
//
//   build/linux/bench-registry
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/win32.h"
#include "settings/encoder_settings.h"
#include "settings/settings_registry.h"

namespace {

constexpr char kKey[] = "Software\\Bench\\Settings";

// About `bytes` of DWORD values, spread over keys of 1000 values each.
void WriteStore(size_t bytes) {
    std::ofstream out(standin::RegistryFilePath(), std::ios::binary | std::ios::trunc);
    out << "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\" << kKey << "]\n\"Probe\"=dword:00000001\n";
    size_t written = 0;
    char line[64];
    for (int i = 0; written < bytes; ++i) {
        if (i % 1000 == 0) out << "\n[HKEY_CURRENT_USER\\Software\\Bench\\Key" << i / 1000 << "]\n";
        int n = std::snprintf(line, sizeof line, "\"Value%d\"=dword:%08x\n", i, i);
        out.write(line, n);
        written += static_cast<size_t>(n);
    }
}

void ReadOneValue(benchmark::State& state) {
    WriteStore(static_cast<size_t>(state.range(0)) << 20);
    for (auto _ : state) {
        HKEY key = nullptr;
        DWORD value = 0, type = 0, size = 4;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key) != ERROR_SUCCESS ||
            RegQueryValueExA(key, "Probe", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS) {
            state.SkipWithError("read failed");
        }
        if (key) RegCloseKey(key);
        benchmark::DoNotOptimize(value);
    }
}

void WriteOneValue(benchmark::State& state) {
    WriteStore(static_cast<size_t>(state.range(0)) << 20);
    DWORD value = 0;
    for (auto _ : state) {
        HKEY key = nullptr;
        ++value;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS ||
            RegSetValueExA(key, "Probe", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4) != ERROR_SUCCESS) {
            state.SkipWithError("write failed");
        }
        if (key) RegCloseKey(key);
    }
}

void SaveSettings(benchmark::State& state) {
    std::remove(standin::RegistryFilePath().c_str());
    EncoderSettings record;
    if (LoadSettings(&record) != S_OK) state.SkipWithError("no defaults");
    for (auto _ : state) {
        ++record.Bitrate;
        if (!WriteSettingsToRegistry(&record)) state.SkipWithError("save failed");
    }
}

BENCHMARK(SaveSettings)->Unit(benchmark::kMillisecond);
BENCHMARK(ReadOneValue)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK(WriteOneValue)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    // A store of its own, so that the user's settings stay as they are.
    char dir[] = "/tmp/brevlo-bench-registry-XXXXXX";
    if (!mkdtemp(dir)) return 1;
    setenv("XDG_CONFIG_HOME", dir, 1);
    std::system(("mkdir -p '" + std::string(dir) + "/brevlo'").c_str());
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::system(("rm -rf '" + std::string(dir) + "'").c_str());
    return 0;
}

#include "host/progress.h"

#include <chrono>
#include <csignal>
#include <cstdio>

#include "host/host_platform.h"

namespace {

using Clock = std::chrono::steady_clock;

bool g_drawing = false;
bool g_drawn = false;
Clock::time_point g_start;
Clock::time_point g_lastDraw;
volatile std::sig_atomic_t g_interrupted = 0;

void FormatDuration(double seconds, char* text, size_t size) {
    if (seconds < 0 || seconds > 359999) {
        std::snprintf(text, size, "--:--");
        return;
    }
    long s = static_cast<long>(seconds + 0.5);
    if (s >= 3600) {
        std::snprintf(text, size, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    } else {
        std::snprintf(text, size, "%02ld:%02ld", s / 60, s % 60);
    }
}

void (*g_beforeDying)() = nullptr;

// The signal's default action, after the hook has removed what must not outlive the process.
void EndAtOnce(int signal) {
    if (g_beforeDying) g_beforeDying();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

// The first stop signal asks for an abort; a second one, of any kind, ends the process.
void OnStopSignal(int signal) {
    if (g_interrupted) {
        EndAtOnce(signal);
        return;
    }
    g_interrupted = signal;
    std::signal(signal, OnStopSignal);
}

}  // namespace

void BeginProgress() {
    g_start = Clock::now();
    g_lastDraw = Clock::time_point{};
    g_drawing = StandardErrorIsTerminal();
    g_drawn = false;
}

double ProgressSeconds() { return std::chrono::duration<double>(Clock::now() - g_start).count(); }

void UpdateProgress(int32_t current, int32_t total) {
    if (!g_drawing || total <= 0) return;
    Clock::time_point now = Clock::now();
    bool last = current + 1 >= total;
    if (!last && now - g_lastDraw < std::chrono::milliseconds(100)) return;
    g_lastDraw = now;
    double done = static_cast<double>(current + 1) / total;
    if (done > 1) done = 1;
    double elapsed = ProgressSeconds();
    double remaining = done > 0 ? elapsed * (1 - done) / done : -1;
    constexpr int kWidth = 30;
    char bar[kWidth + 1];
    int filled = static_cast<int>(done * kWidth);
    for (int i = 0; i < kWidth; ++i) bar[i] = i < filled ? '#' : '-';
    bar[kWidth] = 0;
    char elapsedText[32], remainingText[32];
    FormatDuration(elapsed, elapsedText, sizeof elapsedText);
    FormatDuration(remaining, remainingText, sizeof remainingText);
    std::fprintf(stderr, "\r[%s] %3d%% frame %d/%d  elapsed %s  remaining %s ", bar, static_cast<int>(done * 100),
                 current + 1, total, elapsedText, remainingText);
    std::fflush(stderr);
    g_drawn = true;
}

void EndProgress() {
    if (g_drawn) std::fputc('\n', stderr);
    g_drawn = false;
}

void CatchInterrupt(void (*beforeDying)()) {
    g_beforeDying = beforeDying;
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
    CatchPlatformSignals(OnStopSignal, EndAtOnce);
}

bool InterruptRequested() { return g_interrupted != 0; }

int InterruptSignal() { return g_interrupted; }

const char* SignalName(int signal) {
    switch (signal) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    default: {
        const char* name = PlatformSignalName(signal);
        return name ? name : "a signal";
    }
    }
}

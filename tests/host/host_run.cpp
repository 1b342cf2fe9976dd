#include "tests/host/host_run.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

HostRun RunHost(const std::vector<std::string>& arguments) { return FinishHost(StartHost(arguments)); }

StartedHost StartHost(const std::vector<std::string>& arguments, const std::function<void()>& inChild) {
    std::vector<std::string> all = {BREVLO_HOST_PATH, "--module", BREVLO_MODULE_PATH};
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(&a[0]);
    argv.push_back(nullptr);

    static int runs = 0;
    StartedHost host;
    host.outPath = TempPath("host-stdout-" + std::to_string(++runs));
    host.errPath = TempPath("host-stderr-" + std::to_string(runs));
    host.pid = fork();
    if (host.pid == 0) {
        int out = open(host.outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err = open(host.errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out < 0 || err < 0) _exit(127);
        dup2(out, 1);
        dup2(err, 2);
        if (inChild) inChild();
        execv(argv[0], argv.data());
        _exit(127);
    }
    return host;
}

HostRun FinishHost(const StartedHost& host, int* signal, long* peakKilobytes) {
    HostRun run;
    int status = 0;
    if (signal) *signal = 0;
    rusage usage{};
    if (host.pid > 0 && wait4(host.pid, &status, 0, &usage) == host.pid) {
        if (peakKilobytes) *peakKilobytes = usage.ru_maxrss;
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (signal && WIFSIGNALED(status)) *signal = WTERMSIG(status);
    }
    run.out = ReadFileBytes(host.outPath);
    run.err = ReadFileBytes(host.errPath);
    unlink(host.outPath.c_str());
    unlink(host.errPath.c_str());
    return run;
}

std::string TempPath(const std::string& name) {
    const char* base = std::getenv("XDG_CONFIG_HOME");  // private to this test process
    // The process id keeps parallel test processes apart; the extension stays last.
    size_t dot = name.rfind('.');
    std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
    std::string extension = dot == std::string::npos ? "" : name.substr(dot);
    return std::string(base ? base : "/tmp") + "/" + stem + "-" + std::to_string(getpid()) + extension;
}

bool FileExists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

std::string ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

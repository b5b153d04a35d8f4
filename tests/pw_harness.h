// A private PipeWire daemon and sink-monitor capture for tests, built on the shell harness in
// tests/harness. Everything runs under its own runtime dir; only PIDs started here are killed.
#pragma once

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace pwh {

inline std::string harness_dir() {
    return std::string(VELTA_SOURCE_DIR) + "/tests/harness";
}

// Runs `command` with /bin/sh; returns its standard output, exit status in `status`.
inline std::string run(const std::string& command, int* status = nullptr) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        if (status != nullptr) *status = -1;
        return out;
    }
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0)
        out.append(chunk, n);
    int rc = pclose(pipe);
    if (status != nullptr) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return out;
}

inline bool tools_present() {
    int status = 0;
    run("command -v pipewire wireplumber pw-record pw-dump pw-cli pw-metadata pw-link "
        "dbus-daemon python3 >/dev/null 2>&1",
        &status);
    return status == 0;
}

struct Session {
    std::string dir; // empty when not running
};

constexpr const char* kSessionVars[] = {"XDG_RUNTIME_DIR",          "PIPEWIRE_RUNTIME_DIR",
                                        "XDG_CONFIG_HOME",          "XDG_STATE_HOME",
                                        "DBUS_SESSION_BUS_ADDRESS", "PWS_DIR"};

// Starts dbus + pipewire (graph clock at `rate`, so a stream at that rate is not resampled)
// + wireplumber, and points this process's environment at it.
inline bool session_start(Session& session, uint32_t rate) {
    std::string command = "eval \"$(PWS_RATE=" + std::to_string(rate) + " '" + harness_dir() +
                          "/pipewire-session.sh' start)\" || exit 1; printf '%s\\n'";
    for (const char* var : kSessionVars)
        command += std::string(" \"$") + var + "\"";
    int status = 0;
    std::istringstream lines(run(command, &status));
    if (status != 0) return false;
    std::vector<std::string> values;
    for (std::string line; std::getline(lines, line);)
        values.push_back(line);
    if (values.size() != std::size(kSessionVars)) return false;
    for (size_t i = 0; i < values.size(); i++)
        setenv(kSessionVars[i], values[i].c_str(), 1);
    unsetenv("PIPEWIRE_REMOTE");
    session.dir = values.back();
    return true;
}

inline void session_stop(Session& session) {
    if (session.dir.empty()) return;
    run("'" + harness_dir() + "/pipewire-session.sh' stop '" + session.dir + "'");
    session.dir.clear();
}

// The daemon's PID as recorded by the session script, checked against /proc.
inline pid_t session_daemon_pid(const Session& session) {
    std::ifstream pids(session.dir + "/pids");
    long pid = 0;
    std::string name;
    while (pids >> pid >> name) {
        if (name != "pipewire") continue;
        std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
        std::string actual;
        if (comm >> actual && actual == "pipewire") return static_cast<pid_t>(pid);
    }
    return 0;
}

struct SessionGuard {
    Session session;
    ~SessionGuard() { session_stop(session); }
};

struct Capture {
    std::string pid; // empty when not running
};

// Records the sink's monitor as float WAV; returns once the recorder is linked.
inline bool capture_start(Capture& capture, const std::string& path, uint32_t rate) {
    int status = 0;
    std::string out = run(
        "'" + harness_dir() + "/capture.sh' start '" + path + "' " + std::to_string(rate), &status);
    while (!out.empty() && (out.back() == '\n' || out.back() == ' '))
        out.pop_back();
    if (status != 0 || out.empty()) return false;
    capture.pid = out;
    return true;
}

inline void capture_stop(Capture& capture) {
    if (capture.pid.empty()) return;
    run("'" + harness_dir() + "/capture.sh' stop " + capture.pid);
    capture.pid.clear();
}

struct CaptureGuard {
    Capture capture;
    ~CaptureGuard() { capture_stop(capture); }
};

// Interleaved stereo samples in int16 units (a float sample is scaled by 32768), so a float
// capture and a 16-bit reference compare exactly.
struct Wav {
    uint32_t rate = 0;
    uint16_t channels = 0;
    std::vector<float> samples;
};

inline bool read_wav(const std::string& path, Wav& wav) {
    std::ifstream file(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    auto u32 = [&](size_t at) {
        uint32_t v;
        memcpy(&v, bytes.data() + at, 4);
        return v;
    };
    auto u16 = [&](size_t at) {
        uint16_t v;
        memcpy(&v, bytes.data() + at, 2);
        return v;
    };
    if (bytes.size() < 12 || bytes.compare(0, 4, "RIFF") != 0 || bytes.compare(8, 4, "WAVE") != 0)
        return false;
    uint16_t format = 0, bits = 0;
    for (size_t at = 12; at + 8 <= bytes.size();) {
        std::string id = bytes.substr(at, 4);
        size_t size = u32(at + 4);
        size_t body = at + 8;
        if (id == "fmt " && body + 16 <= bytes.size()) {
            format = u16(body);
            wav.channels = u16(body + 2);
            wav.rate = u32(body + 4);
            bits = u16(body + 14);
            if (format == 0xFFFE && size >= 26) format = u16(body + 24); // extensible
        } else if (id == "data") {
            size = std::min(size, bytes.size() - body); // recorder stopped mid-write
            if (format == 3 && bits == 32) {
                for (size_t i = 0; i + 4 <= size; i += 4) {
                    float v;
                    memcpy(&v, bytes.data() + body + i, 4);
                    wav.samples.push_back(v * 32768.0f);
                }
            } else if (format == 1 && bits == 16) {
                for (size_t i = 0; i + 2 <= size; i += 2)
                    wav.samples.push_back(static_cast<int16_t>(u16(body + i)));
            } else {
                return false;
            }
            return wav.channels == 2;
        }
        at = body + size + (size & 1);
    }
    return false;
}

// Index of the first stereo frame with a non-zero sample, or the frame count when silent.
inline size_t first_sounding_frame(const std::vector<float>& samples) {
    for (size_t i = 0; i < samples.size(); i++)
        if (samples[i] != 0.0f) return i / 2;
    return samples.size() / 2;
}

inline size_t last_sounding_frame_end(const std::vector<float>& samples) {
    for (size_t i = samples.size(); i > 0; i--)
        if (samples[i - 1] != 0.0f) return (i + 1) / 2;
    return 0;
}

// state and format rate of the node "velta", e.g. "running 44100", or "" when absent.
inline std::string velta_node_format() {
    return run(
        "pw-dump 2>/dev/null | python3 -c 'import json,sys\n"
        "for o in json.load(sys.stdin):\n"
        "  i=o.get(\"info\") or {}\n"
        "  if (i.get(\"props\") or {}).get(\"node.name\")==\"velta\":\n"
        "    f=((i.get(\"params\") or {}).get(\"Format\") or [{}])[0]\n"
        "    print(i.get(\"state\"), f.get(\"format\"), f.get(\"rate\"), f.get(\"channels\"))'");
}

} // namespace pwh

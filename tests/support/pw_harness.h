// A private PipeWire daemon and sink-monitor capture for tests, built on the shell harness in
// tests/harness. Everything runs under its own runtime dir; only PIDs started here are killed.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace pwh {

inline const std::string kHarness = std::string(VELTA_SOURCE_DIR) + "/tests/harness/";

// Runs `command` with /bin/sh; returns its standard output, exit status in `status`.
inline std::string run(const std::string& command, int* status = nullptr) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    char chunk[4096];
    for (size_t n; pipe != nullptr && (n = fread(chunk, 1, sizeof chunk, pipe)) > 0;)
        out.append(chunk, n);
    int rc = pipe != nullptr ? pclose(pipe) : -1;
    if (status != nullptr) *status = rc != -1 && WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return out;
}

inline bool tools_present() {
    int status = 0;
    run("command -v pipewire wireplumber pw-record pw-dump pw-cli pw-metadata pw-link "
        "dbus-daemon python3 >/dev/null 2>&1",
        &status);
    return status == 0;
}

// Starts dbus + pipewire (graph clock at `rate`, so a stream at that rate is not resampled)
// + wireplumber, points this process's environment at it and returns its directory ("" when
// it did not start).
inline std::string session_start(uint32_t rate) {
    static const char* const kVars[] = {"XDG_RUNTIME_DIR",          "PIPEWIRE_RUNTIME_DIR",
                                        "XDG_CONFIG_HOME",          "XDG_STATE_HOME",
                                        "DBUS_SESSION_BUS_ADDRESS", "PWS_DIR"};
    std::string command = "eval \"$(PWS_RATE=" + std::to_string(rate) + " '" + kHarness +
                          "pipewire-session.sh' start)\" || exit 1; printf '%s\\n'";
    for (const char* var : kVars)
        command += std::string(" \"$") + var + "\"";
    int status = 0;
    std::istringstream lines(run(command, &status));
    std::string value;
    for (const char* var : kVars) {
        if (status != 0 || !std::getline(lines, value)) return "";
        setenv(var, value.c_str(), 1);
    }
    unsetenv("PIPEWIRE_REMOTE");
    return value;
}

inline void session_stop(std::string& dir) {
    if (!dir.empty()) run("'" + kHarness + "pipewire-session.sh' stop '" + dir + "'");
    dir.clear();
}

// Takes the session's pipewire and wireplumber down (the bus stays), or brings them up again
// in the same runtime folder, as a user restarting the sound server would.
inline bool session_down(const std::string& dir) {
    int status = 0;
    run("'" + kHarness + "pipewire-session.sh' down '" + dir + "'", &status);
    return status == 0;
}

inline bool session_up(const std::string& dir) {
    int status = 0;
    run("'" + kHarness + "pipewire-session.sh' up '" + dir + "' >/dev/null", &status);
    return status == 0;
}

// The daemon's PID as recorded by the session script, checked against /proc.
inline pid_t session_daemon_pid(const std::string& dir) {
    std::ifstream pids(dir + "/pids");
    long pid = 0;
    std::string name, actual;
    while (pids >> pid >> name) {
        std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
        if (name == "pipewire" && comm >> actual && actual == name) return pid_t(pid);
    }
    return 0;
}

// Records the sink's monitor as float WAV; returns the recorder's PID once it is linked.
inline std::string capture_start(const std::string& path, uint32_t rate) {
    int status = 0;
    std::string pid =
        run("'" + kHarness + "capture.sh' start '" + path + "' " + std::to_string(rate), &status);
    while (!pid.empty() && std::isspace(static_cast<unsigned char>(pid.back())))
        pid.pop_back();
    return status == 0 ? pid : "";
}

inline void capture_stop(std::string& pid) {
    if (!pid.empty()) run("'" + kHarness + "capture.sh' stop " + pid);
    pid.clear();
}

// Interleaved stereo samples of a float or 16-bit WAV in int16 units (a float sample is scaled
// by 32768), so a float capture and a 16-bit reference compare exactly.
struct Wav {
    uint32_t rate = 0;
    std::vector<float> samples;
};

inline bool read_wav(const std::string& path, Wav& wav) {
    std::ifstream file(path, std::ios::binary);
    std::string b((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    auto u = [&](size_t at, size_t n) {
        uint32_t v = 0;
        memcpy(&v, b.data() + at, n);
        return v;
    };
    if (b.size() < 12 || b.compare(0, 4, "RIFF") != 0 || b.compare(8, 4, "WAVE") != 0) return false;
    uint32_t format = 0, bits = 0, channels = 0;
    for (size_t at = 12; at + 8 <= b.size();) {
        size_t size = u(at + 4, 4), body = at + 8;
        if (b.compare(at, 4, "fmt ") == 0 && body + 16 <= b.size()) {
            format = u(body, 2) == 0xFFFE && size >= 26 ? u(body + 24, 2) : u(body, 2);
            channels = u(body + 2, 2);
            wav.rate = u(body + 4, 4);
            bits = u(body + 14, 2);
        } else if (b.compare(at, 4, "data") == 0) {
            size = std::min(size, b.size() - body); // recorder stopped mid-write
            for (size_t i = 0; format == 3 && bits == 32 && i + 4 <= size; i += 4) {
                float v;
                memcpy(&v, b.data() + body + i, 4);
                wav.samples.push_back(v * 32768.0f);
            }
            for (size_t i = 0; format == 1 && bits == 16 && i + 2 <= size; i += 2)
                wav.samples.push_back(int16_t(u(body + i, 2)));
            return channels == 2 && (format == 3 || format == 1);
        }
        at = body + size + (size & 1);
    }
    return false;
}

// The sounding stretch of a capture: its first frame with a non-zero sample (the frame count
// when silent), and the frame after its last one.
inline size_t first_sounding_frame(const std::vector<float>& s) {
    size_t i = 0;
    while (i < s.size() && s[i] == 0.0f)
        i++;
    return i / 2;
}

inline size_t last_sounding_frame_end(const std::vector<float>& s) {
    size_t i = s.size();
    while (i > 0 && s[i - 1] == 0.0f)
        i--;
    return (i + 1) / 2;
}

// state, sample format, rate and channels of the node "velta", e.g. "running F32LE 44100 2".
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

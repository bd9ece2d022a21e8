#include "PulseServer.h"

#include "Spawn.h"

#include <chrono>
#include <csignal>
#include <pulse/simple.h>
#include <sys/wait.h>

namespace sonavel::fakes {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

PulseServer::PulseServer() {
    std::string pattern = (fs::temp_directory_path() / "sonavel-pulse-XXXXXX").string();
    m_dir = mkdtemp(pattern.data());
    const fs::path socket = m_dir / "native";
    m_pid = SpawnLogged(
        {"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit",
         // A sink that rewinds re-renders sound its monitor has already
         // recorded (when a stream starts or comes back after running dry),
         // and the recording then holds some of it twice.
         "--use-pid-file=no", "-L",
         "module-null-sink sink_name=sonavel_test rate=48000 norewinds=1", "-L",
         "module-native-protocol-unix socket=" + socket.string() + " auth-anonymous=1"},
        {"XDG_RUNTIME_DIR", "HOME", "DISPLAY"},
        {"XDG_RUNTIME_DIR=" + m_dir.string(), "HOME=" + m_dir.string()}, m_dir / "log", m_why);
    if (m_pid == 0)
        return;
    if (!WaitForProcess(
            m_pid, [&] { return fs::exists(socket); }, m_dir / "log", m_why))
        Kill();
}

PulseServer::~PulseServer() {
    Kill();
    std::error_code ec;
    fs::remove_all(m_dir, ec);
}

void PulseServer::Kill() {
    if (m_pid <= 0)
        return;
    kill(m_pid, SIGKILL);
    waitpid(m_pid, nullptr, 0);
    m_pid = 0;
}

MonitorRecorder::MonitorRecorder(const PulseServer& server) {
    const pa_sample_spec format{PA_SAMPLE_S16NE, PulseServer::Rate, 1};
    // Fragments of 20 ms keep the null sink running at a steady pace.
    const uint32_t unset = static_cast<uint32_t>(-1);
    const pa_buffer_attr attr{unset, unset, unset, unset, 960 * 2};
    m_stream = pa_simple_new(server.Address().c_str(), "sonavel-test", PA_STREAM_RECORD,
                             "sonavel_test.monitor", "monitor", &format, nullptr, &attr, nullptr);
    if (m_stream == nullptr)
        return;
    m_thread = std::thread([this] {
        std::vector<int16_t> chunk(960);
        while (!m_stop.load() &&
               pa_simple_read(m_stream, chunk.data(), chunk.size() * 2, nullptr) >= 0) {
            std::lock_guard lock(m_mutex);
            m_samples.insert(m_samples.end(), chunk.begin(), chunk.end());
            m_arrivals.push_back(std::chrono::steady_clock::now().time_since_epoch().count());
        }
    });
}

bool MonitorRecorder::WaitFlowing() {
    // Ten chunks of 20 ms that came one by one, not in a burst.
    const auto deadline = std::chrono::steady_clock::now() + 15s;
    while (m_stream != nullptr && std::chrono::steady_clock::now() < deadline) {
        {
            std::lock_guard lock(m_mutex);
            const size_t n = m_arrivals.size();
            if (n >= 10 && m_arrivals[n - 1] - m_arrivals[n - 10] > 150'000'000)
                return true;
        }
        std::this_thread::sleep_for(20ms);
    }
    return false;
}

void MonitorRecorder::Stop() {
    m_stop.store(true);
    if (m_thread.joinable())
        m_thread.join();
    if (m_stream != nullptr)
        pa_simple_free(m_stream);
    m_stream = nullptr;
}

std::vector<float> MonitorRecorder::Samples() const {
    std::lock_guard lock(m_mutex);
    std::vector<float> samples;
    for (int16_t s : m_samples)
        samples.push_back(static_cast<float>(s) / 32768.0f);
    return samples;
}

} // namespace sonavel::fakes

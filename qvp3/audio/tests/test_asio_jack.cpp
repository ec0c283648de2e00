// The ASIO host against a real JACK server: a dummy server of the test's
// own (`jackd -r -d dummy -r 44100`, at real-time pace without hardware)
// plays a sine rendered through the render worker for a while, a listening
// client checks what arrived, and then the server goes away: the host stops
// with its message and closes without hanging. Skipped, with a message,
// where jackd is missing or does not start.
#include <gtest/gtest.h>
#include <jack/jack.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/message_target.h"
#include "dummy_jack_server.h"
#include "qvp3_audio/asio_host.h"

namespace qvp3 {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using qvp3::testing::DummyJackServer;

constexpr double kRate = 44100.0;
constexpr double kSineHz = 441.0;
constexpr float kAmplitude = 0.5f;

// Aborts the test program when a step does not end in time: a hang is a
// failure, never a test that waits forever.
class Watchdog {
public:
    Watchdog(std::chrono::seconds limit, const char* what)
        : thread_([this, limit, what] {
              std::unique_lock lock(mutex_);
              if (!done_.wait_for(lock, limit, [this] { return disarmed_; })) {
                  std::fprintf(stderr, "hang: %s did not end within %lld s\n", what,
                               static_cast<long long>(limit.count()));
                  std::abort();
              }
          }) {}
    ~Watchdog() {
        {
            std::lock_guard lock(mutex_);
            disarmed_ = true;
        }
        done_.notify_all();
        thread_.join();
    }

private:
    std::mutex mutex_;
    std::condition_variable done_;
    bool disarmed_ = false;
    std::thread thread_;
};

// The render routine: a sine on the left, its negative on the right, handed
// back to the host as the render host does. Nothing allocated per block.
struct SineTarget : CRenderTarget {
    CSpecAsioHost* host = nullptr;
    std::vector<float> left = std::vector<float>(8192), right = std::vector<float>(8192);
    double phase = 0.0;
    std::atomic<std::uint64_t> blocks{0};
    std::atomic<std::uint32_t> lastFrames{0};
    void RenderBlock(float**, std::uint32_t frames, std::uint32_t, double) override {
        const std::uint32_t n = std::min<std::uint32_t>(frames, 8192);
        for (std::uint32_t i = 0; i < n; ++i) {
            left[i] = kAmplitude * static_cast<float>(std::sin(phase));
            right[i] = -left[i];
            phase += 2.0 * M_PI * kSineHz / kRate;
        }
        phase = std::fmod(phase, 2.0 * M_PI);
        float* out[2] = {left.data(), right.data()};
        host->WriteOutputs(out, frames);
        lastFrames = frames;
        blocks.fetch_add(1);
    }
    std::int32_t OutputMode() const override { return 0; }
};

// JACK runs the listener after the host within a cycle, ordered through
// futexes in shared memory that ThreadSanitizer cannot see. The copy out of
// the host's port buffers is kept out of its view; all else stays in it.
__attribute__((no_sanitize("thread"))) void copyUnwatched(const float* from, float* to, std::size_t n) {
    const volatile float* source = from;
    for (std::size_t i = 0; i < n; ++i) to[i] = source[i];
}

// A client of the test's own that records what reaches it from the host's
// two ports, and counts the server's xruns.
class Listener {
public:
    explicit Listener(const std::string& server) : left_(20 * 44100), right_(20 * 44100) {
        jack_status_t status{};
        client_ = jack_client_open("qvp3-listener", static_cast<jack_options_t>(JackNoStartServer | JackServerName),
                                   &status, server.c_str());
        if (client_ == nullptr) return;
        in_[0] = jack_port_register(client_, "in_1", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        in_[1] = jack_port_register(client_, "in_2", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        jack_set_process_callback(client_, &Listener::onProcess, this);
        jack_set_xrun_callback(client_, [](void* self) { return static_cast<Listener*>(self)->xruns_++, 0; }, this);
        jack_activate(client_);
    }
    ~Listener() {
        if (client_ != nullptr) jack_client_close(client_);
    }
    bool ok() const { return client_ != nullptr && in_[0] != nullptr && in_[1] != nullptr; }
    // Connects every output port of the client named `from` to ours.
    int connectFrom(const std::string& from) {
        int connected = 0;
        for (int k = 0; k < 2; ++k) {
            const std::string source = from + ":out_" + std::to_string(k + 1);
            if (jack_connect(client_, source.c_str(), jack_port_name(in_[k])) == 0) ++connected;
        }
        return connected;
    }
    bool connected(const std::string& from, const std::string& to) const {
        const jack_port_t* port = jack_port_by_name(client_, from.c_str());
        return port != nullptr && jack_port_connected_to(port, to.c_str()) != 0;
    }
    std::size_t captured() const { return count_.load(std::memory_order_acquire); }
    int xruns() const { return xruns_.load(); }
    const std::vector<float>& left() const { return left_; }
    const std::vector<float>& right() const { return right_; }

private:
    static int onProcess(jack_nframes_t frames, void* self) {
        auto* me = static_cast<Listener*>(self);
        const auto* l = static_cast<const float*>(jack_port_get_buffer(me->in_[0], frames));
        const auto* r = static_cast<const float*>(jack_port_get_buffer(me->in_[1], frames));
        const std::size_t at = me->count_.load(std::memory_order_relaxed);
        const std::size_t n = std::min<std::size_t>(frames, me->left_.size() - at);
        copyUnwatched(l, me->left_.data() + at, n);
        copyUnwatched(r, me->right_.data() + at, n);
        me->count_.store(at + n, std::memory_order_release);
        return 0;
    }

    jack_client_t* client_ = nullptr;
    jack_port_t* in_[2] = {nullptr, nullptr};
    std::vector<float> left_, right_;
    std::atomic<std::size_t> count_{0};
    std::atomic<int> xruns_{0};
};

// What arrived: the sine, its negative on the right, and how often it jumps
// (a block that went missing on the way).
struct Heard {
    std::size_t sounding = 0, mismatched = 0, jumps = 0;
    float peak = 0.0f;
};

Heard analyse(const Listener& listener) {
    Heard h;
    const std::size_t n = listener.captured();
    const auto& l = listener.left();
    const auto& r = listener.right();
    std::size_t first = 0;
    while (first < n && l[first] == 0.0f) ++first;
    std::size_t last = n;
    while (last > first && l[last - 1] == 0.0f) --last;
    const double maxStep = kAmplitude * 2.0 * M_PI * kSineHz / kRate * 1.05 + 1e-4;
    for (std::size_t i = first; i < last; ++i) {
        ++h.sounding;
        h.peak = std::max(h.peak, std::fabs(l[i]));
        if (r[i] != -l[i]) ++h.mismatched;
        if (i > first && std::fabs(l[i] - l[i - 1]) > maxStep) ++h.jumps;
    }
    return h;
}

class EnvGuard {
public:
    EnvGuard(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) saved_ = old, had_ = true;
        setenv(name, value.c_str(), 1);
    }
    ~EnvGuard() {
        if (had_) {
            setenv(name_, saved_.c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }

private:
    const char* name_;
    std::string saved_;
    bool had_ = false;
};

// Plays for `seconds`: every block rendered in time, none dropped, and the
// sine heard as it was rendered.
void playAndListen(double seconds, const SineTarget& target, const CWorkThread& worker, const Listener& listener) {
    const auto started = Clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const double played = std::chrono::duration<double>(Clock::now() - started).count();
    const std::uint64_t blocks = target.blocks.load();
    const Heard heard = analyse(listener);
    std::printf("[ JACK     ] %.2f s: %llu blocks of %u frames (%.0f expected), %llu dropped by the worker, "
                "%d xruns, %zu samples heard, %zu jumps\n",
                played, static_cast<unsigned long long>(blocks), target.lastFrames.load(), played * kRate / 1024,
                static_cast<unsigned long long>(worker.dropped()), listener.xruns(), heard.sounding, heard.jumps);
    EXPECT_EQ(worker.dropped(), 0u);
    EXPECT_EQ(target.lastFrames.load(), 1024u);
    // The server keeps real-time pace; a loaded machine may lose a few cycles, never most.
    EXPECT_GT(blocks, static_cast<std::uint64_t>(played * kRate / 1024 * 0.6));
    EXPECT_LT(blocks, static_cast<std::uint64_t>(played * kRate / 1024 * 1.2) + 4);
    EXPECT_GT(heard.sounding, static_cast<std::size_t>(played * kRate * 0.5)) << "the sine reached the server";
    EXPECT_NEAR(heard.peak, kAmplitude, 0.01);
    EXPECT_EQ(heard.mismatched, 0u) << "right is the negative of left, sample for sample";
}

// Plays for `seconds`, then stops the server with `signal`.
void playUntilTheServerGoes(const char* test, double seconds, int signal) {
#if defined(__SANITIZE_THREAD__)
    // The JACK library's own threads and its shared memory are not watched by the
    // thread checker, and under its slowdown the library gives up on a client
    // now and then; these runs belong to the plain and the address-checked builds.
    GTEST_SKIP() << "not under ThreadSanitizer: the JACK library is not instrumented";
#endif
    DummyJackServer server(test);
    if (const std::string why = server.start(); !why.empty()) GTEST_SKIP() << "no dummy JACK server: " << why;
    EnvGuard env("JACK_DEFAULT_SERVER", server.name());

    CSpecAsioHost host;
    const std::string driver = "JACK (" + server.name() + ")";
    ASSERT_EQ(host.NameCount(), 2);
    EXPECT_EQ(host.DisplayName(1), "ASIO: " + driver);
    SineTarget target;
    target.host = &host;
    CWorkThread worker(&target);
    ASSERT_TRUE(worker.Start());
    host.SetRenderWorker(&worker);
    platform::RecordingMessageTarget window;
    host.SetNotificationWindow(&window);

    std::int32_t size = 256;
    ASSERT_TRUE(host.Open(driver, size)) << host.ErrorMessage();
    EXPECT_EQ(size, 1024) << "the server's block size";
    EXPECT_EQ(host.SampleRate(), 44100.0);
    EXPECT_EQ(host.OutputBuffers(), 2);
    auto listening = std::make_unique<Listener>(server.name());
    Listener& listener = *listening;
    ASSERT_TRUE(listener.ok());
    ASSERT_TRUE(host.Start());
    EXPECT_EQ(listener.connectFrom("qvp3"), 2);
    EXPECT_TRUE(listener.connected("qvp3:out_1", "system:playback_1")) << "the host plays to the server's outputs";
    EXPECT_TRUE(listener.connected("qvp3:out_2", "system:playback_2"));

    playAndListen(seconds, target, worker, listener);

    server.stop(signal);
    ASSERT_TRUE(window.waitForCount(1, 10s)) << "no message from the host after the server went away";
    const auto message = window.messages().at(0);
    EXPECT_EQ(message.msg, platform::WM_COMMAND);
    EXPECT_EQ(message.wParam, ID_AUDIO_OUTPUT_LOST);
    EXPECT_FALSE(host.IsOpen());
    EXPECT_FALSE(host.IsStarted());
    EXPECT_NE(host.ErrorMessage().find("has stopped"), std::string::npos) << host.ErrorMessage();
    const std::uint64_t after = target.blocks.load();
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(target.blocks.load(), after) << "no block after the server went away";
    {
        Watchdog watchdog(20s, "closing the host after the JACK server went away");
        host.Close();
        EXPECT_EQ(CAsioHost::Owner(), nullptr);
        // libjack cannot close a client of a dead server after a failed open
        // to that server in the same process: the listener goes first.
        listening.reset();
        std::int32_t again = 1024;
        EXPECT_FALSE(host.Open(driver, again)) << "the server is gone";
        EXPECT_NE(host.ErrorMessage().find("not running"), std::string::npos) << host.ErrorMessage();
    }
    worker.Stop();
}

TEST(AsioJackThreads, PlaysFiveSecondsThenTheServerStops) { playUntilTheServerGoes("five-seconds", 5.0, SIGTERM); }

TEST(AsioJackThreads, AKilledServerStopsPlaybackWithAMessage) { playUntilTheServerGoes("killed", 1.0, SIGKILL); }

}  // namespace
}  // namespace qvp3

// When a file's first sample reaches the output. On SDL's disk driver the
// output is a named pipe here, read as the driver writes it, so the moment the
// first sample arrives can be seen from outside the engine and compared with
// what the engine says.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "audio/VLAudioPlayer.h"
#include "platform/ui/UIClock.h"
#include "tests/audio/VLAudioTestUtil.h"

namespace KwLib {
namespace {

using namespace AudioTest;

// Reads the driver's output as it comes and notes when the first sounding
// sample arrived, on the toolkit clock.
class OutputWatcher {
public:
    explicit OutputWatcher(const std::string& fifo) : m_fifo(fifo) {
        m_thread = std::thread([this, fifo] {
            const int fd = open(fifo.c_str(), O_RDONLY);
            if (fd < 0)
                return;
            std::vector<char> buffer(1 << 16);
            std::vector<char> carry;
            for (;;) {
                const ssize_t n = read(fd, buffer.data(), buffer.size());
                const uint64_t now = UIClock::NowMs();
                if (n <= 0)
                    break;
                m_bytes += static_cast<uint64_t>(n);
                if (m_firstSound.load() != 0)
                    continue;
                carry.insert(carry.end(), buffer.begin(), buffer.begin() + n);
                for (size_t i = 0; i + sizeof(float) <= carry.size(); i += sizeof(float)) {
                    float v = 0;
                    std::memcpy(&v, &carry[i], sizeof(v));
                    if (v != 0.0f) {
                        m_firstSound = now;
                        break;
                    }
                }
                carry.erase(carry.begin(), carry.begin() + static_cast<std::ptrdiff_t>(carry.size() / 4 * 4));
            }
            close(fd);
        });
    }
    ~OutputWatcher() {
        // A test that failed before the driver opened the output would leave the reader in
        // open() for ever: a writer of our own lets it through to the end of the stream.
        const int fd = open(m_fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0)
            close(fd);
        if (m_thread.joinable())
            m_thread.join();
    }
    uint64_t FirstSound() const { return m_firstSound.load(); }
    uint64_t Bytes() const { return m_bytes.load(); }

private:
    std::string m_fifo;
    std::thread m_thread;
    std::atomic<uint64_t> m_firstSound{0};
    std::atomic<uint64_t> m_bytes{0};
};

// Each wait has an end: a device that never takes a buffer, or a watcher that never
// opened the output, fails the test at once with what was seen, not at CTest's limit.
constexpr int kPatienceSeconds = 10;

template <typename Done>
bool WaitFor(Done done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(kPatienceSeconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

TEST(VLAudioOutputStartTest, TheFirstSampleReachesTheOutputWhenTheEngineSays) {
    TempDir dir;
    const std::string fifo = dir.File("out.fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // Real time: one 1024-frame buffer every 23 ms, as a sound card takes them.
    UseDiskDriver(fifo, dir.File("in.raw"), 23);
    const std::string music = dir.File("music.wav");
    // Sounding from its very first sample, at the output rate: no resampling blur.
    ASSERT_TRUE(WriteWav(music, std::vector<int16_t>(44100, 8000), 44100, 1));

    OutputWatcher watcher(fifo);
    {
        VLAudioPlayer player(64, 32);
        player.SetAutomaticTick(false);
        ASSERT_TRUE(player.InitAudio());
        EXPECT_EQ(player.Engine().DeviceDelayMs(), 0.0);
        // A few buffers of silence first, as when the count-in ends.
        ASSERT_TRUE(WaitFor([&] { return watcher.Bytes() >= 4 * 8192; }))
            << "the output got " << watcher.Bytes() << " bytes in " << kPatienceSeconds << " s";
        double fromNow = 0;
        EXPECT_FALSE(player.GetPlaybackStartFromNow(fromNow));
        ASSERT_GT(player.StartPlayback(music), 0u);

        uint64_t origin = 0;
        WaitFor([&] {
            if (player.GetPlaybackStartFromNow(fromNow))
                origin =
                    static_cast<uint64_t>(static_cast<int64_t>(UIClock::NowMs()) + std::llround(fromNow));
            return origin != 0;
        });
        ASSERT_NE(origin, 0u) << "the engine never said when the music started";
        ASSERT_TRUE(WaitFor([&] { return watcher.FirstSound() != 0; }))
            << "no sounding sample reached the output in " << kPatienceSeconds << " s";
        const int64_t heard = static_cast<int64_t>(watcher.FirstSound());
        RecordProperty("OutputMinusEngineMs", static_cast<int>(heard - static_cast<int64_t>(origin)));
        EXPECT_LE(std::llabs(heard - static_cast<int64_t>(origin)), 5)
            << "the engine said " << origin << ", the output got the first sample at " << heard;
        player.ReleaseAudio();
    }
}

}  // namespace
}  // namespace KwLib

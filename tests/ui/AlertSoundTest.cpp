#include "ui/AlertSound.h"
#include "UiWait.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {
// A tenth of a second of a quiet tone as a 16-bit mono wave file.
std::string WaveBytes()
{
    auto le = [](std::uint32_t value, int bytes) {
        std::string out;
        for (int i = 0; i < bytes; ++i)
            out.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
        return out;
    };
    std::string samples;
    for (int i = 0; i < 2205; ++i)
        samples += le(static_cast<std::uint16_t>((i % 50 < 25) ? 2000 : -2000), 2);
    return "RIFF" + le(36 + samples.size(), 4) + "WAVEfmt " + le(16, 4) + le(1, 2) + le(1, 2) +
           le(22050, 4) + le(44100, 4) + le(2, 2) + le(16, 2) + "data" + le(samples.size(), 4) +
           samples;
}
} // namespace

TEST(AlertSoundTest, PlaysTheChosenFileBeepsForABadOneAndKeepsQuietWhenSwitchedOff)
{
    TempDir dir;
    TempDir::WriteFile(dir.file("alert.wav"), WaveBytes());
    TempDir::WriteFile(dir.file("broken.wav"), "not a wave file at all");
    const struct
    {
        bool enabled;
        std::string path;
        AlertSound::Outcome outcome;
    } cases[] = {
        {true, dir.file("alert.wav"), AlertSound::Outcome::Played},
        {true, dir.file("missing.wav"), AlertSound::Outcome::Beeped},
        {true, dir.file("broken.wav"), AlertSound::Outcome::Beeped},
        {false, dir.file("alert.wav"), AlertSound::Outcome::Silenced},
    };
    for (const auto& c : cases) {
        AlertSound sound([&] { return AlertSound::Choice{c.enabled, c.path}; });
        bool finished = false;
        QObject::connect(&sound, &AlertSound::Finished, [&] { finished = true; });
        sound.Play(); // returns at once; the outcome comes on the event loop
        ASSERT_TRUE(WaitUntil([&] { return finished; })) << c.path;
        EXPECT_EQ(sound.LastOutcome(), c.outcome) << c.path;
    }
}

#include "ui/AlertSound.h"
#include "UiTestSupport.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace {
// A tenth of a second of a quiet tone, 16-bit mono at 22,050 Hz.
std::string WaveFile()
{
    auto le = [](unsigned value, int bytes) {
        std::string out;
        for (int i = 0; i < bytes; ++i)
            out.push_back(char((value >> (8 * i)) & 0xff));
        return out;
    };
    std::string samples;
    for (int i = 0; i < 2205; ++i)
        samples += le(i % 50 < 25 ? 2000 : 0xf830, 2);
    return "RIFF" + le(36 + samples.size(), 4) + "WAVEfmt " + le(16, 4) + le(1, 2) + le(1, 2) +
           le(22050, 4) + le(44100, 4) + le(2, 2) + le(16, 2) + "data" + le(samples.size(), 4) +
           samples;
}
} // namespace

TEST(AlertSoundTest, PlaysTheChosenFileBeepsForABadOneAndKeepsQuietWhenSwitchedOff)
{
    TempDir dir;
    TempDir::WriteFile(dir.file("alert.wav"), WaveFile());
    TempDir::WriteFile(dir.file("broken.wav"), "not a wave file");
    using O = AlertSound::Outcome;
    const struct
    {
        bool enabled;
        std::string file;
        O outcome;
    } cases[] = {{true, "alert.wav", O::Played},
                 {true, "missing.wav", O::Beeped},
                 {true, "broken.wav", O::Beeped},
                 {false, "alert.wav", O::Silenced}};
    for (const auto& c : cases) {
        AlertSound sound([&] { return AlertSound::Choice{c.enabled, dir.file(c.file)}; });
        bool finished = false;
        QObject::connect(&sound, &AlertSound::Finished, [&] { finished = true; });
        sound.Play(); // returns at once; the outcome comes on the event loop
        ASSERT_TRUE(uitest::RunUntil([&] { return finished; })) << c.file;
        EXPECT_EQ(sound.LastOutcome(), c.outcome) << c.file;
    }
}

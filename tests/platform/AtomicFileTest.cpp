#include "platform/AtomicFile.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

// Each writer's clean-up of dead writers' files runs while the others make
// theirs: none of them may take a new file for a dead one's.
TEST(AtomicFile, WritersReplacingOneFileAtOnceAllSucceed)
{
    TempDir dir;
    const std::string path = dir.file("kestrelle.dat");
    std::atomic<int> failures{0};
    std::vector<std::thread> writers;
    for (int w = 0; w < 4; ++w)
        writers.emplace_back([&, w] {
            const std::string text = "writer " + std::to_string(w) + "\r\n";
            for (int i = 0; i < 200; ++i) {
                AtomicFile file(path);
                if (!file.Open() || !file.Write(text.data(), text.size()) || !file.Commit())
                    ++failures;
            }
        });
    for (std::thread& t : writers)
        t.join();
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(TempDir::ReadFile(path).rfind("writer ", 0), 0u);
}

} // namespace

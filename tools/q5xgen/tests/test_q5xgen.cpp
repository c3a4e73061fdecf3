// The sample files under data/q5x are what the generator makes, byte for byte.
#include <QProcess>
#include <QString>

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include "common/tests/support/TestWait.h"

namespace {
std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}
}  // namespace

TEST(Q5xGen, MakesTheCommittedSamples)
{
    const std::string source = std::getenv("ZELT_SOURCE_DIR") ? std::getenv("ZELT_SOURCE_DIR") : ".";
    for (const char* sample : {"zenith-day", "cold-night"}) {
        QProcess gen;
        gen.start(ZELT_Q5XGEN_BIN, {sample});
        ASSERT_TRUE(gen.waitForFinished(kTestDeadlineMs));
        ASSERT_EQ(gen.exitCode(), 0);
        const QByteArray made = gen.readAllStandardOutput();
        const std::string committed = ReadAll(source + "/data/q5x/" + sample + ".q5x");
        ASSERT_FALSE(committed.empty()) << sample;
        EXPECT_TRUE(made.toStdString() == committed) << sample << " differs from what zelt-q5xgen makes";
    }
    QProcess bad;
    bad.start(ZELT_Q5XGEN_BIN, {"no-such-sample"});
    ASSERT_TRUE(bad.waitForFinished(kTestDeadlineMs));
    EXPECT_EQ(bad.exitCode(), 2);
}

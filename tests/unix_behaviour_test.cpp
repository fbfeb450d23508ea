// tidewright as a Unix program among others: started with its standard
// streams closed, as some service managers do.
#include <gtest/gtest.h>

#include "support/process_runner.h"
#include "support/temp_dir.h"

namespace mendly {
namespace {

namespace fs = std::filesystem;

TEST(ClosedStandardStreams, ConsoleTextNeverLandsInTheLog) {
    test::TempDir program{"closed-streams"};
    fs::copy_file(TIDEWRIGHT_EXE, program / "tidewright");
    const std::string command = "'" + (program / "tidewright").string() + "' --help --skip-self-update >&- 2>&-";
    const auto r = test::runProcess("/bin/sh", {{"-c", command}, {}, program.path(), std::chrono::seconds(30)});
    EXPECT_EQ(r.exitCode, 0);
    const std::string log = test::readFile(program / "launcher.log");
    EXPECT_NE(log.find("CLI Updater starting"), std::string::npos) << log;
    EXPECT_EQ(log.find("Usage"), std::string::npos) << log;
    EXPECT_EQ(log.find("--update-all"), std::string::npos) << log;
}

}  // namespace
}  // namespace mendly

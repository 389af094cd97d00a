// The built program as a user runs it: real stdin/stdout, exit status.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

std::string ReadAll(const std::filesystem::path& path)
{
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

class CliProcessTest : public testing::Test {
protected:
    void SetUp() override
    {
        dir_ = std::filesystem::temp_directory_path() /
               ("tervix-cli-process-" + std::to_string(::getpid()) + "-" +
                testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    // Runs a shell command line with the program; returns its exit status.
    int RunProgram(const std::string& arguments)
    {
        const std::string command = std::string("'") + TERVIX_CLI_PATH + "' " + arguments + " >'" +
                                    (dir_ / "out").string() + "' 2>'" + (dir_ / "err").string() + "'";
        const int raw = std::system(command.c_str());
        out = ReadAll(dir_ / "out");
        err = ReadAll(dir_ / "err");
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }

    // Runs a shell command line in which PROG stands for the program and
    // ERR for a file that takes standard error; returns its exit status.
    int RunShell(std::string line)
    {
        for (std::size_t at; (at = line.find("PROG")) != std::string::npos;)
            line.replace(at, 4, std::string("'") + TERVIX_CLI_PATH + "'");
        for (std::size_t at; (at = line.find("ERR")) != std::string::npos;)
            line.replace(at, 3, "'" + (dir_ / "err").string() + "'");
        const int raw = std::system(("bash -c \"" + line + "\"").c_str());
        err = ReadAll(dir_ / "err");
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }

    std::filesystem::path dir_;
    std::string out;
    std::string err;
};

TEST_F(CliProcessTest, DecodesStandardInput)
{
    std::ofstream(dir_ / "trace.log")
        << "(1436509052.249713) can0 705#05\nnoise\n(1436509052.249800) can0 181#R\n";
    EXPECT_EQ(RunProgram("decode --counts - <'" + (dir_ / "trace.log").string() + "'"), 0);
    EXPECT_EQ(out, "SFF: NMT Handling addr=05 Data= 05 \nSFF: RTR TPDO1 addr=01 Data= \n3\t1\n14\t1\n");
    EXPECT_EQ(err, "tervix-cli decode: line 2: skipped, not a CAN frame\n");
}

TEST_F(CliProcessTest, MissingInputExitsWithTwo)
{
    EXPECT_EQ(RunProgram("decode '" + (dir_ / "missing.log").string() + "'"), 2);
    EXPECT_EQ(out, "");
    EXPECT_NE(err.find("cannot open"), std::string::npos) << err;
}

// A full disk: one message with the system's reason, and nothing about the
// input, which was never read to its end.
TEST_F(CliProcessTest, FullOutputNamesTheReasonAndNothingElse)
{
    {
        std::ofstream log(dir_ / "big.log");
        for (int i = 0; i < 20000; ++i)
            log << "(1436509052." << 100000 + i << ") can0 181#0102030405060708\n";
    }
    EXPECT_EQ(RunShell("PROG decode '" + (dir_ / "big.log").string() + "' >/dev/full 2>ERR"), 3);
    EXPECT_EQ(err, "tervix-cli decode: error writing the output: No space left on device\n");
    EXPECT_EQ(RunShell("PROG decode --help >/dev/full 2>ERR"), 3);
    EXPECT_EQ(err, "tervix-cli decode: cannot write the help: No space left on device\n");
}

// On a pipe each line is decoded as it comes; an interrupt writes what was
// decoded, the counts included, and ends with 128 + SIGINT.
TEST_F(CliProcessTest, LivePipeIsDecodedAsItComesAndAnInterruptKeepsIt)
{
    const std::string outFile = (dir_ / "out").string();
    EXPECT_EQ(RunShell("(printf '(1.0) can0 705#05\\n'; sleep 2) | timeout --preserve-status -s INT 1 PROG "
                       "decode --counts >'" + outFile + "' 2>ERR"),
              130);
    EXPECT_EQ(ReadAll(outFile), "SFF: NMT Handling addr=05 Data= 05 \n14\t1\n");
}

} // namespace

// tessary-cli run as a program: arguments, exit codes, JSON and printed digits.

#include "pi_reference.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>
#include <sys/wait.h>

namespace {

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

// Runs tessary-cli with `arguments` (shell words), standard error captured apart.
Outcome run_cli(const std::string &arguments) {
    const std::string err_path = testing::TempDir() + "tessary_cli_stderr";
    const std::string command =
        std::string(TESSARY_CLI) + " " + arguments + " 2>" + err_path + " </dev/null";
    Outcome outcome{};
    FILE *pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        ADD_FAILURE() << "cannot run " << command;
        return outcome;
    }
    std::array<char, 65536> buffer{};
    size_t got = 0;
    while ((got = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
        outcome.out.append(buffer.data(), got);
    }
    const int status = pclose(pipe);
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (FILE *err = fopen(err_path.c_str(), "r")) {
        while ((got = fread(buffer.data(), 1, buffer.size(), err)) > 0) {
            outcome.err.append(buffer.data(), got);
        }
        fclose(err);
    }
    return outcome;
}

TEST(TessaryCli, RejectsBadArgumentsWithOneLineAndStatusTwo) {
    const char *bad[] = {"--digits",
                         "--digits abc",
                         "--digits 12x",
                         "--digits 0",
                         "--digits -5",
                         "--digits 99999999999999999999",
                         "--digits 268435457",
                         "--frobnicate",
                         "--print",
                         "extra",
                         "--digits 10 --print --json"};
    for (const char *arguments : bad) {
        SCOPED_TRACE(arguments);
        const Outcome o = run_cli(arguments);
        EXPECT_EQ(o.status, 2);
        EXPECT_TRUE(o.out.empty());
        ASSERT_FALSE(o.err.empty());
        EXPECT_EQ(o.err.find('\n'), o.err.size() - 1) << o.err;
        EXPECT_EQ(o.err.rfind("tessary-cli: ", 0), 0u) << o.err;
    }
}

TEST(TessaryCli, DescribesEveryOptionAndItsVersion) {
    const Outcome help = run_cli("--help");
    EXPECT_EQ(help.status, 0);
    for (const char *option : {"--digits", "--print", "--json", "--version", "--help"}) {
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
    }
    const Outcome version = run_cli("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_NE(version.out.find("1.0.0"), std::string::npos);
    EXPECT_NE(version.out.find(pi_get_version()), std::string::npos);
}

TEST(TessaryCli, PrintsTheResultRecordAsJson) {
    const Outcome o = run_cli("--digits 1000 --json");
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out.rfind("{\"success\": 1, \"digits\": 1024, \"time_seconds\": ", 0), 0u) << o.out;
    EXPECT_NE(o.out.find("\"score\": "), std::string::npos);
    EXPECT_NE(o.out.find("\"error_message\": \"\"}\n"), std::string::npos) << o.out;
    EXPECT_TRUE(o.err.empty()) << "no progress bar without a terminal: " << o.err;
}

TEST(TessaryCli, PrintsExactlyTheRequestedCorrectDigits) {
    const std::string reference = mpfr_pi_digits(20100);
    for (const int decimals : {1, 2, 9, 10, 11, 1000, 4097, 20000}) {
        SCOPED_TRACE(decimals);
        const Outcome o = run_cli("--digits " + std::to_string(decimals) + " --print");
        ASSERT_EQ(o.status, 0) << o.err;
        const std::string expected =
            "3." + reference.substr(1, static_cast<size_t>(decimals)) + "\n";
        EXPECT_EQ(o.out, expected);
    }
}

} // namespace

#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/wait.h>
#endif

#include "dbf/dbf_test_support.h"
#include "os/file.h"

// pasarela-cli run as a child program, the way a user or a script starts it.
namespace pasarela::test {

struct CliResult {
    int status = -1;          // the exit status, or -1 when the program did not exit normally
    std::string output;       // what it printed on standard output, without CRs
    std::string errors;       // what it printed on standard error, without CRs
    std::string outputBytes;  // standard output as written, CRs and all
};

// The command line program the tests run, from PASARELA_CLI; empty when unset.
inline std::string CliPath()
{
    const char* cli = std::getenv("PASARELA_CLI");
    return cli == nullptr ? std::string() : std::string(cli);
}

inline std::string WithoutCarriageReturns(std::string text)
{
    std::erase(text, '\r');
    return text;
}

// Runs pasarela-cli through the system's command processor (cmd.exe under Wine), with its
// output caught in files of `scratch`.
inline CliResult RunCliProgram(const std::vector<std::string>& args, const std::filesystem::path& scratch)
{
    const auto quoted = [](const std::string& text) { return "\"" + text + "\""; };
    const auto out = scratch / "cli-salida.txt";
    const auto err = scratch / "cli-errores.txt";
    std::string command = quoted(CliPath());
    for (const std::string& arg : args)
        command += " " + quoted(arg);
    command += " > " + quoted(DisplayPath(out)) + " 2> " + quoted(DisplayPath(err));
    CliResult result;
#ifdef _WIN32
    // cmd /c drops the first and last quote of a line that starts with one.
    result.status = std::system(quoted(command).c_str());
#else
    const int status = std::system(command.c_str());
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
    result.outputBytes = ReadFileBytes(out);
    // Without the CR a Windows console program puts before each LF.
    result.output = WithoutCarriageReturns(result.outputBytes);
    result.errors = WithoutCarriageReturns(ReadFileBytes(err));
    std::error_code ec;
    std::filesystem::remove(out, ec);
    std::filesystem::remove(err, ec);
    return result;
}

}  // namespace pasarela::test

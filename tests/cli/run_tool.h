// Runs a tervix-cli command line on in-memory streams.
#pragma once

#include "cli.h"

#include <sstream>
#include <string>
#include <string_view>
#include <vector>

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

inline Result RunTool(std::vector<std::string_view> args, const std::string& input = {})
{
    std::istringstream in(input);
    std::ostringstream out;
    std::ostringstream err;
    Result r;
    r.status = tervix::cli::RunCli(args, {in, out, err});
    r.out = out.str();
    r.err = err.str();
    return r;
}

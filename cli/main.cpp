#include "cli.h"

#include <iostream>
#include <string_view>
#include <vector>

int main(int argc, char** argv)
{
    // The commands buffer their own output; C stdio is never used alongside.
    std::ios::sync_with_stdio(false);
    std::cin.tie(nullptr);
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    return tervix::cli::RunCli(args, {std::cin, std::cout, std::cerr});
}

// Argument joining: any arguments (the input split at 0x01 bytes, zero
// bytes made 'a'), joined with arg_to_vstr and split with cmdline_split,
// come back byte for byte.
#include "base/os/os.h"
#include "base/stream/stream.h"

#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<std::string> args(1);
    for (size_t i = 0; i < size; i++) {
        if (data[i] == 0x01)
            args.emplace_back();
        else
            args.back() += data[i] ? static_cast<char>(data[i]) : 'a';
    }
    std::vector<const char *> v;
    for (const std::string &a : args)
        v.push_back(a.c_str());
    char *cmd = nullptr;
    if (arg_to_vstr(static_cast<int32_t>(v.size()), v.data(), &cmd) != 0)
        std::abort();
    char **argv = nullptr;
    int32_t argc = 0;
    if (cmdline_split(cmd, &argv, &argc) != 0 || static_cast<size_t>(argc) != args.size())
        std::abort();
    for (int32_t i = 0; i < argc; i++)
        if (args[i] != argv[i])
            std::abort();
    _free(&argv);
    _free(&cmd);
    return 0;
}

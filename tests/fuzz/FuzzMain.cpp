// libFuzzer's entry points for one target, chosen when the fuzzer is built.
#include "FuzzTargets.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {
const zq::fuzz::Target *target = nullptr;
}

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    zq::fuzz::setUp(*argc, *argv);
    target = zq::fuzz::findTarget(ZQ_FUZZ_TARGET);
    if (!target) {
        std::fprintf(stderr, "no fuzz target %s\n", ZQ_FUZZ_TARGET);
        std::abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    target->run(QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)));
    return 0;
}

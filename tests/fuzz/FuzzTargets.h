#pragma once

// The parsers of files a user hands the module, each behind one function taking the file's
// bytes. The fuzzers (fuzz_NAME, built by `./zq fuzz`) and the corpus driver of the normal
// build (tst_fuzzcorpus) call the same functions. A target returns normally for every input,
// whether the parser accepts it or refuses it; a broken promise of the parser (a refusal
// without a reason, a value that breaks its documented form) aborts, which both the fuzzer
// and the driver report as a failure.

#include <QByteArray>

namespace zq::fuzz {

struct Target
{
    const char *name;
    void (*run)(const QByteArray &input);
};

/// Every target, by the name of its corpus folder and its fuzzer (fuzz_NAME).
const Target *targets();
const Target *findTarget(const char *name);

/// Once per process before the first input: what the parsers need of Qt (an application
/// object for the image plug-ins, the offscreen platform).
void setUp(int &argc, char **argv);

} // namespace zq::fuzz

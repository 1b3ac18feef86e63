// Fuzz target: arbitrary bytes as one call to the NFS service of a live daemon.
#include "fuzz/FuzzFixture.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzing::TFuzzFixture::Get();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return fuzzing::FuzzOneInput(fuzzing::Service::Nfs, data, size);
}

// The folders the bridge benchmark reads: the programs it runs, built into
// the build's bench-cobol/, and the source tree (for the orders layout). The
// only source compiled with them, so bridge_bench.cpp compiles the same in
// every clone and comes from the compiler cache.
#include <string>

std::string BenchProgramsPath() {
    return POINTRA_BENCH_COBOL;
}

std::string BenchSourcePath(const char* rest) {
    return std::string(POINTRA_SOURCE_DIR) + rest;
}

#pragma once
// Folders of the source tree and of the build, for tests: tests/data, the
// build's bin/ and lib/, the build's top and the source tree's top. Only test_paths.cpp is
// compiled with them, so no other compiled test depends on where the
// repository lies, and another clone's build takes it from the compiler cache.
// Each function returns its folder followed by `rest` (which starts with "/").

#include <QString>

#include <string>

std::string DataPath(const char* rest = "");
std::string BinPath(const char* rest = "");
std::string LibPath(const char* rest = "");
std::string BuildPath(const char* rest = "");
std::string SourcePath(const char* rest = "");

QString QDataPath(const char* rest = "");
QString QBinPath(const char* rest = "");
QString QSourcePath(const char* rest = "");

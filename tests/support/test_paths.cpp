#include "test_paths.h"

std::string DataPath(const char* rest) {
    return std::string(POINTRA_TEST_DATA) + rest;
}

std::string BinPath(const char* rest) {
    return std::string(POINTRA_BIN_DIR) + rest;
}

std::string LibPath(const char* rest) {
    return std::string(POINTRA_LIB_DIR) + rest;
}

std::string BuildPath(const char* rest) {
    return std::string(POINTRA_BUILD_DIR) + rest;
}

std::string SourcePath(const char* rest) {
    return std::string(POINTRA_SOURCE_DIR) + rest;
}

QString QDataPath(const char* rest) {
    return QString::fromStdString(DataPath(rest));
}

QString QBinPath(const char* rest) {
    return QString::fromStdString(BinPath(rest));
}

QString QSourcePath(const char* rest) {
    return QString::fromStdString(SourcePath(rest));
}

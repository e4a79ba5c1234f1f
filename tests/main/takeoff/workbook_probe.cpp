// Reads one workbook as "過去の積算を編集" does and prints what became of it:
// "ok <last row> <cells>", or the message of the refusal. The workbook tests
// run it as a child process, to measure what reading a hostile file costs.
#include "main/takeoff/workbook.h"

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2)
        return 2;
    const Result<WorkbookData> data = ReadWorkbook(QString::fromLocal8Bit(argv[1]));
    if (data) {
        std::printf("ok %d %zu\n", data->lastRow(), data->cells.size());
        return 0;
    }
    std::fputs(data.error().toUtf8().constData(), stdout);
    return 1;
}

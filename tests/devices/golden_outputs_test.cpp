// Golden outputs of the device programs: MT4500 and T5160 each take one
// outline from the simulated tablet, Numora sketches a keypad file, and the
// 座標.txt, 縮尺.txt and curGazo.bmp they leave are compared byte for byte
// with tests/data/golden/devices/.
//
// POINTRA_UPDATE_GOLDEN=1 in the environment rewrites the golden files from
// this run instead of comparing (see tests/support/golden_files.h); review
// them with git diff before committing. The sketches print the room name in
// the installed Japanese font, so another font needs the goldens rewritten.
#include "device_test_helpers.h"
#include "golden_files.h"

namespace {

// A device program's run against a tablet sending `records` verbatim.
ProgramRun RunAgainstTablet(Installation& inst, const QString& program, const QByteArray& records) {
    const QString script = WriteScript(inst, QStringLiteral("records.txt"), records);
    TabletSim sim(program.toLower(),
                  {QStringLiteral("--raw"), script, QStringLiteral("--wait-open")});
    EXPECT_FALSE(sim.path().isEmpty());
    inst.writeRegistry(program, sim.path());
    return RunProgram(program, inst);
}

TEST(DeviceGoldenOutputs, OneOutlineEachWritesWhatItWrote) {
    Installation inst;
    ASSERT_TRUE(inst.valid());
    inst.writeFile(QStringLiteral("roomName.txt"), Sjis(QStringLiteral("洋室")) + "\r\n");
    inst.writeFile(QStringLiteral("縮尺.txt"), "75\r\n");
    const auto expectFiles = [&](const QString& program, const QStringList& names) {
        for (const QString& name : names)
            EXPECT_TRUE(
                MatchesGolden("devices/" + program + "/" + name, inst.readFile(name),
                              name.endsWith(".bmp") ? GoldenKind::Binary : GoldenKind::Text));
        EXPECT_TRUE(inst.loggedMessages().isEmpty()) << qPrintable(inst.loggedMessages().join("|"));
    };

    // An L-shaped room in metres: button 2 a reference segment, 1 perimeter
    // only, 3 the end at the last point.
    ProgramRun run = RunAgainstTablet(inst, "MT4500",
                                      "0001.23450002.50002\\r\n"
                                      "0005.67850002.50002\\r\n"
                                      "0005.67850004.31251\\r\n"
                                      "0003.45000004.31252\\r\n"
                                      "0003.45000006.03751\\r\n"
                                      "0001.23450006.03752\\r\n"
                                      "0001.23450002.50002\\r\n"
                                      "0001.23450002.50003\\r\n");
    ASSERT_TRUE(run.finished) << qPrintable(run.stderrText);
    EXPECT_EQ(run.exitCode, 0);
    expectFiles("mt4500", {"座標.txt", "curGazo.bmp"});

    // Counts of 0.1 mm at 1:75: button 2 reference, 4 perimeter only, 8 the end.
    run = RunAgainstTablet(inst, "T5160",
                           "1234,567,2\\r\\n\n"
                           "2345,567,4\\r\\n\n"
                           "2345,1789,2\\r\\n\n"
                           "1234,1789,4\\r\\n\n"
                           "1234,567,2\\r\\n\n"
                           "1234,567,8\\r\\n\n");
    ASSERT_TRUE(run.finished) << qPrintable(run.stderrText);
    EXPECT_EQ(run.exitCode, 0);
    expectFiles("t5160", {"座標.txt", "縮尺.txt", "curGazo.bmp"});

    // The size-input module's file in metres, its last line marked "4".
    const auto line = [](char mark, const char* x, const char* y, char code) {
        return mark + QByteArray(x).rightJustified(9) + QByteArray(y).rightJustified(9) + code +
               "\r\n";
    };
    inst.writeFile(QStringLiteral("座標.txt"),
                   line(' ', "1.2345", "2.5", '1') + line(' ', "5.6785", "2.5", '1') +
                       line(' ', "5.6785", "4.3125", '2') + line(' ', "1.2345", "4.3125", '1') +
                       line('4', "1.2345", "2.5", '2'));
    run = RunProgram(QStringLiteral("Numora"), inst);
    ASSERT_TRUE(run.finished) << qPrintable(run.stderrText);
    EXPECT_EQ(run.exitCode, 0);
    expectFiles("numora", {"curGazo.bmp"});
}

} // namespace

#pragma once
// Shared set-up of the device program tests: a temporary installation folder
// with its registry file, the tablet simulator on a pseudo-terminal, the
// programs run as child processes, and looks into the saved sketch.

#include "common/ui/message.h"

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "tablet_sim.h"

#include <memory>

// CP932 bytes of a text, as the exchange files are written on the target system.
QByteArray Sjis(const QString& text);

// A temporary installation folder and a registry file naming it.
class Installation {
public:
    Installation();
    bool valid() const { return dir_.isValid(); }
    // The folder with its trailing "/".
    QString instPath() const { return dir_.path() + QLatin1Char('/'); }
    QString path(const QString& name) const { return instPath() + name; }
    QString registryPath() const { return dir_.path() + QStringLiteral("/registry.reg"); }
    QString messageLogPath() const { return dir_.path() + QStringLiteral("/messages.log"); }

    void writeFile(const QString& name, const QByteArray& bytes) const;
    // The file's bytes; a null array when it does not exist.
    QByteArray readFile(const QString& name) const;
    bool exists(const QString& name) const;
    void remove(const QString& name) const;

    // The registry file: "InstPath" (left out when withInstPath is false) and
    // the port of the program's MSComm1.
    void writeRegistry(const QString& program, const QString& portName, bool withInstPath = true);

    // The messages a child process logged (POINTRA_MESSAGE_LOG).
    QStringList loggedMessages() const;

private:
    QTemporaryDir dir_;
};

// A script file for the simulator in the folder.
QString WriteScript(const Installation& inst, const QString& name, const QByteArray& text);

struct ProgramRun {
    bool finished = false; // ended by itself within the guard time
    int exitCode = -1;
    QString stderrText;
    long maxRssKb = 0; // the child's peak resident memory
};

// The build's bin/program run as a child process with the installation's
// registry file, QT_QPA_PLATFORM=offscreen and the message log. Started at
// once; wait() reaps it and takes its own resource use (wait4), so a test
// can bound the memory one run took.
class ChildProgram {
public:
    ChildProgram(const QString& program, const Installation& inst);
    ~ChildProgram(); // kills a child still running
    ChildProgram(const ChildProgram&) = delete;
    ChildProgram& operator=(const ChildProgram&) = delete;
    // Waits for the end, killing the child after guardMs (a guard against a
    // hang, not a timing assertion).
    ProgramRun wait(int guardMs = 30000);

private:
    QString program_;
    QString stderrPath_;
    int pid_ = -1;
};

// Starts the program and waits for it.
ProgramRun RunProgram(const QString& program, const Installation& inst, int guardMs = 30000);

// The peak memory a hostile input may cost a device program: about twice
// what a plain run takes (some 30 MB, most of it Qt). Not checked under
// AddressSanitizer, whose shadow memory says nothing about the program's own.
inline constexpr long kHostileRunMaxRssKb = 64 * 1024;
::testing::AssertionResult WithinMemoryBound(const ProgramRun& run);

// In-process tests of the Form1 classes: the registry file in force and the
// messages collected.
class InProcessFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    void useRegistry(const QString& program, const QString& portName, bool withInstPath = true);

    Installation inst;
    QStringList messages;
};

// The saved sketch, checked to be a 24-bit Windows bitmap of 400 x 400 pixels.
::testing::AssertionResult IsSketchBitmap(const QByteArray& bytes);
QImage LoadBitmap(const QByteArray& bytes);

// True when a pixel within `radius` of (x, y) is close to the colour.
bool HasColourNear(const QImage& image, int x, int y, const QColor& colour, int radius = 2);
// Pixels of the colour (closely) inside a rectangle.
int CountColour(const QImage& image, const QRect& area, const QColor& colour);

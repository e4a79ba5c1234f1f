#pragma once
// Shared set-up of the main-window tests: a temporary installation folder, a
// registry file pointing at it, and the messages the window shows.

#include "common/core/registry.h"
#include "common/ui/message.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "tablet_sim.h"

// Installation folder plus registry file; messages are collected.
class InstallationFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes the registry file with the given extra text after the Pointra key.
    void writeRegistry(const QString& instPathValue, const QString& extra = QString());
    QString instPath() const { return dir_.path() + QLatin1Char('/'); }

    QTemporaryDir dir_;
    QStringList messages;
    MsgAnswer answer = MsgAnswer::Yes;
};

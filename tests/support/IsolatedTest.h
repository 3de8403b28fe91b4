// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// A test with a private home: an empty settings location, its own TEMP folder and a
// scratch folder for output files. Nothing a test writes reaches the user's profile.
class IsolatedTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Root of this test's private tree.
    QString root() const { return m_root.path(); }
    // Where QSettings keeps this test's store.
    QString configDir() const;
    // The test's TEMP folder (temporary page copies, the update document).
    QString tempDir() const;
    // A fresh folder for output files.
    QString scratchDir() const;
    // The settings file as QSettings writes it, to plant corrupt contents.
    QString settingsFile() const;

private:
    QTemporaryDir m_root;
};

#pragma once
// The installation every program starts on: the registry file in force, the
// code page it names and the installation folder "InstPath". Each check says
// what is wrong in words a user can act on: which registry file was looked
// for (every place, in order), whether it is missing or unreadable, whether
// it holds no "InstPath", and whether that folder exists.

#include <QString>

// What keeps a program from starting on the registry file in force, as the
// message to show: the file could not be read (why, and where it is), or its
// "CodePage" names a code page other than CP932 and UTF-8. Empty when neither
// (also when there is no registry file: see CheckInstallation()).
QString RegistryStartProblem();

struct InstallationCheck {
    // "InstPath" with a trailing "/"; empty when problem is set.
    QString instPath;
    // Why the programs cannot start, for the user; empty when they can.
    QString problem;
};

// The whole start-up check, in this order: the registry file exists (else
// every place looked at is named), can be read and names a usable code page;
// "InstPath" is registered as a non-empty text; and it names a folder that
// exists.
InstallationCheck CheckInstallation();

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

// The registry's "InstPath" with the user's parts expanded, so that one
// system registry file gives each user a folder of their own: a leading "~"
// is $HOME, and $HOME, $XDG_DATA_HOME and $XDG_CONFIG_HOME (also written
// ${...}) are their values, the XDG ones defaulting to ~/.local/share and
// ~/.config as the XDG base directories say. Anything else stays as it is.
QString ExpandUserPath(const QString& text);

// The folder the working folder is made from at first start: runtm.cfg, the
// image folder 見積用画像/ and LUMO80 (a link to the installed size-input
// module). $POINTRA_TEMPLATE when set, else the installed template.
QString WorkingFolderTemplate();

struct InstallationCheck {
    // "InstPath" with a trailing "/"; empty when problem is set.
    QString instPath;
    // Why the programs cannot start, for the user; empty when they can.
    QString problem;
    // The installation is sound but another session holds the working
    // folder: nothing to install again.
    bool inUse = false;
};

// The whole start-up check, in this order: the registry file exists (else
// every place looked at is named), can be read and names a usable code page;
// "InstPath" is registered as a non-empty text; its folder (expanded, see
// ExpandUserPath) exists — a missing one under the user's home is made now,
// mode 0700, from the template — and is the user's own: no other user may
// write it (another user could plant links there, or replace the module the
// keypad road runs); and no other session of this user holds it: the
// process holds the working folder from here to its end (a lock the kernel
// gives back when the process ends, however it ends). Checking again in the
// same process finds the folder held by itself.
InstallationCheck CheckInstallation();

// The lock file of a working folder's session.
inline constexpr const char* kSessionLockName = ".session.lock";

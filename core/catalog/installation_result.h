#pragma once
// The result of duplicating or deleting an installation. Callers treat Done (0)
// as success and show the error sentence for anything else.
namespace mendly {

enum class InstallationResult : int {
    Done = 0,
    NoSuchEntry = 1,         // no entry of that name
    BuiltIn = 2,             // the entry or its folder is built-in
    SourceNotInstalled = 3,  // duplicating something that is not installed
    NameInUse = 4,
    NameNotAllowed = 5,      // validateInstallationName refused the new name
    CopyFailed = 6,
    DeleteRefused = 7,       // the folder may not be removed, or removing it failed
    CustomListFailed = 8,    // customlist.json could not be written
};

}  // namespace mendly

#pragma once
// The Qt front end is a module of its own (velmora-ui-qt.so), loaded the first time a window
// is needed. These are the names both sides agree on, and the loader the launcher calls.

#include <memory>
#include <string>
#include <vector>

#include "ui/user_interface.h"

// The module and the launcher must be of one interface: the loader asks the module for its
// version before it calls anything else, and refuses any other. Every change to what crosses
// between them (the functions below, UserInterface and everything it passes, the layouts of
// the types they share) raises kQtModuleInterfaceVersion.
constexpr int kQtModuleInterfaceVersion = 7;
using QtModuleInterfaceVersionFunction = int (*)();
constexpr char kQtModuleInterfaceVersionName[] = "VelmoraUiModuleInterfaceVersion";

// The module's two other exported functions. Create returns null when Qt cannot open a window here
// (no usable platform plugin, no display answering); a non-null result is given back to
// Destroy, never deleted by the caller.
using CreateQtUserInterfaceFunction = UserInterface* (*)(bool assumeYes);
using DestroyQtUserInterfaceFunction = void (*)(UserInterface*);
constexpr char kCreateQtUserInterfaceName[] = "velmora_create_qt_user_interface";
constexpr char kDestroyQtUserInterfaceName[] = "velmora_destroy_qt_user_interface";

// Where the module is looked for, in order: $VELMORA_QT_MODULE alone when it is set; else
// beside the launcher's executable (a build tree), then the folder it was installed to.
std::vector<std::wstring> QtModuleCandidates();

// Loads the module and makes its front end. Null, with the reasons in error, when no candidate
// loads or the module cannot open a window.
std::unique_ptr<UserInterface> LoadQtUserInterface(bool assumeYes, std::wstring& error);

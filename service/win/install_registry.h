// Registry work of the installation beyond the Service Control Manager: the
// service's event source under the Application log, the access rules of the
// "\\Security" key that holds the console's accounts, and those of the
// installed folders.
//
// Used by halvexa351's /INSTALL and /UNINSTALL and by the installer's custom
// action. Each call opens and closes its own keys; any thread.
#ifndef HALV_SERVICE_INSTALL_REGISTRY_H_
#define HALV_SERVICE_INSTALL_REGISTRY_H_

#include <windows.h>

#include <string>

#include "config_schema.h"

namespace halv {

// Key of the service's event source, relative to HKEY_LOCAL_MACHINE.
inline constexpr const char* kEventSourceKey = config::kEventSourceKey;
// The branch of the console's default permissions and user accounts, of
// this build's version.
inline const std::string& kSecurityKey = config::kSecurityKey;

// Registers the event source: EventMessageFile (REG_EXPAND_SZ) names
// `message_file`, the program that carries the message table, and
// TypesSupported allows error, warning and information entries. Returns 0 or
// the system error code.
DWORD RegisterEventSourceKey(const std::string& message_file);

// Deletes the event source's key. A missing key counts as success. Returns 0
// or the system error code.
DWORD RemoveEventSourceKey();

// Gives the "\\Security" key `security_key` (this build's by default) and
// every key beneath it an access list of its own that only Administrators
// and SYSTEM may read or write (full control, inherited by keys created
// beneath it later); entries inherited from above are dropped. The key and
// its "Users" subkey are created when missing, with that list from the
// start, so no user is ever written under a key others can read. Returns 0
// or the system error code.
DWORD RestrictSecurityKey(const std::string& security_key = kSecurityKey);

// Gives the folder `path` an access list of its own: full control for
// Administrators and SYSTEM, read and run for Users, inherited by the files
// and folders in it; entries inherited from above are dropped. Returns 0 or
// the system error code.
DWORD ProtectFolder(const std::wstring& path);

}  // namespace halv

#endif  // HALV_SERVICE_INSTALL_REGISTRY_H_

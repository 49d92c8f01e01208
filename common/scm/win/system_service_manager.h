// The Service Control Manager of this machine, through advapi32.
#ifndef HALV_COMMON_SCM_WIN_SYSTEM_SERVICE_MANAGER_H_
#define HALV_COMMON_SCM_WIN_SYSTEM_SERVICE_MANAGER_H_

#include "service_manager.h"

namespace halv {

// The local manager with its active database. Handles are SC_HANDLE values;
// error codes are GetLastError right after the failing call. The object is
// stateless and may be used from any thread.
ServiceManager& SystemServiceManager();

}  // namespace halv

#endif  // HALV_COMMON_SCM_WIN_SYSTEM_SERVICE_MANAGER_H_

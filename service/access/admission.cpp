// The listener's admission decisions.
#include "admission.h"

namespace halv::access {

Admission Admit(const AllowList* allowed, std::optional<std::int32_t> max_clients,
                std::string_view peer, std::size_t others) {
  if (allowed != nullptr && !allowed->Allows(peer)) return Admission::kNotAllowed;
  if (max_clients && others >= static_cast<std::size_t>(*max_clients)) return Admission::kTooMany;
  return Admission::kAccept;
}

}  // namespace halv::access

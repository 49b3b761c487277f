// Part and catalog routes not built yet: each answers not found.
#include "server/handlers.h"

namespace vorn {

Response handle_part(const Request&, std::string_view) { return not_found(); }
Response handle_part_embed(const Request&, std::string_view) { return not_found(); }
Response handle_components(const Request&, std::string_view) { return not_found(); }

}  // namespace vorn

// Desktop routes not built yet: each answers not found.
#include "server/handlers.h"

namespace vorn {

Response handle_apply(const Request&, std::string_view) { return not_found(); }
Response handle_apply_progress(const Request&, std::string_view) { return not_found(); }
Response handle_env(const Request&, std::string_view) { return not_found(); }
Response handle_libraries(const Request&, std::string_view) { return not_found(); }
Response handle_pick_folder(const Request&, std::string_view) { return not_found(); }
Response handle_pick_folder_result(const Request&, std::string_view) { return not_found(); }
Response handle_in_library(const Request&, std::string_view) { return not_found(); }
Response handle_suggest_path(const Request&, std::string_view) { return not_found(); }
Response handle_list_dirs(const Request&, std::string_view) { return not_found(); }

}  // namespace vorn

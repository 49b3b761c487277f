// Board routes not built yet: each answers not found.
#include "server/handlers.h"

namespace vorn {

Response handle_project_diff(const Request&, std::string_view) { return not_found(); }
Response handle_board(const Request&, std::string_view) { return not_found(); }
Response handle_project(const Request&, std::string_view) { return not_found(); }
Response handle_board_activity(const Request&, std::string_view) { return not_found(); }
Response handle_board_eda(const Request&, std::string_view) { return not_found(); }
Response handle_board_upaxis(const Request&, std::string_view) { return not_found(); }
Response handle_board_media(const Request&, std::string_view) { return not_found(); }
Response handle_board_hero(const Request&, std::string_view) { return not_found(); }
Response handle_org_avatar(const Request&, std::string_view) { return not_found(); }
Response handle_board_svg(const Request&, std::string_view) { return not_found(); }
Response handle_board_view_enrich(const Request&, std::string_view) { return not_found(); }
Response handle_board_view(const Request&, std::string_view) { return not_found(); }
Response handle_board_glb(const Request&, std::string_view) { return not_found(); }
Response handle_glb(const Request&, std::string_view) { return not_found(); }

}  // namespace vorn

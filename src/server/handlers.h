// Every route handler of the manager, declared in one place so that the route table can name
// them. Each subsystem defines its own handlers in its own folder. A handler gets the request and
// the rest of the path after its prefix (undecoded; empty for exact rows) and always answers.
#pragma once

#include <string_view>

#include "server/http.h"

namespace vorn {

using Handler = Response (*)(const Request&, std::string_view rest);

// Desktop access (src/desktop/).
Response handle_apply(const Request&, std::string_view);
Response handle_apply_progress(const Request&, std::string_view);
Response handle_env(const Request&, std::string_view);
Response handle_libraries(const Request&, std::string_view);
Response handle_pick_folder(const Request&, std::string_view);
Response handle_pick_folder_result(const Request&, std::string_view);
Response handle_in_library(const Request&, std::string_view);
Response handle_suggest_path(const Request&, std::string_view);
Response handle_list_dirs(const Request&, std::string_view);
Response handle_dest_state(const Request&, std::string_view);

// The page and its assets (src/server/asset_routes.cpp).
Response handle_index(const Request&, std::string_view);
Response handle_loader_gif(const Request&, std::string_view);
Response handle_model_viewer_js(const Request&, std::string_view);

// Platform client (src/platform/).
Response handle_components(const Request&, std::string_view);

// Parts (src/parts/).
Response handle_part(const Request&, std::string_view slug);
Response handle_part_embed(const Request&, std::string_view rest);

// Boards and projects (src/boards/).
Response handle_project_diff(const Request&, std::string_view);
Response handle_board(const Request&, std::string_view slug);
Response handle_project(const Request&, std::string_view slug);
Response handle_board_activity(const Request&, std::string_view slug);
Response handle_board_eda(const Request&, std::string_view slug);
Response handle_board_upaxis(const Request&, std::string_view slug);
Response handle_board_media(const Request&, std::string_view slug);
Response handle_board_hero(const Request&, std::string_view slug);
Response handle_org_avatar(const Request&, std::string_view org);
Response handle_board_svg(const Request&, std::string_view rest);
Response handle_board_view_enrich(const Request&, std::string_view rest);
Response handle_board_view(const Request&, std::string_view rest);
Response handle_board_glb(const Request&, std::string_view rest);
Response handle_glb(const Request&, std::string_view rest);

}  // namespace vorn

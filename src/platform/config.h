// Service addresses and file locations, read from the environment with built-in defaults.
// Each value is read once on first use and kept for the life of the process.
#pragma once

#include <string>

namespace vorn {

// Platform base URL (scheme + host [+ port], no trailing slash): VORN_PLATFORM_URL.
const std::string& platform_base_url();
// Host part of the platform base URL; decides which requests carry the API key.
const std::string& platform_host();
// Remote KiCad export service base URL: VORN_EXPORT_URL.
const std::string& export_service_url();
// Organisation site base URL: VORN_ORG_SITE_URL.
const std::string& org_site_url();
// API key file: VORN_API_KEY_FILE, default /var/run/vorn/api-key.
const std::string& api_key_file_path();

// Host of an http(s) URL ("" when the URL has none): lower-cased, without userinfo or port.
std::string url_host(std::string_view url);

}  // namespace vorn

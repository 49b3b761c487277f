// Board routes not built yet: each answers not found.
#include "server/handlers.h"

namespace vorn {


}  // namespace vorn

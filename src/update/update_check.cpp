#include "update/update_check.h"

namespace holwerk {

UpdateCheckStatus UpdateCheck(std::string& message, std::string& downloadPageUrl) {
    message.clear();
    downloadPageUrl.clear();
    return UpdateCheckStatus::None;
}

}  // namespace holwerk

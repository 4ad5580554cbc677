#include "ais/fields/message_tables.hpp"

namespace keelwave::ais {

FieldTable applicationLayout(const PayloadBits& /*bits*/, uint32_t /*type*/) {
    return {};
}

}  // namespace keelwave::ais

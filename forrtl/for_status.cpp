#include "for_status.h"

namespace forrtl {

Status status_of(unsigned number) {
    for (std::size_t i = 0; i < kMessageCatalogueSize; ++i) {
        if (status_number(kMessageCatalogue[i].code) == number) return kMessageCatalogue[i].code;
    }
    return make_status(SEV_SEVERE, number);
}

const char* catalogue_text(Status code) {
    for (std::size_t i = 0; i < kMessageCatalogueSize; ++i) {
        if (kMessageCatalogue[i].code == code) return kMessageCatalogue[i].text;
    }
    return nullptr;
}

}  // namespace forrtl

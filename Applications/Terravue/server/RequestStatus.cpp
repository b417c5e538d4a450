#include "Applications/Terravue/server/RequestStatus.h"

namespace terravue::server {

std::string_view RequestStatusText(RequestStatus status) noexcept {
  switch (status) {
    case RequestStatus::Ok:
      return "ok";
    case RequestStatus::BadPercentEscape:
      return "malformed percent escape";
    case RequestStatus::InvalidUtf8:
      return "text is not valid UTF-8";
    case RequestStatus::EmptyName:
      return "field without a name";
    case RequestStatus::DuplicateField:
      return "field sent twice";
    case RequestStatus::TooManyFields:
      return "too many fields";
    case RequestStatus::MissingField:
      return "required field missing";
    case RequestStatus::BadNumber:
      return "malformed number";
    case RequestStatus::BadPictureIndex:
      return "malformed picture numbering";
  }
  return "malformed request";
}

}  // namespace terravue::server

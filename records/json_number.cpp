#include "records/json_number.h"

namespace korv {

std::uint32_t toUnsigned32(const nlohmann::json& value) {
  if (value.is_number_float()) {
    const double number = value.get<double>();
    if (!(number > -1.0 && number < 4294967296.0)) {
      throw nlohmann::json::out_of_range::create(406, "number out of range", &value);
    }
    return static_cast<std::uint32_t>(number);
  }
  return value.get<std::uint32_t>();
}

}  // namespace korv

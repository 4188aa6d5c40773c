#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string_view>

#include "engine/TraceSettings.h"
#include "net/Resolver.h"

// The nine settings and the family as the JSON report and the saved trace
// both write them.
namespace SettingsJson {

nlohmann::ordered_json write(const TraceSettings &settings, AddressFamily family);
// The settings of a JSON object, or none when a member is missing, of the
// wrong type or out of its range.
std::optional<TraceSettings> read(const nlohmann::json &json);

const char *familyName(AddressFamily family);
std::optional<AddressFamily> familyNamed(std::string_view name);

} // namespace SettingsJson
